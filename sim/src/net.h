// Small POSIX socket helpers for the two servers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace lvtsim::detail {

// Binds `fd` to address:port with SO_REUSEADDR and listens. Throws std::runtime_error naming
// `what`, the address and the system's reason.
void bindAndListen(int fd, const std::string& address, uint16_t port, const std::string& what);
// A new blocking, close-on-exec TCP socket bound and listening as above.
int openListener(const std::string& address, uint16_t port, const std::string& what);
uint16_t localPort(int fd);
// Sends everything (MSG_NOSIGNAL, EINTR retried); false once the connection failed.
bool sendAll(int fd, const uint8_t* data, size_t length);
void setNoDelay(int fd);

}  // namespace lvtsim::detail
