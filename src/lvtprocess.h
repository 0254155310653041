// The processing plug-in's instance record and registry.
#ifndef LVT_LVTPROCESS_H
#define LVT_LVTPROCESS_H

#include <cstdint>
#include <map>
#include <string>

namespace processlvt {

struct PluginData {
  std::string errorMessage;
};

// The camera image type an output type is taken from, or -1 for an output
// type this plug-in does not produce.
int imageTypeFor(uint32_t outputType);

}  // namespace processlvt

extern std::map<unsigned int, processlvt::PluginData> g_pdata;
extern uint32_t g_pdid;

extern "C" __attribute__((visibility("default"))) bool pidOk(unsigned int id);

#endif
