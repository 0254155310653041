#include "simulator.h"

#include <pybind11/pybind11.h>

#include "lvtsim/embedded.h"
#include "without_gil.h"

namespace lvtcam {

namespace py = pybind11;

EmbeddedSimulator::EmbeddedSimulator(const std::string& replayDir, bool realtime)
    : camera_(withoutGil(
          [&] { return std::make_shared<lvtsim::EmbeddedCamera>(replayDir, realtime); })),
      address_(camera_->address()) {}

EmbeddedSimulator::~EmbeddedSimulator() = default;

bool EmbeddedSimulator::running() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return camera_ != nullptr;
}

void EmbeddedSimulator::stop() {
  std::shared_ptr<lvtsim::EmbeddedCamera> camera;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    camera = std::move(camera_);
  }
  withoutGil([&] { camera.reset(); });
}

std::optional<uint64_t> EmbeddedSimulator::requestsReceived() const {
  std::shared_ptr<lvtsim::EmbeddedCamera> camera;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    camera = camera_;
  }
  if (!camera) return std::nullopt;
  return camera->requestsReceived();
}

void bindSimulator(py::module_& m) {
  py::class_<EmbeddedSimulator, std::shared_ptr<EmbeddedSimulator>>(m, "_Simulator")
      .def(py::init<const std::string&, bool>())
      .def_property_readonly("address", &EmbeddedSimulator::address)
      .def_property_readonly("running", &EmbeddedSimulator::running)
      .def("stop", &EmbeddedSimulator::stop);
}

}  // namespace lvtcam
