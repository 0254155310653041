// Starting simulated cameras for tests: each on its own loopback address,
// picked at random and retried until both channels bind, so test programs
// can run in parallel without sharing port 8080.
#ifndef VYX_TESTS_SIM_FIXTURE_H
#define VYX_TESTS_SIM_FIXTURE_H

#include <memory>
#include <optional>
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

// An image answer with one header word replaced, for example
// overriding(&lvtsim::ImageOverride::validity, -1.0f).
inline lvtsim::ImageOverride overriding(std::optional<float> lvtsim::ImageOverride::*word,
                                        float value) {
  lvtsim::ImageOverride o;
  o.*word = value;
  return o;
}

// The name of a control-call fault, for test names.
inline std::string rpcFaultName(lvtsim::RpcFault f) {
  switch (f) {
    case lvtsim::RpcFault::Fault:
      return "Fault";
    case lvtsim::RpcFault::WrongShape:
      return "WrongShape";
    case lvtsim::RpcFault::ShortArray:
      return "ShortArray";
    case lvtsim::RpcFault::Close:
      return "Close";
    case lvtsim::RpcFault::Silent:
      return "Silent";
    default:
      return "None";
  }
}

}  // namespace vyxtest

#endif
