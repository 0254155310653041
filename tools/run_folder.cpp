#include "run_folder.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <stdexcept>

#include "vyxrec/file_output.h"
#include "vyxrec/frame_file_names.h"
#include "vyxrec/run_manifest.h"

namespace vyxgrab {

namespace {

// Only plain names inside the folder: a manifest must not make us remove anything else.
bool plainName(const std::string& name) {
  return !name.empty() && name.find('/') == std::string::npos && name != "." && name != "..";
}

void removeFile(const std::string& path) {
  if (std::remove(path.c_str()) != 0 && errno != ENOENT)
    throw std::runtime_error("cannot remove " + path + ": " + std::strerror(errno));
}

}  // namespace

size_t claimRunFolder(const std::string& dir, bool overwrite) {
  vyxrec::makeDirectories(dir);
  if (!vyxrec::hasManifest(dir)) return 0;
  const std::string manifest = vyxrec::manifestPath(dir);
  vyxrec::Manifest old;
  try {
    old = vyxrec::readManifest(dir);
  } catch (const std::runtime_error& e) {
    throw std::runtime_error(dir + " already holds a run whose manifest cannot be read (" +
                             e.what() + "); choose another --out or remove that folder");
  }
  if (!overwrite) {
    throw std::runtime_error(
        dir + " already holds another run (" + manifest + ": " + std::to_string(old.frames.size()) +
        " frames by " + old.run.tool + " from " + old.run.address +
        "); choose another --out, or add --overwrite to remove that run first");
  }
  std::set<std::string> names;
  for (const vyxrec::FrameEntry& f : old.frames) {
    names.insert(f.raw);
    names.insert(f.description);
    names.insert(f.files.begin(), f.files.end());
  }
  size_t removed = 0;
  for (const std::string& name : names) {
    if (!plainName(name)) continue;
    removeFile(vyxrec::joinPath(dir, name));
    ++removed;
  }
  removeFile(manifest);
  return removed + 1;
}

}  // namespace vyxgrab
