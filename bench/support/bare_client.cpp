#include "bare_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace vyxbench {

BareClient::BareClient(const std::string& address, uint16_t port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  if (::inet_pton(AF_INET, address.c_str(), &addr.sin_addr) != 1)
    throw std::runtime_error("bare client: not a dotted address: " + address);
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) throw std::runtime_error("bare client: no socket");
  if (::connect(fd_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd_);
    throw std::runtime_error("bare client: cannot connect to " + address);
  }
}

BareClient::~BareClient() { ::close(fd_); }

bool BareClient::exchange(char request, void* header, size_t headerBytes, void* data,
                          size_t dataBytes) {
  if (::send(fd_, &request, 1, MSG_NOSIGNAL) != 1) return false;
  return readExactly(header, headerBytes) && readExactly(data, dataBytes);
}

bool BareClient::readExactly(void* into, size_t bytes) {
  auto* p = static_cast<char*>(into);
  while (bytes > 0) {
    const ssize_t n = ::recv(fd_, p, bytes, 0);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      return false;
    }
    p += n;
    bytes -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace vyxbench
