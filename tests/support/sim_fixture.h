// Starting simulated cameras for tests: each on its own loopback address,
// picked at random and retried until both channels bind, so test programs
// can run in parallel without sharing port 8080.
#ifndef VYX_TESTS_SIM_FIXTURE_H
#define VYX_TESTS_SIM_FIXTURE_H

#include <memory>
#include <string>

#include "lvtsim/launch.h"

namespace vyxtest {

// A running camera on a fresh address; cfg.address is replaced.
inline std::unique_ptr<lvtsim::Camera> startCamera(lvtsim::CameraConfig cfg = {}) {
  return lvtsim::startOnFreeLoopback(std::move(cfg));
}

// A loopback address where nothing listens on port 8080 (for "camera not
// there" tests): a random one that no camera of this process uses.
inline std::string silentAddress() { return lvtsim::randomLoopbackAddress(); }

}  // namespace vyxtest

#endif
