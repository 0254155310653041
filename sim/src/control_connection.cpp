#include "control_connection.h"

#include <XmlRpcDispatch.h>

#include "control_server.h"

namespace lvtsim::detail {

ControlConnection::ControlConnection(XmlRpc::XmlRpcSocket::Socket fd, ControlServer* server)
    : XmlRpcServerConnection(fd, server, /*deleteOnClose=*/true), owner_(server) {}

// The library's state machine (read header, read body, write response), except that the request
// is executed here rather than inside writeResponse(), so that a dropped reply never reaches the
// socket. Returning 0 makes the dispatcher close and delete the connection.
unsigned ControlConnection::handleEvent(unsigned /*eventType*/) {
  if (_connectionState == READ_HEADER && !readHeader()) return 0;
  if (_connectionState == READ_REQUEST && !readRequest()) return 0;
  if (_connectionState == WRITE_RESPONSE) {
    if (_response.empty()) {
      executeRequest();
      _bytesWritten = 0;
      if (owner_->takeDropReply()) return 0;
    }
    if (!writeResponse()) return 0;
  }
  return _connectionState == WRITE_RESPONSE ? XmlRpc::XmlRpcDispatch::WritableEvent
                                            : XmlRpc::XmlRpcDispatch::ReadableEvent;
}

void ControlConnection::executeRequest() {
  owner_->logRequest(_request);
  XmlRpcServerConnection::executeRequest();
}

}  // namespace lvtsim::detail
