// The camera simulator started inside the Python process.
#include <pybind11/pybind11.h>

#include <memory>
#include <string>

#include "lvtsim/embedded.h"
#include "without_gil.h"

namespace lvtcam {

namespace py = pybind11;

namespace {

class Simulator {
 public:
  Simulator(const std::string& replayDir, bool realtime)
      : camera_(start(replayDir, realtime)), address_(camera_->address()) {}
  const std::string& address() const { return address_; }
  bool running() const { return camera_ != nullptr; }
  // Stops serving: to a camera still open on it this is a pulled cable.
  void stop() {
    std::unique_ptr<lvtsim::EmbeddedCamera> camera = std::move(camera_);
    withoutGil([&] { camera.reset(); });
  }

 private:
  static std::unique_ptr<lvtsim::EmbeddedCamera> start(const std::string& replayDir,
                                                       bool realtime) {
    return withoutGil(
        [&] { return std::make_unique<lvtsim::EmbeddedCamera>(replayDir, realtime); });
  }

  std::unique_ptr<lvtsim::EmbeddedCamera> camera_;
  std::string address_;
};

}  // namespace

void bindSimulator(py::module_& m) {
  py::class_<Simulator>(m, "_Simulator")
      .def(py::init<const std::string&, bool>())
      .def_property_readonly("address", &Simulator::address)
      .def_property_readonly("running", &Simulator::running)
      .def("stop", &Simulator::stop);
}

}  // namespace lvtcam
