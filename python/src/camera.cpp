#include "camera.h"

#include <pybind11/stl.h>

#include <nlohmann/json.hpp>

#include "simulator.h"

namespace lvtcam {

namespace py = pybind11;

namespace {

vyxhost::CameraOptions optionsFor(const std::string& address, const std::string& pluginPath,
                                  const std::shared_ptr<EmbeddedSimulator>& simulator,
                                  const std::string& calibrationPath) {
  vyxhost::CameraOptions options;
  options.address = address;
  options.pluginPath = pluginPath;
  // A listener makes the session watch for stalls, which the stats count; the news itself is
  // not needed here (and must never wait for the interpreter).
  options.onState = [](vyxhost::CameraState, const std::string&) {};
  if (simulator) options.requestsReceived = [simulator] { return simulator->requestsReceived(); };
  // A calibration file wins; a camera this process simulates hands over its exact lens.
  if (!calibrationPath.empty()) {
    try {
      options.lens = vyxhost::readCalibration(calibrationPath);
    } catch (const std::runtime_error& e) {
      throw py::value_error(e.what());
    }
  } else if (simulator && simulator->lens()) {
    options.lens = *simulator->lens();
  }
  return options;
}

vyxhost::FilterSettings filtersFrom(const std::string& json) {
  if (json.empty()) return vyxhost::FilterSettings::none();
  vyxhost::FilterSettings settings = vyxhost::FilterSettings::fromJson(json);
  settings.check();  // std::invalid_argument: ValueError
  return settings;
}

}  // namespace

Camera::Camera(const std::string& address, const std::string& pluginPath,
               const std::shared_ptr<EmbeddedSimulator>& simulator,
               const std::string& calibrationPath, const std::string& filtersJson) {
  const vyxhost::FilterSettings filters = filtersFrom(filtersJson);
  vyxhost::CameraOptions options = optionsFor(address, pluginPath, simulator, calibrationPath);
  session_ = withoutGil([&] { return std::make_shared<vyxhost::Camera>(std::move(options)); });
  depth_ = std::make_shared<Depth>(session_->lens(), filters);
}

Camera::~Camera() {
  // Normally closed from Python already; the session's own closing may touch the plug-in, which
  // is never done while holding the GIL.
  if (!closed_) withoutGil([&] { session_->close(); });
}

void Camera::requireOpen() const {
  if (closed_) throw py::value_error("the camera at " + address() + " is closed");
}

void Camera::close() {
  if (closed_.exchange(true)) return;
  stopRecording(recorder_);  // a recording still open ends complete
  withoutGil([&] { session_->close(); });
}

Frame Camera::grab() {
  vyxhost::Frame frame;
  use([&](vyxhost::Camera& c) { c.grab(frame); });
  const double utc = static_cast<double>(frame.utcNs) * 1e-9;
  // The frame converts through the camera's converter, which lives as long as the session.
  std::shared_ptr<const vyxhost::FrameConverter> converter(session_, &session_->converter());
  Frame out(std::move(converter), std::move(frame), utc, depth_);
  // The temporal median needs every frame in the order taken, whether its points are used or not.
  if (depth_->ordered()) out.points();
  if (recorder_) {
    const std::shared_ptr<Recorder> recorder = recorder_;
    try {
      recorder->record(out);
    } catch (...) {
      recorder_.reset();
      throw;
    }
  }
  return out;
}

std::shared_ptr<Recorder> Camera::startRecording(const std::string& path,
                                                 const std::string& manifestJson,
                                                 const std::string& name) {
  requireOpen();
  if (recorder_) throw py::value_error("the camera already records into " + recorder_->path());
  recorder_ = std::make_shared<Recorder>(path, manifestJson, name, depth_->lens());
  return recorder_;
}

void Camera::stopRecording(const std::shared_ptr<Recorder>& recorder) {
  if (recorder_ == recorder) recorder_.reset();
  if (recorder) recorder->finish(countersJson());
}

void Camera::failRecording(const std::string& reason) {
  const std::shared_ptr<Recorder> recorder = std::move(recorder_);
  recorder_.reset();
  if (recorder) recorder->fail(reason, countersJson());
}

std::string countersJson(const vyxhost::Counters& c) {
  return "{\"frames\": " + std::to_string(c.frames) + ", \"retried_images\": " +
         (c.retriedImages ? std::to_string(*c.retriedImages) : std::string("null")) +
         ", \"stalls\": " + std::to_string(c.stalls) + ", \"losses\": " + std::to_string(c.losses) +
         ", \"reconnects\": " + std::to_string(c.reconnects) +
         ", \"latency\": " + nlohmann::json(c.lastLatencySeconds).dump() + "}";
}

std::string Camera::countersJson() const {
  return lvtcam::countersJson(withoutGil([&] { return session_->counters(); }));
}

std::pair<unsigned, unsigned> Camera::integrationTimes() {
  return use([](vyxhost::Camera& c) {
    return std::make_pair(c.integrationTime(0), c.integrationTime(1));
  });
}

std::pair<unsigned, unsigned> Camera::integrationTimeRange(unsigned idx) {
  const vyxhost::ValueRange r =
      use([&](vyxhost::Camera& c) { return c.integrationTimeRange(idx); });
  return {r.min, r.max};
}

void Camera::setIntegrationTimes(unsigned itime0, unsigned itime1) {
  const unsigned times[2] = {itime0, itime1};
  for (unsigned idx = 0; idx < 2; ++idx) {
    const auto range = integrationTimeRange(idx);
    if (times[idx] < range.first || times[idx] > range.second)
      throw py::value_error("itime" + std::to_string(idx) + " = " + std::to_string(times[idx]) +
                            " us is outside the camera's range " + std::to_string(range.first) +
                            ".." + std::to_string(range.second) + " us");
  }
  use([&](vyxhost::Camera& c) {
    c.setIntegrationTime(0, itime0);
    c.setIntegrationTime(1, itime1);
  });
}

unsigned Camera::fps() {
  return use([](vyxhost::Camera& c) { return c.frameRate(); });
}

void Camera::setFps(unsigned fps) {
  use([&](vyxhost::Camera& c) { c.setFrameRate(fps); });
}

unsigned Camera::modulationFrequency() {
  return use([](vyxhost::Camera& c) { return c.modulationFrequency(); });
}

void Camera::setModulationFrequency(unsigned hz) {
  use([&](vyxhost::Camera& c) { c.setModulationFrequency(hz); });
}

std::string Camera::info(const std::string& key) {
  return use([&](vyxhost::Camera& c) { return c.info(key); });
}

std::string Camera::command(const std::string& text) {
  return use([&](vyxhost::Camera& c) { return c.command(text); });
}

py::dict Camera::stats() const {
  const vyxhost::Counters counters = withoutGil([&] { return session_->counters(); });
  py::dict out;
  out["frames"] = counters.frames;
  out["retried_images"] =
      counters.retriedImages ? py::object(py::int_(*counters.retriedImages)) : py::none();
  out["stalls"] = counters.stalls;
  out["losses"] = counters.losses;
  out["reconnects"] = counters.reconnects;
  out["latency"] = counters.lastLatencySeconds;
  return out;
}

void bindCamera(py::module_& m) {
  py::class_<Camera, std::shared_ptr<Camera>>(m, "_Camera")
      .def(py::init<const std::string&, const std::string&,
                    const std::shared_ptr<EmbeddedSimulator>&, const std::string&,
                    const std::string&>(),
           py::arg("address"), py::arg("plugin"), py::arg("simulator"), py::arg("calibration"),
           py::arg("filters"))
      .def("lens", &Camera::lens)
      .def("filters", &Camera::filtersJson)
      .def("lens_json",
           [](const Camera& c) { return vyxhost::calibrationJson(c.session().lens()); })
      .def("start_recording", &Camera::startRecording)
      .def("stop_recording", &Camera::stopRecording)
      .def("stop_recording_failed", &Camera::failRecording)
      .def("counters_json", &Camera::countersJson)
      .def("grab", &Camera::grab)
      .def("close", &Camera::close)
      .def_property_readonly("closed", &Camera::closed)
      .def("integration_times", &Camera::integrationTimes)
      .def("set_integration_times", &Camera::setIntegrationTimes)
      .def("integration_time_range", &Camera::integrationTimeRange, py::arg("index") = 0)
      .def("fps", &Camera::fps)
      .def("set_fps", &Camera::setFps)
      .def("modulation_frequency", &Camera::modulationFrequency)
      .def("set_modulation_frequency", &Camera::setModulationFrequency)
      .def("info", &Camera::info)
      .def("command", &Camera::command)
      .def("stats", &Camera::stats)
      .def_property_readonly("address", &Camera::address)
      .def_property_readonly("plugin", &Camera::pluginPath);
}

}  // namespace lvtcam
