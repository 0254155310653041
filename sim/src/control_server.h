// The control channel: the XML-RPC library's own server, bound to the camera's address only and
// driven by a thread of its own.
#pragma once

#include <XmlRpcServer.h>
#include <XmlRpcServerMethod.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "camera_state.h"

namespace lvtsim::detail {

class ControlServer : public XmlRpc::XmlRpcServer {
 public:
  explicit ControlServer(CameraState& state);
  ~ControlServer() override;

  // Throws std::runtime_error if address:port cannot be bound.
  void start(const std::string& address, uint16_t port);
  // Joins the server thread (a silent method must have been released first, see
  // CameraState::setStopping) and closes the listener and every connection.
  void stop();

  // A method asks for its connection to be closed instead of answered.
  void dropReply() { dropReply_ = true; }
  bool takeDropReply();
  // Records one request body in the camera's call log.
  void logRequest(const std::string& request);

 protected:
  XmlRpc::XmlRpcServerConnection* createConnection(XmlRpc::XmlRpcSocket::Socket fd) override;

 private:
  CameraState& state_;
  std::vector<std::unique_ptr<XmlRpc::XmlRpcServerMethod>> methods_;
  std::thread thread_;
  std::atomic<bool> running_{false};
  bool dropReply_ = false;  // touched by the server thread only
};

}  // namespace lvtsim::detail
