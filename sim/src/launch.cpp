#include "lvtsim/launch.h"

#include <unistd.h>

#include <mutex>
#include <random>
#include <stdexcept>

namespace lvtsim {

std::string randomLoopbackAddress() {
  static std::mutex lock;
  static std::mt19937 rng(std::random_device{}() ^ static_cast<unsigned>(::getpid()));
  std::uniform_int_distribution<int> part(1, 254);
  const std::lock_guard<std::mutex> guard(lock);
  return "127." + std::to_string(part(rng)) + "." + std::to_string(part(rng)) + "." +
         std::to_string(part(rng));
}

std::unique_ptr<Camera> startOnFreeLoopback(CameraConfig cfg,
                                            const std::function<void(Camera&)>& beforeStart) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    cfg.address = randomLoopbackAddress();
    auto camera = std::make_unique<Camera>(cfg);
    if (beforeStart) beforeStart(*camera);
    try {
      camera->start();
      return camera;
    } catch (const std::runtime_error&) {
      // a port is taken on this address: try another one
    }
  }
  throw std::runtime_error("no free loopback address for the simulated camera");
}

}  // namespace lvtsim
