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

// Whether path lies inside the build tree this loader was built in (as configured, or with its
// symbolic links resolved).
bool inBuildTree(const std::string& path) {
  if (path.empty()) return false;
  auto under = [&path](const std::string& dir) {
    return !dir.empty() && path.size() > dir.size() && path.compare(0, dir.size(), dir) == 0 &&
           path[dir.size()] == '/';
  };
  if (under(VYXHOST_BUILD_TREE)) return true;
  char resolved[PATH_MAX];
  return ::realpath(VYXHOST_BUILD_TREE, resolved) != nullptr && under(resolved);
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
  // Only a program or loader that runs from the build tree looks there: an installed one must not
  // pick up (or even mention) a build that happens to still exist.
  const bool fromBuildTree = inBuildTree(program) || inBuildTree(library);
  places.push_back({"build tree", fromBuildTree ? VYXHOST_BUILD_TREE_PLUGIN : ""});
  return places;
}

namespace {

// The index of the candidate that is loaded, or places.size() when none exists.
size_t chosenCandidate(const std::vector<PluginCandidate>& places) {
  // A file the user named is taken as given, so that a wrong name is reported as such.
  for (size_t i = 0; i < 2; ++i)
    if (!places[i].path.empty()) return i;
  for (size_t i = 2; i < places.size(); ++i)
    if (isFile(places[i].path)) return i;
  return places.size();
}

}  // namespace

std::string findPlugin(const std::string& explicitPath) {
  const auto places = pluginCandidates(explicitPath);
  const size_t chosen = chosenCandidate(places);
  if (chosen < places.size()) return places[chosen].path;
  std::ostringstream why;
  why << "cannot find the camera plug-in " << kPluginFileName
      << "; name it with --plugin FILE or LVT_PLUGIN=FILE. Looked in:";
  for (size_t i = 2; i < places.size(); ++i)
    if (!places[i].path.empty()) why << "\n  " << places[i].path << " (" << places[i].where << ")";
  throw LoadError(why.str());
}

std::string describePluginSearch(const std::string& explicitPath) {
  const auto places = pluginCandidates(explicitPath);
  // Marked by its place, not its name: two places can name the same file (an installed program
  // and its libvyxhost share lib/vyx/), and only the first is the one loaded.
  const size_t chosen = chosenCandidate(places);
  std::ostringstream out;
  for (size_t i = 0; i < places.size(); ++i) {
    const PluginCandidate& place = places[i];
    out << "  " << i + 1 << ". " << place.where << ": "
        << (place.path.empty() ? std::string("(not set)") : place.path);
    if (i == chosen) out << "  <- will be loaded";
    out << "\n";
  }
  if (chosen == places.size()) out << "  (none of these exists)\n";
  return out.str();
}

}  // namespace vyxhost
