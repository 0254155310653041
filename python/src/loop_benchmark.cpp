// The C++ side of the Python benchmark: the grab loop a C++ host writes on the camera session,
// on the same camera, with its buffers reused.
#include <pybind11/pybind11.h>

#include <chrono>
#include <vector>

#include "camera.h"

namespace lvtcam {

namespace py = pybind11;

namespace {

// Seconds for `frames` frames: the grab, and the distance and amplitude images converted.
double cppGrabLoop(Camera& camera, unsigned frames) {
  return camera.use([&](vyxhost::Camera& session) {
    vyxhost::Frame frame;
    std::vector<float> distance, amplitude;
    const auto start = std::chrono::steady_clock::now();
    for (unsigned n = 0; n < frames; ++n) {
      session.grab(frame);
      const size_t pixels =
          size_t{frame.description.std.numColumns} * frame.description.std.numRows;
      distance.resize(pixels);
      amplitude.resize(pixels);
      session.convert(VYX_TYPE_10001, frame, distance.data(), pixels * sizeof(float));
      session.convert(VYX_TYPE_10002, frame, amplitude.data(), pixels * sizeof(float));
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  });
}

}  // namespace

void bindLoopBenchmark(py::module_& m) {
  m.def("_cpp_grab_loop", &cppGrabLoop, py::arg("camera"), py::arg("frames"),
        "Seconds the C++ grab loop takes for that many frames (benchmark reference).");
}

}  // namespace lvtcam
