// Starting a simulated camera where nothing else is: each camera gets its own
// random 127.x.y.z address, retried until both of its channels bind, so many
// cameras (tests running in parallel, several tools) never share port 8080.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "lvtsim/camera.h"

namespace lvtsim {

// A random address in 127.1.1.1 .. 127.254.254.254; 127.0.0.x is left to
// simulators started by hand.
std::string randomLoopbackAddress();

// A running camera on a fresh address (cfg.address is replaced). beforeStart
// runs on every candidate camera before it binds (for example to set a
// replay); what it throws propagates. Throws std::runtime_error when no free
// address was found.
std::unique_ptr<Camera> startOnFreeLoopback(CameraConfig cfg = {},
                                            const std::function<void(Camera&)>& beforeStart = {});

}  // namespace lvtsim
