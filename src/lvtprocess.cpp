// Opening processing instances and telling what they can produce.
#include "lvtprocess.h"

#include "rawformat.h"
#include "refusal.h"
#include "vyxplugin.h"

std::map<unsigned int, processlvt::PluginData> g_pdata;
std::atomic<uint32_t> g_pdid{1};

extern "C" bool pidOk(unsigned int id) {
  const lvt::RegistryLock lock(lvt::registryMutex());
  return g_pdata.find(id) != g_pdata.end();
}

namespace processlvt {

int imageTypeFor(uint32_t outputType) {
  switch (outputType) {
    case VYX_TYPE_10001:
      return 1;
    case VYX_TYPE_10002:
    case VYX_TYPE_10004:
      return 2;
    case VYX_TYPE_10020:
      return 8;
    case VYX_TYPE_10040:
      return 9;
    case VYX_TYPE_10080:
      return 10;
    default:
      return -1;
  }
}

}  // namespace processlvt

using processlvt::instanceOf;
using processlvt::processingGuarded;

extern "C" int vyxpInitProcessingPlugin(unsigned int handle, const char* /*param*/) {
  return processingGuarded(0, [&]() -> int {
    if (pidOk(handle)) lvt::refuse(VYX_INVALID_VALUE, "handle already exists");
    const lvt::RegistryLock lock(lvt::registryMutex());
    g_pdata.emplace(handle, processlvt::PluginData());
    return VYX_OK;
  });
}

extern "C" int vyxpConfigureProcess(unsigned int id, char* /*result*/, size_t /*maxLen*/,
                                    const char* /*cmd*/) {
  return processingGuarded(id, [&]() -> int {
    instanceOf(id);
    lvt::refuse(VYX_NOT_SUPPORTED, "command not available");
  });
}

extern "C" int vyxpCanProcess(unsigned int id, int* result, unsigned int type, unsigned int numFmt,
                              DataDescription* fmt) {
  return processingGuarded(id, [&]() -> int {
    instanceOf(id);
    lvt::requireArgument(result);
    if (numFmt > 0) lvt::requireArgument(fmt);
    const int imageType = processlvt::imageTypeFor(type);
    *result = -1;
    if (imageType < 0) return VYX_OK;
    const uint32_t bit = 1u << imageType;
    for (unsigned int i = 0; i < numFmt; ++i) {
      const DataDescription& d = fmt[i];
      if (!lvt::isRawFrame(d.type) || (d.std.subType & bit) == 0) continue;
      const uint64_t pixels = uint64_t{d.std.numColumns} * d.std.numRows;
      // A size the result cannot hold cannot be produced either (tested on
      // the pixels: four times them may wrap even in 64 bits).
      *result = pixels > uint64_t{INT32_MAX / 4} ? -1 : static_cast<int>(pixels * 4u);
      break;
    }
    return VYX_OK;
  });
}
