// Starting simulated cameras for tests: each on its own loopback address,
// picked at random and retried until both channels bind, so test programs
// can run in parallel without sharing port 8080.
#ifndef VYX_TESTS_SIM_FIXTURE_H
#define VYX_TESTS_SIM_FIXTURE_H

#include <unistd.h>

#include <memory>
#include <random>
#include <stdexcept>
#include <string>

#include "lvtsim/camera.h"

namespace vyxtest {

inline std::string randomLoopbackAddress() {
  static std::mt19937 rng(std::random_device{}() ^ static_cast<unsigned>(::getpid()));
  std::uniform_int_distribution<int> part(1, 254);
  // 127.0.0.x stays free for people running the simulator by hand.
  return "127." + std::to_string(part(rng)) + "." + std::to_string(part(rng)) + "." +
         std::to_string(part(rng));
}

// A running camera on a fresh address; cfg.address is replaced.
inline std::unique_ptr<lvtsim::Camera> startCamera(lvtsim::CameraConfig cfg = {}) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    cfg.address = randomLoopbackAddress();
    auto cam = std::make_unique<lvtsim::Camera>(cfg);
    try {
      cam->start();
      return cam;
    } catch (const std::runtime_error&) {
      // address taken by another test program: try another
    }
  }
  throw std::runtime_error("no free loopback address for a simulated camera");
}

// A loopback address where nothing listens on port 8080 (for "camera not
// there" tests): a random one that no camera of this process uses.
inline std::string silentAddress() { return randomLoopbackAddress(); }

}  // namespace vyxtest

#endif
