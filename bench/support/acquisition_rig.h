// A simulated camera on its own loopback address and the plug-in instance
// opened on it, for benchmarks that fetch frames.
#ifndef VYX_BENCH_ACQUISITION_RIG_H
#define VYX_BENCH_ACQUISITION_RIG_H

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "lvtsim/camera.h"
#include "lvtsim/scene.h"
#include "placement.h"
#include "sim_fixture.h"
#include "vyxhost/vyxhost.h"

namespace vyxbench {

// The loaded plug-in, shared by all rigs of a benchmark binary. VYX_BENCH_PLUGIN
// names another build of it, to compare two versions on the same machine.
inline const vyxhost::Plugin& plugin() {
  static const vyxhost::Plugin p(std::getenv("VYX_BENCH_PLUGIN") != nullptr
                                     ? std::getenv("VYX_BENCH_PLUGIN")
                                     : VYX_PLUGIN_PATH);
  return p;
}

// A camera on a fresh loopback address whose threads, and the threads they
// start for each connection, run on the simulators' CPU.
inline std::unique_ptr<lvtsim::Camera> startPinnedCamera() {
  pinToSimulatorCpu();
  auto camera = vyxtest::startCamera();
  pinToClientCpu();
  return camera;
}

struct CameraRig {
  // Starts a camera with the default 68-byte headers and 64 x 50 images and
  // opens it under `id`. Fetches one round of the camera's scene first: the
  // simulator renders each image once and serves it from memory after that,
  // and the plug-in has sized its frame buffer.
  explicit CameraRig(unsigned int id)
      : camera(startPinnedCamera()), instance(plugin(), id, camera->config().address) {
    for (uint64_t n = 0; n < lvtsim::kScenePeriod; ++n) instance.update();
  }
  std::unique_ptr<lvtsim::Camera> camera;
  vyxhost::SourceInstance instance;

  const std::string& address() const { return camera->config().address; }
};

}  // namespace vyxbench

#endif
