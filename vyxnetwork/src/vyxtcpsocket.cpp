#include "vyxtcpsocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vyx {

NetworkException::~NetworkException() = default;

namespace {

// Waits until fd is ready for the given events; false on time-out.
bool waitFor(int fd, short events, int timeoutMs) {
  pollfd p{fd, events, 0};
  for (;;) {
    int r = ::poll(&p, 1, timeoutMs);
    if (r > 0) return true;
    if (r == 0) return false;
    if (errno != EINTR) return true;  // let the following call report the error
  }
}

// The kernel bounds every blocking receive and send on fd by timeoutMs, so
// a transfer is one system call with no separate wait before it. As for
// poll, 0 means do not wait and a negative time-out waits without bound.
bool boundTransfers(int fd, int timeoutMs) {
  timeval tv{};
  if (timeoutMs == 0) {
    tv.tv_usec = 1;  // a zero timeval would mean no bound at all
  } else if (timeoutMs > 0) {
    tv.tv_sec = timeoutMs / 1000;
    tv.tv_usec = static_cast<suseconds_t>(timeoutMs % 1000) * 1000;
  }
  return ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0 &&
         ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) == 0;
}

// A non-blocking connect bounded by timeoutMs; the socket is blocking again
// afterwards, since receive counts a -1 from recv as a lost connection.
bool connectWithin(int fd, const sockaddr_in& addr, int timeoutMs) {
  int flags = ::fcntl(fd, F_GETFL, 0);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) return false;
  int r = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
  bool ok = r == 0;
  if (!ok && (errno == EINPROGRESS || errno == EINTR)) {
    if (waitFor(fd, POLLOUT, timeoutMs)) {
      int err = 0;
      socklen_t len = sizeof err;
      ok = ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
    }
  }
  if (::fcntl(fd, F_SETFL, flags) < 0) return false;
  return ok;
}

}  // namespace

TCPSocket::~TCPSocket() {
  // Qualified calls: in a destructor there is no derived object left anyway.
  if (TCPSocket::isConnected()) TCPSocket::disconnect();
}

void TCPSocket::connect(std::string host, unsigned short port) {
  if (connected) disconnect();

  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
    throw NetworkException(1, "unknown host: " + host);
  }
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = (vyx::htons)(port);  // parenthesised: the C library may define a macro htons
  addr.sin_addr = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
  ::freeaddrinfo(found);

  descriptor = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (descriptor == -1) throw NetworkException(1, "could not create socket");

  if (!connectWithin(descriptor, addr, timeoutMs) || !boundTransfers(descriptor, timeoutMs)) {
    // Nothing else would ever close a descriptor whose connection failed.
    ::close(descriptor);
    descriptor = -1;
    throw NetworkException(1, "could not connect");
  }
  connected = true;
}

void TCPSocket::disconnect() {
  if (!connected) return;
  ::close(descriptor);
  // Forget the number too: the system may hand it to someone else next.
  descriptor = -1;
  connected = false;
}

bool TCPSocket::isConnected() { return connected; }

void TCPSocket::setTimeout(int milliseconds) {
  timeoutMs = milliseconds;
  if (connected) boundTransfers(descriptor, timeoutMs);
}

bool TCPSocket::hasData() {
  if (descriptor < 0) return false;
  pollfd p{descriptor, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0;
}

int TCPSocket::bytesWaiting() {
  if (descriptor < 0) return 0;
  char byte;
  ssize_t r;
  do {
    r = ::recv(descriptor, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
  } while (r < 0 && errno == EINTR);
  if (r == 0) {
    disconnect();
    return 0;
  }
  return r > 0 ? 1 : 0;
}

void TCPSocket::receive(unsigned& len, void* data) {
  ssize_t r = -1;
  if (descriptor >= 0) {
    // Blocks until bytes arrive, the peer closes or the time-out passes (-1,
    // EAGAIN); a signal interrupts the wait, which then starts afresh.
    do {
      r = ::recv(descriptor, data, len, 0);
    } while (r < 0 && errno == EINTR);
  }
  if (r <= 0) {
    disconnect();
    throw NetworkException(2, "disconnected during receive");
  }
  len = static_cast<unsigned>(r);
}

void TCPSocket::receive(std::vector<char>& data) {
  if (data.empty()) return;
  unsigned len = static_cast<unsigned>(data.size());
  receive(len, data.data());
  data.resize(len);
}

void TCPSocket::send(unsigned len, const void* data) {
  if (!isConnected() || len == 0) throw NetworkException(4, "not connected");
  const char* bytes = static_cast<const char*>(data);
  unsigned sent = 0;
  while (sent < len) {
    // Bounded by the send time-out: nothing sent in time fails with EAGAIN.
    ssize_t r = ::send(descriptor, bytes + sent, len - sent, MSG_NOSIGNAL);
    if (r < 0) {
      if (errno == EINTR) continue;
      throw NetworkException(3, "could not send");
    }
    sent += static_cast<unsigned>(r);
  }
}

void TCPSocket::send(const std::vector<char>& data) {
  send(static_cast<unsigned>(data.size()), data.data());
}

}  // namespace vyx
