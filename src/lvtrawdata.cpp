// Handing the latest frame and its description to the host.
#include <cstring>

#include "lvtinternal.h"
#include "rawformat.h"
#include "vyxplugin.h"

extern "C" int vyxpGetRawDataSize(unsigned int id, size_t* result) {
  return vyxlvt::withSourceRecord(id, result, [&](vyxlvt::PluginData& dat) {
    *result = dat.data.size();
    return VYX_OK;
  });
}

extern "C" int vyxpGetRawData(unsigned int id, void* result) {
  return vyxlvt::withSourceRecord(id, result, [&](vyxlvt::PluginData& dat) {
    if (!dat.data.empty()) std::memcpy(result, dat.data.data(), dat.data.size());
    return VYX_OK;
  });
}

extern "C" int vyxpGetRawDataDescription(unsigned int id, VYXDataDescription* result) {
  return vyxlvt::withSourceRecord(id, result, [&](vyxlvt::PluginData& dat) {
    VYXDataDescription rdd;
    std::memset(&rdd, 0, sizeof rdd);  // reserved and userData0 are never assigned
    const auto type = lvt::rawTypeForVersion(dat.version);
    if (!type) lvt::refuse(VYX_NOT_SUPPORTED, "unknown raw data format");
    rdd.type = *type;
    rdd.subHeaderType = VYX_SUBHEADER_IMAGE;
    rdd.std.numSubImages = 0;
    rdd.std.subType = 0;
    for (int t : dat.imageTypes) rdd.std.subType |= 1u << (static_cast<uint32_t>(t) & 31u);
    rdd.std.numColumns = lvtwire::kColumns;
    rdd.std.numRows = lvtwire::kRows;
    const int32_t times[4] = {dat.itime0, dat.itime1, -1, -1};
    constexpr auto frequency = static_cast<int32_t>(lvtwire::kModulationFrequencyHz);
    const int32_t frequencies[4] = {frequency, frequency, -1, -1};
    std::memcpy(rdd.std.integrationTime, times, sizeof times);
    std::memcpy(rdd.std.modulationFrequency, frequencies, sizeof frequencies);
    rdd.std.pixelAspectRatio = 1000;
    rdd.std.pixelOrigin = 1;
    rdd.std.timeStampHi = 0;
    rdd.std.timeStampLo = 0;
    rdd.size = static_cast<uint32_t>(dat.data.size());
    rdd.PID = id;
    rdd.DID = g_did;
    std::memcpy(result, &rdd, sizeof rdd);
    return VYX_OK;
  });
}
