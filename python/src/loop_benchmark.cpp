// The C++ side of the Python benchmark: the grab loop a C++ host writes,
// through the same loader, camera handle and locks, with its buffers reused.
#include <pybind11/pybind11.h>

#include <chrono>
#include <vector>

#include "camera.h"

namespace lvtcam {

namespace py = pybind11;

namespace {

// Seconds for `frames` frames: update, frame bytes, description, and the
// distance and amplitude images converted.
double cppGrabLoop(Camera& camera, unsigned frames) {
  const auto& access = *camera.access();
  return camera.exclusiveUse([&](unsigned id) {
    const auto& api = access.api();
    std::vector<uint8_t> raw;
    std::vector<float> distance, amplitude;
    VYXDataDescription desc{};
    const auto start = std::chrono::steady_clock::now();
    for (unsigned n = 0; n < frames; ++n) {
      {
        PluginAccess::SharedLock lock(access);
        access.check(api.vyxpUpdate(id), "vyxpUpdate", id);
        size_t size = 0;
        access.check(api.vyxpGetRawDataSize(id, &size), "vyxpGetRawDataSize", id);
        raw.resize(size);
        access.check(api.vyxpGetRawData(id, raw.data()), "vyxpGetRawData", id);
        access.check(api.vyxpGetRawDataDescription(id, &desc), "vyxpGetRawDataDescription", id);
      }
      const size_t pixels = size_t{desc.std.numColumns} * desc.std.numRows;
      distance.resize(pixels);
      amplitude.resize(pixels);
      access.process(VYX_TYPE_10001, desc, raw.data(), distance.data(), pixels * sizeof(float));
      access.process(VYX_TYPE_10002, desc, raw.data(), amplitude.data(), pixels * sizeof(float));
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
