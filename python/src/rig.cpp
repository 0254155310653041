#include "rig.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <chrono>
#include <thread>
#include <utility>

#include "camera.h"
#include "frame.h"
#include "recorder.h"
#include "vyxhost/output_types.h"
#include "vyxrec/recording_error.h"
#include "without_gil.h"

namespace lvtcam {

namespace py = pybind11;

namespace {

// Matched tuples waiting for Python; beyond them the threads wait before grabbing again, so
// frames are taken only as fast as they are used (and no camera's frames pile up).
constexpr size_t kMaxReady = 8;

uint32_t typeCode(const char* name) { return vyxhost::findOutputType(name)->code; }

// The image converted into pixels, or pixels left empty when the frame holds none.
void convertInto(const vyxhost::Camera& session, const vyxhost::Frame& frame, uint32_t code,
                 std::vector<float>& pixels) {
  pixels.clear();
  const int bytes = session.imageBytes(code, frame);
  const size_t expected = size_t{frame.description.std.numRows} * frame.description.std.numColumns;
  if (bytes <= 0 || static_cast<size_t>(bytes) != expected * sizeof(float)) return;
  pixels.resize(expected);
  vyxhost::ImageShape shape;
  if (!session.convert(code, frame, pixels.data(), static_cast<size_t>(bytes), &shape) ||
      shape.pixels() != expected)
    pixels.clear();
}

py::object arrayOf(const std::vector<float>& pixels, uint32_t rows, uint32_t columns) {
  if (pixels.empty()) return py::none();
  py::array_t<float> out({static_cast<py::ssize_t>(rows), static_cast<py::ssize_t>(columns)});
  std::copy(pixels.begin(), pixels.end(), out.mutable_data());
  return std::move(out);
}

}  // namespace

struct Rig::Shared {
  explicit Shared(size_t cameras, int64_t periodNs) : matcher(cameras, periodNs) {}

  std::mutex mutex;  // the fields up to the recording's
  std::condition_variable changed;
  vyxhost::FrameMatcher<Grabbed> matcher;
  bool stopping = false;
  size_t running = 0;
  std::optional<size_t> failedCamera;
  std::exception_ptr failure;
  std::string recordFailure;  // the first write that failed

  // Shared by threads recording a frame, taken whole to open or close the recording.
  std::shared_mutex recordLock;
  std::unique_ptr<vyxrec::McapRecorder> recorder;
  std::vector<int> handles;
  std::vector<vyxrec::ros2::CameraInfo> infos;  // entry i touched only by camera i's thread
};

Rig::Rig(const std::vector<std::shared_ptr<Camera>>& cameras, std::vector<std::string> names,
         double periodSeconds)
    : names_(std::move(names)) {
  if (cameras.empty() || cameras.size() != names_.size())
    throw py::value_error("a rig needs one name per camera");
  for (const std::shared_ptr<Camera>& camera : cameras) {
    sessions_.push_back(camera->sharedSession());
    depths_.push_back(camera->depth());
  }
  shared_ = std::make_shared<Shared>(cameras.size(), static_cast<int64_t>(periodSeconds * 1e9));
}

Rig::~Rig() {
  // Never waits here: the threads hold what they use and end on their own.
  {
    const std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->stopping = true;
  }
  shared_->changed.notify_all();
}

void Rig::start() {
  if (started_) return;
  started_ = true;
  const std::lock_guard<std::mutex> lock(shared_->mutex);
  for (size_t i = 0; i < sessions_.size(); ++i) {
    ++shared_->running;
    std::thread(grabLoop, shared_, sessions_[i], i).detach();
  }
}

void Rig::stop() {
  Shared& s = *shared_;
  {
    const std::lock_guard<std::mutex> lock(s.mutex);
    s.stopping = true;
  }
  s.changed.notify_all();
  withoutGil([&] {
    std::unique_lock<std::mutex> lock(s.mutex);
    s.changed.wait_for(lock, std::chrono::milliseconds(1500), [&] { return s.running == 0; });
  });
}

void Rig::grabLoop(const std::shared_ptr<Shared>& shared,
                   const std::shared_ptr<vyxhost::Camera>& session, size_t camera) {
  Shared& s = *shared;
  static const uint32_t distanceCode = typeCode("distance");
  static const uint32_t amplitudeCode = typeCode("amplitude");
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(s.mutex);
      s.changed.wait(lock, [&] { return s.stopping || s.matcher.readyCount() < kMaxReady; });
      if (s.stopping) break;
    }
    Grabbed grabbed;
    try {
      session->grab(grabbed.frame);
      const std::shared_lock<std::shared_mutex> recording(s.recordLock);
      if (s.recorder) {
        convertInto(*session, grabbed.frame, distanceCode, grabbed.distance);
        convertInto(*session, grabbed.frame, amplitudeCode, grabbed.amplitude);
        vyxrec::RecorderFrame f;
        f.stampNs = static_cast<uint64_t>(grabbed.frame.utcNs);
        f.description = &grabbed.frame.description;
        f.raw = grabbed.frame.raw.data();
        f.rawSize = grabbed.frame.raw.size();
        f.width = grabbed.frame.description.std.numColumns;
        f.height = grabbed.frame.description.std.numRows;
        if (!grabbed.distance.empty()) f.distance = grabbed.distance.data();
        if (!grabbed.amplitude.empty()) f.amplitude = grabbed.amplitude.data();
        try {
          s.infos[camera].stampNs = f.stampNs;
          s.recorder->cameraInfo(s.handles[camera], s.infos[camera]);
          s.recorder->record(s.handles[camera], f);
        } catch (const vyxrec::RecordingError& e) {
          const std::lock_guard<std::mutex> lock(s.mutex);
          if (s.recordFailure.empty()) s.recordFailure = e.what();
        }
      }
    } catch (...) {
      const std::lock_guard<std::mutex> lock(s.mutex);
      // A grab cut short by the rig's own closing is no failure.
      if (!s.stopping && !s.failure) {
        s.failure = std::current_exception();
        s.failedCamera = camera;
      }
      s.stopping = true;  // the other cameras stop too
      break;
    }
    {
      const std::lock_guard<std::mutex> lock(s.mutex);
      const int64_t stamp = grabbed.frame.utcNs;
      s.matcher.add(camera, stamp, std::move(grabbed));
    }
    s.changed.notify_all();
  }
  {
    const std::lock_guard<std::mutex> lock(s.mutex);
    --s.running;
  }
  s.changed.notify_all();
}

py::tuple Rig::next() {
  Shared& s = *shared_;
  start();
  std::optional<std::vector<Grabbed>> tuple;
  std::string recordFailure;
  withoutGil([&] {
    std::unique_lock<std::mutex> lock(s.mutex);
    s.changed.wait(lock, [&] {
      return s.matcher.readyCount() > 0 || !s.recordFailure.empty() || s.failure ||
             (s.stopping && s.running == 0);
    });
    if (!s.recordFailure.empty()) {
      recordFailure = std::move(s.recordFailure);
      s.recordFailure.clear();
      return;
    }
    tuple = s.matcher.next();
  });
  s.changed.notify_all();  // room for another tuple
  if (!recordFailure.empty()) {
    // The file keeps what it holds, the reason as its last record.
    stopRecording(recordFailure);
    PyErr_SetString(PyExc_OSError, ("recording stopped: " + recordFailure).c_str());
    throw py::error_already_set();
  }
  if (!tuple) {
    const std::lock_guard<std::mutex> lock(s.mutex);
    if (s.failure) std::rethrow_exception(s.failure);
    throw py::value_error("the rig is closed");
  }
  static const uint32_t distanceCode = typeCode("distance");
  static const uint32_t amplitudeCode = typeCode("amplitude");
  py::tuple out(tuple->size());
  for (size_t i = 0; i < tuple->size(); ++i) {
    Grabbed& g = (*tuple)[i];
    const double utc = static_cast<double>(g.frame.utcNs) * 1e-9;
    const uint32_t rows = g.frame.description.std.numRows;
    const uint32_t columns = g.frame.description.std.numColumns;
    std::shared_ptr<const vyxhost::FrameConverter> converter(sessions_[i],
                                                             &sessions_[i]->converter());
    Frame frame(std::move(converter), std::move(g.frame), utc, depths_[i], names_[i]);
    // What the recording converted is handed on, not converted again.
    if (!g.distance.empty()) frame.setImage(distanceCode, arrayOf(g.distance, rows, columns));
    if (!g.amplitude.empty()) frame.setImage(amplitudeCode, arrayOf(g.amplitude, rows, columns));
    // The temporal median needs every frame in the order taken.
    if (depths_[i]->ordered()) frame.points();
    out[i] = py::cast(std::move(frame));
  }
  return out;
}

void Rig::setPeriod(double seconds) {
  if (!(seconds > 0)) throw py::value_error("the frame period must be positive");
  const std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->matcher.setPeriod(static_cast<int64_t>(seconds * 1e9));
}

std::vector<uint64_t> Rig::unmatched() const {
  const std::lock_guard<std::mutex> lock(shared_->mutex);
  return shared_->matcher.unmatched();
}

std::optional<size_t> Rig::failedCamera() const {
  const std::lock_guard<std::mutex> lock(shared_->mutex);
  return shared_->failedCamera;
}

void Rig::startRecording(const std::string& path, const std::string& manifestJson) {
  Shared& s = *shared_;
  std::vector<vyxrec::ros2::CameraInfo> infos;
  for (size_t i = 0; i < names_.size(); ++i) {
    infos.push_back(cameraInfoOf(depths_[i]->lens(), names_[i]));
  }
  withoutGil([&] {
    const std::unique_lock<std::shared_mutex> lock(s.recordLock);
    if (s.recorder) throw py::value_error("the rig already records into " + s.recorder->path());
    auto recorder = std::make_unique<vyxrec::McapRecorder>(path, manifestJson);
    std::vector<int> handles;
    for (const std::string& name : names_) handles.push_back(recorder->addCamera(name));
    s.handles = std::move(handles);
    s.infos = std::move(infos);
    s.recorder = std::move(recorder);
  });
  start();
}

std::string Rig::countersJson() const {
  const std::vector<uint64_t> unmatchedFrames = unmatched();
  std::string json = "{";
  for (size_t i = 0; i < names_.size(); ++i) {
    std::string camera = lvtcam::countersJson(sessions_[i]->counters());
    camera.insert(camera.size() - 1, ", \"unmatched\": " + std::to_string(unmatchedFrames[i]));
    json += (i ? ", \"" : "\"") + names_[i] + "\": " + camera;
  }
  return json + "}";
}

void Rig::stopRecording(const std::string& failure) {
  Shared& s = *shared_;
  withoutGil([&] {
    const std::string counters = countersJson();
    const std::unique_lock<std::shared_mutex> lock(s.recordLock);
    if (!s.recorder) return;
    const std::unique_ptr<vyxrec::McapRecorder> recorder = std::move(s.recorder);
    if (failure.empty())
      recorder->finish(counters);
    else
      recorder->fail(failure, counters);
  });
}

bool Rig::recording() const {
  const std::shared_lock<std::shared_mutex> lock(shared_->recordLock);
  return shared_->recorder != nullptr;
}

uint64_t Rig::recordedFrames() const {
  const std::shared_lock<std::shared_mutex> lock(shared_->recordLock);
  return shared_->recorder ? shared_->recorder->frames() : 0;
}

void bindRig(py::module_& m) {
  py::class_<Rig>(m, "_Rig")
      .def(
          py::init<const std::vector<std::shared_ptr<Camera>>&, std::vector<std::string>, double>(),
          py::arg("cameras"), py::arg("names"), py::arg("period"))
      .def("next", &Rig::next)
      .def("stop", &Rig::stop)
      .def("set_period", &Rig::setPeriod)
      .def_property_readonly("unmatched", &Rig::unmatched)
      .def_property_readonly("failed_camera", &Rig::failedCamera)
      .def("start_recording", &Rig::startRecording)
      .def("stop_recording", &Rig::stopRecording, py::arg("failure") = std::string())
      .def_property_readonly("recording", &Rig::recording)
      .def_property_readonly("recorded_frames", &Rig::recordedFrames);
}

}  // namespace lvtcam
