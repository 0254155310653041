// Reading back a folder written by vyxgrab: its run.json when there is one,
// otherwise its frame_NNNNN.raw / .desc pairs in frame order.
#include <dirent.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "frame.h"
#include "run_manifest.h"
#include "vyxhost/locate.h"
#include "without_gil.h"

namespace lvtcam {

namespace py = pybind11;

namespace {

struct Entry {
  std::string raw, description;
  uint64_t index;
  std::optional<std::string> utc;  // ISO 8601 when the manifest says when
};

[[noreturn]] void raise(PyObject* type, const std::string& text) {
  PyErr_SetString(type, text.c_str());
  throw py::error_already_set();
}

std::string join(const std::string& dir, const std::string& name) { return dir + "/" + name; }

std::vector<Entry> bareFrameFiles(const std::string& dir) {
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) raise(PyExc_FileNotFoundError, "cannot read the recording folder " + dir);
  static const std::regex rawName(R"(frame_(\d+)\.raw)");
  std::vector<Entry> entries;
  while (const dirent* e = ::readdir(d)) {
    std::smatch match;
    const std::string name = e->d_name;
    if (!std::regex_match(name, match, rawName)) continue;
    const std::string stem = name.substr(0, name.size() - 4);
    entries.push_back({join(dir, name), join(dir, stem + ".desc"), std::stoull(match[1]), {}});
  }
  ::closedir(d);
  std::sort(entries.begin(), entries.end(),
            [](const Entry& a, const Entry& b) { return a.index < b.index; });
  return entries;
}

std::vector<Entry> recordingEntries(const std::string& dir) {
  if (!vyxrec::hasManifest(dir)) {
    std::vector<Entry> entries = bareFrameFiles(dir);
    if (entries.empty())
      raise(PyExc_ValueError, dir + " holds no recording: neither " + vyxrec::kManifestName +
                                  " nor frame_*.raw files");
    return entries;
  }
  vyxrec::Manifest manifest;
  try {
    manifest = vyxrec::readManifest(dir);
  } catch (const std::exception& e) {
    raise(PyExc_ValueError, e.what());
  }
  std::vector<Entry> entries;
  for (const vyxrec::FrameEntry& f : manifest.frames)
    entries.push_back({join(dir, f.raw), join(dir, f.description), f.index, f.stamp.utc});
  return entries;
}

std::vector<uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) raise(PyExc_FileNotFoundError, "cannot read " + path);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// One converter per plug-in file for every recording read in the process. Made without the GIL:
// it waits at the plug-in's gate.
std::shared_ptr<const vyxhost::FrameConverter> converterFor(const std::string& pluginPath) {
  return withoutGil([&] {
    static std::mutex mutex;
    static auto* converters =  // never destroyed: frames may outlive the interpreter's modules
        new std::map<std::string, std::shared_ptr<const vyxhost::FrameConverter>>;
    const std::string path = vyxhost::findPlugin(pluginPath);
    const std::lock_guard<std::mutex> lock(mutex);
    std::shared_ptr<const vyxhost::FrameConverter>& converter = (*converters)[path];
    if (!converter)
      converter = std::make_shared<const vyxhost::FrameConverter>(vyxhost::sharedPlugin(path));
    return converter;
  });
}

// The frame from its two files, checked so that a damaged recording cannot
// make the conversion read past the frame's bytes.
Frame loadFrame(const std::string& rawPath, const std::string& descPath, uint64_t index,
                std::optional<double> timestamp, const std::string& plugin) {
  const std::vector<uint8_t> desc = readFile(descPath);
  if (desc.size() != sizeof(VYXDataDescription))
    raise(PyExc_ValueError, descPath + " holds " + std::to_string(desc.size()) +
                                " bytes; a frame description has " +
                                std::to_string(sizeof(VYXDataDescription)));
  vyxhost::Frame frame;
  frame.raw = readFile(rawPath);
  std::memcpy(&frame.description, desc.data(), desc.size());
  if (frame.description.size != frame.raw.size())
    raise(PyExc_ValueError, rawPath + " holds " + std::to_string(frame.raw.size()) +
                                " bytes but its description says " +
                                std::to_string(frame.description.size));
  frame.sequence = index;
  return Frame(converterFor(plugin), std::move(frame), timestamp);
}

}  // namespace

void bindRecording(py::module_& m) {
  m.def("_recording_entries", [](const std::string& dir) {
    py::list out;
    for (const Entry& e : recordingEntries(dir))
      out.append(py::make_tuple(e.raw, e.description, e.index,
                                e.utc ? py::object(py::str(*e.utc)) : py::object(py::none())));
    return out;
  });
  m.def("_load_frame", &loadFrame);
}

}  // namespace lvtcam
