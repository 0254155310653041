#include "control_server.h"

#include <XmlRpcSocket.h>
#include <fcntl.h>

#include <stdexcept>

#include "control_connection.h"
#include "net.h"
#include "rpc_methods.h"
#include "rpc_text.h"

namespace lvtsim::detail {

ControlServer::ControlServer(CameraState& state)
    : state_(state), methods_(makeCameraMethods(*this, state)) {}

ControlServer::~ControlServer() { stop(); }

void ControlServer::start(const std::string& address, uint16_t port) {
  // The library's own socket(): on first use it also ignores SIGPIPE, which its server relies
  // on, since it answers with plain write() calls.
  const int fd = XmlRpc::XmlRpcSocket::socket();
  if (fd < 0) throw std::runtime_error("cannot create a socket for the control port");
  try {
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    ::lvtsim::detail::bindAndListen(fd, address, port, "control port");
  } catch (...) {
    XmlRpc::XmlRpcSocket::close(fd);
    throw;
  }
  XmlRpc::XmlRpcSocket::setNonBlocking(fd);
  setfd(fd);
  _disp.addSource(this, XmlRpc::XmlRpcDispatch::ReadableEvent);
  running_ = true;
  thread_ = std::thread([this] {
    while (running_) work(0.05);
  });
}

void ControlServer::stop() {
  if (!thread_.joinable()) return;
  running_ = false;
  thread_.join();
  shutdown();  // closes the listener and all connections
}

bool ControlServer::takeDropReply() {
  const bool drop = dropReply_;
  dropReply_ = false;
  return drop;
}

void ControlServer::logRequest(const std::string& request) {
  RpcCall call;
  call.method = parseRequest(request, call.params);
  call.text = describeCall(call.method, call.params);
  call.requestXml = request;
  state_.logCall(std::move(call));
}

XmlRpc::XmlRpcServerConnection* ControlServer::createConnection(XmlRpc::XmlRpcSocket::Socket fd) {
  return new ControlConnection(fd, this);
}

}  // namespace lvtsim::detail
