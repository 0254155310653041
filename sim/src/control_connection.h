// One HTTP connection of the control server. It runs the library's own request handling, with
// one addition: a method may have the connection closed instead of answered.
#pragma once

#include <XmlRpcServerConnection.h>

namespace lvtsim::detail {

class ControlServer;

class ControlConnection : public XmlRpc::XmlRpcServerConnection {
 public:
  ControlConnection(XmlRpc::XmlRpcSocket::Socket fd, ControlServer* server);
  unsigned handleEvent(unsigned eventType) override;

 protected:
  void executeRequest() override;

 private:
  ControlServer* owner_;
};

}  // namespace lvtsim::detail
