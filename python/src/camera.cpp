#include "camera.h"

#include <pybind11/stl.h>

#include <chrono>
#include <climits>

namespace lvtcam {

namespace py = pybind11;

Camera::Camera(const std::string& address, const std::string& pluginPath)
    : access_(PluginAccess::get(pluginPath)), address_(address), id_(PluginAccess::newHandle()) {
  // A failed opening leaves its text under handle 0.
  withoutGil([&] {
    access_->exclusive("vyxpInitRawDataPlugin", 0, [&](const vyxhost::EntryPoints& api) {
      return api.vyxpInitRawDataPlugin(id_, address_.c_str());
    });
  });
  open_ = true;
}

Camera::~Camera() {
  // Normally closed from Python already; this is the last resort.
  if (open_)
    access_->exclusiveCode(
        [&](const vyxhost::EntryPoints& api) { return api.vyxpDeinitPlugin(id_); });
}

void Camera::requireOpen() const {
  if (!open_) throw py::value_error("the camera at " + address_ + " is closed");
}

int Camera::close() {
  // At exit another thread may hold this camera, waiting at the locked plug-in.
  if (access_->isShutDown()) {
    open_ = false;
    return VYX_OK;
  }
  return withoutGil([&] {
    std::lock_guard<std::mutex> lock(use_);
    if (!open_) return VYX_OK;
    open_ = false;
    return access_->exclusiveCode(
        [&](const vyxhost::EntryPoints& api) { return api.vyxpDeinitPlugin(id_); });
  });
}

Frame Camera::grab() {
  RawFrame frame;
  exclusiveUse([&](unsigned id) {
    PluginAccess::SharedLock lock(*access_);
    const auto& api = access_->api();
    access_->check(api.vyxpUpdate(id), "vyxpUpdate", id);
    frame.timestamp =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    access_->check(api.vyxpGetRawDataSize(id, &frame.size), "vyxpGetRawDataSize", id);
    frame.bytes.reset(new uint8_t[frame.size > 0 ? frame.size : 1]);  // every byte copied into
    access_->check(api.vyxpGetRawData(id, frame.bytes.get()), "vyxpGetRawData", id);
    access_->check(api.vyxpGetRawDataDescription(id, &frame.description),
                   "vyxpGetRawDataDescription", id);
    frame.index = nextIndex_++;
  });
  return Frame(access_, std::move(frame));
}

std::pair<unsigned, unsigned> Camera::integrationTimes() {
  return exclusiveUse([&](unsigned id) {
    PluginAccess::SharedLock lock(*access_);
    const auto& api = access_->api();
    std::pair<unsigned, unsigned> times;
    access_->check(api.vyxpGetIntegrationTime(id, &times.first, 0), "vyxpGetIntegrationTime", id);
    access_->check(api.vyxpGetIntegrationTime(id, &times.second, 1), "vyxpGetIntegrationTime", id);
    return times;
  });
}

std::pair<unsigned, unsigned> Camera::integrationTimeRange(unsigned idx) {
  return exclusiveUse([&](unsigned id) {
    PluginAccess::SharedLock lock(*access_);
    const auto& api = access_->api();
    std::pair<unsigned, unsigned> range;
    access_->check(api.vyxpGetValidIntegrationTime(id, &range.first, idx, AtLeast, 0),
                   "vyxpGetValidIntegrationTime", id);
    access_->check(api.vyxpGetValidIntegrationTime(id, &range.second, idx, AtMost, UINT_MAX),
                   "vyxpGetValidIntegrationTime", id);
    return range;
  });
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
  exclusiveUse([&](unsigned id) {
    PluginAccess::ExclusiveLock lock(*access_);
    for (unsigned idx = 0; idx < 2; ++idx)
      access_->check(access_->api().vyxpSetIntegrationTime(id, idx, times[idx]),
                     "vyxpSetIntegrationTime", id);
  });
}

int Camera::fps() { return std::stoi(info("FPS")); }

void Camera::setFps(int fps) {
  if (fps < 1)
    throw py::value_error("the frame rate must be at least 1, not " + std::to_string(fps));
  command("SetFPS " + std::to_string(fps));
}

unsigned Camera::modulationFrequency() {
  return exclusiveUse([&](unsigned id) {
    PluginAccess::SharedLock lock(*access_);
    unsigned hz = 0;
    access_->check(access_->api().vyxpGetModulationFrequency(id, &hz, 0),
                   "vyxpGetModulationFrequency", id);
    return hz;
  });
}

void Camera::setModulationFrequency(unsigned hz) {
  exclusiveUse([&](unsigned id) {
    PluginAccess::ExclusiveLock lock(*access_);
    access_->check(access_->api().vyxpSetModulationFrequency(id, 0, hz),
                   "vyxpSetModulationFrequency", id);
  });
}

std::string Camera::info(const std::string& key) {
  return exclusiveUse([&](unsigned id) {
    PluginAccess::SharedLock lock(*access_);
    char answer[256] = {};
    access_->check(access_->api().vyxpGetInfo(id, answer, sizeof answer, key.c_str()),
                   "vyxpGetInfo", id);
    return std::string(answer);
  });
}

std::string Camera::command(const std::string& text) {
  return exclusiveUse([&](unsigned id) {
    PluginAccess::ExclusiveLock lock(*access_);
    char answer[256] = {};
    const int code = access_->api().vyxpPlatformCommand(id, answer, sizeof answer, text.c_str());
    if (code != VYX_OK) {
      // Some refusals answer in the buffer rather than in the stored text.
      char stored[256] = {};
      access_->api().vyxpGetLastError(id, stored, sizeof stored);
      throw CallFailure{"vyxpPlatformCommand", code, stored[0] != '\0' ? stored : answer};
    }
    return std::string(answer);
  });
}

void bindCamera(py::module_& m) {
  py::class_<Camera>(m, "_Camera")
      .def(py::init<const std::string&, const std::string&>())
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
      .def_property_readonly("address", &Camera::address)
      .def_property_readonly("handle", &Camera::handle)
      .def_property_readonly("plugin", [](const Camera& c) { return c.access()->path(); });
}

}  // namespace lvtcam
