// The camera's seven XML-RPC methods.
#pragma once

#include <XmlRpcServerMethod.h>

#include <memory>
#include <vector>

#include "camera_state.h"

namespace lvtsim::detail {

class ControlServer;

// Creates the methods, each registered with `server` for as long as it lives.
std::vector<std::unique_ptr<XmlRpc::XmlRpcServerMethod>> makeCameraMethods(ControlServer& server,
                                                                           CameraState& state);

}  // namespace lvtsim::detail
