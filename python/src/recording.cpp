// Reading back a folder written by vyxgrab: its run.json when there is one,
// otherwise its frame_NNNNN.raw / .desc pairs in frame order.
#include "vyxrec/recording.h"

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "frame.h"
#include "vyxhost/locate.h"
#include "without_gil.h"

namespace lvtcam {

namespace py = pybind11;

namespace {

[[noreturn]] void raise(PyObject* type, const std::string& text) {
  PyErr_SetString(type, text.c_str());
  throw py::error_already_set();
}

// The reader's two failures as Python knows them.
template <class Read>
auto translated(Read read) {
  try {
    return read();
  } catch (const vyxrec::RecordingMissing& e) {
    raise(PyExc_FileNotFoundError, e.what());
  } catch (const vyxrec::RecordingDamaged& e) {
    raise(PyExc_ValueError, e.what());
  }
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

// The frame from its two files, checked by the reader so that a damaged recording cannot make
// the conversion read past the frame's bytes.
Frame loadFrame(const std::string& rawPath, const std::string& descPath, uint64_t index,
                std::optional<double> timestamp, const std::string& plugin) {
  vyxrec::RecordedFrame recorded;
  recorded.index = index;
  recorded.rawPath = rawPath;
  recorded.descriptionPath = descPath;
  vyxrec::DescribedFrame read = translated([&] { return vyxrec::readDescribedFrame(recorded); });
  vyxhost::Frame frame;
  frame.raw = std::move(read.raw);
  frame.description = read.description;
  frame.sequence = index;
  return Frame(converterFor(plugin), std::move(frame), timestamp);
}

}  // namespace

void bindRecording(py::module_& m) {
  m.def("_recording_entries", [](const std::string& dir) {
    py::list out;
    const vyxrec::Recording recording = translated([&] { return vyxrec::openRecording(dir); });
    for (const vyxrec::RecordedFrame& f : recording.frames)
      out.append(
          py::make_tuple(f.rawPath, f.descriptionPath, f.index,
                         f.stamp ? py::object(py::str(f.stamp->utc)) : py::object(py::none())));
    return out;
  });
  m.def("_load_frame", &loadFrame);
}

}  // namespace lvtcam
