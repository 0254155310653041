#include "vyxhost/locate.h"

#include <dlfcn.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

#include "vyxhost/vyxhost.h"

namespace vyxhost {

namespace {

std::string directoryOf(const std::string& file) {
  const auto slash = file.find_last_of('/');
  return slash == std::string::npos ? std::string(".") : file.substr(0, slash);
}

std::string runningProgram() {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return std::string();
  return std::string(buf, static_cast<size_t>(n));
}

std::string thisLibrary() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&findPlugin), &info) == 0 || info.dli_fname == nullptr)
    return std::string();
  return info.dli_fname;
}

bool isFile(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::vector<PluginCandidate> pluginCandidates(const std::string& explicitPath) {
  std::vector<PluginCandidate> places;
  places.push_back({"named by the caller", explicitPath});
  const char* env = std::getenv("LVT_PLUGIN");
  places.push_back({"LVT_PLUGIN", env != nullptr ? env : ""});
  const std::string program = runningProgram();
  places.push_back({"install location beside the program",
                    program.empty() ? std::string()
                                    : directoryOf(program) + "/" VYXHOST_BIN_TO_PLUGIN_DIR "/" +
                                          kPluginFileName});
  const std::string library = thisLibrary();
  // A loader linked statically into the program has no library of its own.
  places.push_back({"install location beside libvyxhost",
                    library.empty() || library == program
                        ? std::string()
                        : directoryOf(library) + "/vyx/" + kPluginFileName});
  places.push_back({"build tree", VYXHOST_BUILD_TREE_PLUGIN});
  return places;
}

std::string findPlugin(const std::string& explicitPath) {
  const auto places = pluginCandidates(explicitPath);
  // A file the user named is taken as given, so that a wrong name is reported as such.
  for (size_t i = 0; i < 2; ++i)
    if (!places[i].path.empty()) return places[i].path;
  for (size_t i = 2; i < places.size(); ++i)
    if (isFile(places[i].path)) return places[i].path;
  std::ostringstream why;
  why << "cannot find the camera plug-in " << kPluginFileName
      << "; name it with --plugin FILE or LVT_PLUGIN=FILE. Looked in:";
  for (size_t i = 2; i < places.size(); ++i)
    if (!places[i].path.empty()) why << "\n  " << places[i].path << " (" << places[i].where << ")";
  throw LoadError(why.str());
}

std::string describePluginSearch(const std::string& explicitPath) {
  std::string chosen;
  try {
    chosen = findPlugin(explicitPath);
  } catch (const LoadError&) {
  }
  std::ostringstream out;
  int n = 1;
  for (const auto& place : pluginCandidates(explicitPath)) {
    out << "  " << n++ << ". " << place.where << ": "
        << (place.path.empty() ? std::string("(not set)") : place.path);
    if (!place.path.empty() && place.path == chosen) out << "  <- will be loaded";
    out << "\n";
  }
  if (chosen.empty()) out << "  (none of these exists)\n";
  return out.str();
}

}  // namespace vyxhost
