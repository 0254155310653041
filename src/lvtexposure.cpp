// Integration times and the modulation frequency.
#include "lvtinternal.h"
#include "vyxplugin.h"

namespace {

constexpr unsigned int kMaxIntegrationTime = 5000;  // microseconds; 1 is the shortest

constexpr const char* kNoIntegrationTime = "requested integration time does not exist";
constexpr const char* kNoModulationFrequency = "requested modulation frequency does not exist";

// Where integration time 0 or 1 lives in the front-end settings block.
size_t itimeWord(unsigned int idx) {
  return idx == 0 ? lvtwire::frontend::kItime0 : lvtwire::frontend::kItime1;
}

}  // namespace

extern "C" int vyxpGetIntegrationTime(unsigned int id, unsigned int* result, unsigned int idx) {
  return vyxlvt::withSourceRecord(id, result, [&](vyxlvt::PluginData& dat) {
    if (idx > 1) lvt::refuse(VYX_NOT_AVAILABLE, kNoIntegrationTime);
    *result = static_cast<unsigned int>(dat.frontendData[itimeWord(idx)]);
    return VYX_OK;
  });
}

extern "C" int vyxpSetIntegrationTime(unsigned int id, unsigned int idx, unsigned int val) {
  return vyxlvt::withSourceRecord(id, [&](vyxlvt::PluginData& dat) {
    vyxlvt::cameraOf(id);  // the error slot has no camera to write to
    if (idx > 1) lvt::refuse(VYX_NOT_AVAILABLE, kNoIntegrationTime);
    if (val == 0) lvt::refuse(VYX_INVALID_VALUE, "integration time too short");
    if (val > kMaxIntegrationTime) lvt::refuse(VYX_INVALID_VALUE, "integration time too long");
    dat.frontendData[itimeWord(idx)] = static_cast<int32_t>(val);
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
  return vyxlvt::withSourceRecord(id, result, [&](vyxlvt::PluginData& /*dat*/) {
    if (index > 1) lvt::refuse(VYX_NOT_AVAILABLE, kNoIntegrationTime);
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
    lvt::refuse(VYX_NOT_AVAILABLE, "requested integration time is out of range");
  });
}

extern "C" int vyxpGetModulationFrequency(unsigned int id, unsigned int* result, unsigned int idx) {
  return vyxlvt::withSourceRecord(id, result, [&](vyxlvt::PluginData& /*dat*/) {
    if (idx > 1) lvt::refuse(VYX_NOT_AVAILABLE, kNoModulationFrequency);
    *result = vyxlvt::validModulationFrequencies[0];
    return VYX_OK;
  });
}

extern "C" int vyxpSetModulationFrequency(unsigned int id, unsigned int /*idx*/, unsigned int val) {
  return vyxlvt::withSourceRecord(id, [&](vyxlvt::PluginData& /*dat*/) {
    if (val == vyxlvt::validModulationFrequencies[0]) return VYX_OK;
    lvt::refuse(VYX_NOT_SUPPORTED,
                "camera does not support configuration of the modulation frequency");
  });
}

extern "C" int vyxpGetValidModulationFrequency(unsigned int id, unsigned int* result,
                                               unsigned int index, Proximity proximity,
                                               unsigned int hz) {
  return vyxlvt::withSourceRecord(id, result, [&](vyxlvt::PluginData& /*dat*/) {
    const unsigned int f = vyxlvt::validModulationFrequencies[0];
    if (index > 1) lvt::refuse(VYX_NOT_AVAILABLE, kNoModulationFrequency);
    if (hz == f || (hz > f && (proximity == AtMost || proximity == CloseTo)) ||
        (hz < f && (proximity == AtLeast || proximity == CloseTo))) {
      *result = f;
      return VYX_OK;
    }
    lvt::refuse(VYX_NOT_AVAILABLE, "requested modulation frequency is out of range");
  });
}
