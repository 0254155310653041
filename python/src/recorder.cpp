#include "recorder.h"

#include <pybind11/numpy.h>

#include "frame.h"
#include "vyxrec/recording_error.h"
#include "without_gil.h"

namespace lvtcam {

namespace py = pybind11;

vyxrec::ros2::CameraInfo cameraInfoOf(const vyxhost::LensModel& lens, const std::string& frameId) {
  return vyxrec::ros2::pinholeCameraInfo(frameId, static_cast<uint32_t>(lens.width),
                                         static_cast<uint32_t>(lens.height), lens.fx, lens.fy,
                                         lens.cx, lens.cy, lens.distortion);
}

Recorder::Recorder(const std::string& path, const std::string& manifestJson,
                   const std::string& camera, const vyxhost::LensModel& lens)
    : path_(path), info_(cameraInfoOf(lens, camera)) {
  withoutGil([&] {
    recorder_ = std::make_unique<vyxrec::McapRecorder>(path, manifestJson);
    camera_ = recorder_->addCamera(camera);
  });
}

void Recorder::record(Frame& frame) {
  if (!recorder_) throw py::value_error("the recording " + path_ + " is closed");
  const vyxhost::Frame& data = frame.data();
  // Converted with the GIL held only to make the arrays; the frame keeps them for its user.
  py::object distance = frame.image("distance");
  py::object amplitude = frame.image("amplitude");
  vyxrec::RecorderFrame f;
  f.stampNs = static_cast<uint64_t>(data.utcNs);
  f.description = &data.description;
  f.raw = data.raw.data();
  f.rawSize = data.raw.size();
  f.width = frame.columns();
  f.height = frame.rows();
  if (!distance.is_none()) f.distance = py::array_t<float>(distance).data();
  if (!amplitude.is_none()) f.amplitude = py::array_t<float>(amplitude).data();
  std::string failure;
  withoutGil([&] {
    const std::lock_guard<std::mutex> lock(mutex_);
    try {
      info_.stampNs = f.stampNs;
      recorder_->cameraInfo(camera_, info_);
      recorder_->record(camera_, f);
      ++frames_;
    } catch (const vyxrec::RecordingError& e) {
      // The file is closed properly with what it holds; the reason is its last record.
      failure = e.what();
      recorder_->fail(failure, "{\"frames\": " + std::to_string(frames_) + "}");
      recorder_.reset();
    }
  });
  if (!failure.empty()) {
    PyErr_SetString(PyExc_OSError, ("recording stopped: " + failure).c_str());
    throw py::error_already_set();
  }
}

void Recorder::finish(const std::string& countersJson) {
  withoutGil([&] {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!recorder_) return;
    auto recorder = std::move(recorder_);
    recorder->finish(countersJson);
  });
}

void Recorder::fail(const std::string& reason, const std::string& countersJson) {
  withoutGil([&] {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!recorder_) return;
    auto recorder = std::move(recorder_);
    recorder->fail(reason, countersJson);
  });
}

void bindRecorder(py::module_& m) {
  py::class_<Recorder, std::shared_ptr<Recorder>>(m, "_Recorder")
      .def("finish", &Recorder::finish)
      .def("fail", &Recorder::fail)
      .def_property_readonly("closed", &Recorder::closed)
      .def_property_readonly("frames", &Recorder::frames)
      .def_property_readonly("path", &Recorder::path);
}

}  // namespace lvtcam
