// Integration times and the modulation frequency.
#include "lvtinternal.h"
#include "vyxplugin.h"

namespace {

constexpr unsigned int kMaxIntegrationTime = 5000;  // microseconds; 1 is the shortest

constexpr const char* kNoIntegrationTime = "requested integration time does not exist";
constexpr const char* kNoModulationFrequency = "requested modulation frequency does not exist";

int fail(vyxlvt::PluginData& dat, const char* text, int code) {
  dat.errorMessage = text;
  return code;
}

}  // namespace

extern "C" int vyxpGetIntegrationTime(unsigned int id, unsigned int* result, unsigned int idx) {
  return vyxlvt::withSourceRecord(id, result, [&](vyxlvt::PluginData& dat) {
    if (idx > 1) return fail(dat, kNoIntegrationTime, VYX_NOT_AVAILABLE);
    *result = static_cast<unsigned int>(dat.frontendData[idx == 0 ? 4 : 5]);
    return VYX_OK;
  });
}

extern "C" int vyxpSetIntegrationTime(unsigned int id, unsigned int idx, unsigned int val) {
  return vyxlvt::withSourceRecord(id, [&](vyxlvt::PluginData& dat) {
    if (!dat.xmlRpc) {  // the error slot has no camera to write to
      vyxlvt::setErrorSlot("");
      return VYX_INVALID_HANDLE;
    }
    if (idx > 1) return fail(dat, kNoIntegrationTime, VYX_NOT_AVAILABLE);
    if (val == 0) return fail(dat, "integration time too short", VYX_INVALID_VALUE);
    if (val > kMaxIntegrationTime) return fail(dat, "integration time too long", VYX_INVALID_VALUE);
    dat.frontendData[idx == 0 ? 4 : 5] = static_cast<int32_t>(val);
    try {
      vyxlvt::setFrontendData(id);
    } catch (...) {
      dat.errorMessage.clear();
      return VYX_RUNTIME_ERROR;
    }
    return VYX_OK;
  });
}

extern "C" int vyxpGetValidIntegrationTime(unsigned int id, unsigned int* result,
                                           unsigned int index, Proximity proximity,
                                           unsigned int us) {
  return vyxlvt::withSourceRecord(id, result, [&](vyxlvt::PluginData& dat) {
    if (index > 1) return fail(dat, kNoIntegrationTime, VYX_NOT_AVAILABLE);
    if (us >= 1 && us <= kMaxIntegrationTime) {
      *result = us;
      return VYX_OK;
    }
    if (us > kMaxIntegrationTime && proximity != AtLeast) {
      *result = kMaxIntegrationTime;
      return VYX_OK;
    }
    if (us == 0 && proximity != AtMost) {
      *result = 1;
      return VYX_OK;
    }
    return fail(dat, "requested integration time is out of range", VYX_NOT_AVAILABLE);
  });
}

extern "C" int vyxpGetModulationFrequency(unsigned int id, unsigned int* result, unsigned int idx) {
  return vyxlvt::withSourceRecord(id, result, [&](vyxlvt::PluginData& dat) {
    if (idx > 1) return fail(dat, kNoModulationFrequency, VYX_NOT_AVAILABLE);
    *result = vyxlvt::validModulationFrequencies[0];
    return VYX_OK;
  });
}

extern "C" int vyxpSetModulationFrequency(unsigned int id, unsigned int /*idx*/, unsigned int val) {
  return vyxlvt::withSourceRecord(id, [&](vyxlvt::PluginData& dat) {
    if (val == vyxlvt::validModulationFrequencies[0]) return VYX_OK;
    return fail(dat, "camera does not support configuration of the modulation frequency",
                VYX_NOT_SUPPORTED);
  });
}

extern "C" int vyxpGetValidModulationFrequency(unsigned int id, unsigned int* result,
                                               unsigned int index, Proximity proximity,
                                               unsigned int hz) {
  return vyxlvt::withSourceRecord(id, result, [&](vyxlvt::PluginData& dat) {
    const unsigned int f = vyxlvt::validModulationFrequencies[0];
    if (index > 1) return fail(dat, kNoModulationFrequency, VYX_NOT_AVAILABLE);
    if (hz == f || (hz > f && (proximity == AtMost || proximity == CloseTo)) ||
        (hz < f && (proximity == AtLeast || proximity == CloseTo))) {
      *result = f;
      return VYX_OK;
    }
    return fail(dat, "requested modulation frequency is out of range", VYX_NOT_AVAILABLE);
  });
}
