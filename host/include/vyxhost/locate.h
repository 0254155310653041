// Where the camera plug-in object is found. Every tool and binding looks in
// the same places, in this order:
//   1. the file the user named (--plugin FILE, plugin=...),
//   2. the environment variable LVT_PLUGIN,
//   3. the install location beside the running program (<bin>/../lib/vyx/),
//   4. the install location beside this loader library (<libdir>/vyx/),
//   5. the build tree this loader was built in, only for a program or loader that runs from
//      there (an installed one neither looks there nor lists it).
#ifndef VYXHOST_LOCATE_H
#define VYXHOST_LOCATE_H

#include <string>
#include <vector>

namespace vyxhost {

// The file name every host looks for.
constexpr const char* kPluginFileName = "lvt.L32.vcp";

struct PluginCandidate {
  std::string where;  // "--plugin", "LVT_PLUGIN", "beside the program", ...
  std::string path;   // empty when that place does not apply (no variable set, ...)
};

// The places in search order; explicitPath is what the user named, or "".
std::vector<PluginCandidate> pluginCandidates(const std::string& explicitPath = "");

// The first candidate that exists. A path the user named, or LVT_PLUGIN, is
// taken as given even when it does not exist, so that loading it reports
// that file. Throws LoadError naming every place looked at when none exists.
std::string findPlugin(const std::string& explicitPath = "");

// The search order as lines for --help, marking the one place whose file would be loaded.
std::string describePluginSearch(const std::string& explicitPath = "");

}  // namespace vyxhost

#endif
