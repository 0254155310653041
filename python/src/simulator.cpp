#include "simulator.h"

#include <pybind11/pybind11.h>

#include "depth.h"
#include "lvtsim/embedded.h"
#include "without_gil.h"

namespace lvtcam {

namespace py = pybind11;

EmbeddedSimulator::EmbeddedSimulator(const std::string& replayDir, bool realtime,
                                     std::optional<vyxhost::LensModel> lens)
    : camera_(withoutGil([&] {
        return std::make_shared<lvtsim::EmbeddedCamera>(replayDir, realtime, std::move(lens));
      })),
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

std::optional<vyxhost::LensModel> EmbeddedSimulator::lens() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (!camera_) return std::nullopt;
  return camera_->lens();
}

void bindSimulator(py::module_& m) {
  py::class_<EmbeddedSimulator, std::shared_ptr<EmbeddedSimulator>>(m, "_Simulator")
      .def(
          py::init([](const std::string& replayDir, bool realtime, const std::string& calibration) {
            std::optional<vyxhost::LensModel> lens;
            if (!calibration.empty()) {
              try {
                lens = vyxhost::readCalibration(calibration);
              } catch (const std::runtime_error& e) {
                throw py::value_error(e.what());
              }
            }
            return std::make_shared<EmbeddedSimulator>(replayDir, realtime, std::move(lens));
          }))
      .def("lens",
           [](const EmbeddedSimulator& s) {
             const auto lens = s.lens();
             return lens ? py::object(lensDict(*lens)) : py::object(py::none());
           })
      .def_property_readonly("address", &EmbeddedSimulator::address)
      .def_property_readonly("running", &EmbeddedSimulator::running)
      .def("stop", &EmbeddedSimulator::stop);
}

}  // namespace lvtcam
