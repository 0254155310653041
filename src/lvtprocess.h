// The processing plug-in's instance record and registry.
#ifndef LVT_LVTPROCESS_H
#define LVT_LVTPROCESS_H

#include <atomic>
#include <cstdint>
#include <map>
#include <string>

#include "boundary.h"

namespace processlvt {

struct PluginData {
  std::string errorMessage;
};

// The camera image type an output type is taken from, or -1 for an output
// type this plug-in does not produce.
int imageTypeFor(uint32_t outputType);

}  // namespace processlvt

extern std::map<unsigned int, processlvt::PluginData> g_pdata;
extern std::atomic<uint32_t> g_pdid;  // conversions on several threads each take their own

extern "C" __attribute__((visibility("default"))) bool pidOk(unsigned int id);

namespace processlvt {

// The barrier for processing entry points: a refusal or an unexpected failure
// is reported under the instance if the handle is open, else in the
// processing error slot (handle 0).
template <typename Body>
int processingGuarded(unsigned int id, Body&& body) noexcept {
  return lvt::guarded(body, [id](const char* text) { lvt::storeText(g_pdata, id, text); });
}

// The instance a handle names; an unknown handle is refused.
inline PluginData& instanceOf(unsigned int id) { return lvt::recordOf(g_pdata, id); }

}  // namespace processlvt

#endif
