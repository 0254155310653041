// A tiny TCP peer for socket tests: a listener on a random 127.x.y.z address
// and the connections it accepts, driven directly with system calls so the
// tests can make the far end misbehave (split, stall, close, reset).
#ifndef VYX_TESTS_TEST_SOCKET_PEER_H
#define VYX_TESTS_TEST_SOCKET_PEER_H

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "lvtsim/launch.h"

namespace vyxtest {

// One end of an accepted connection; closes itself.
class PeerConnection {
 public:
  explicit PeerConnection(int fd) : fd_(fd) {
    int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }
  ~PeerConnection() { close(); }
  PeerConnection(const PeerConnection&) = delete;
  PeerConnection& operator=(const PeerConnection&) = delete;

  int fd() const { return fd_; }

  void send(const std::vector<char>& bytes) const { send(bytes.data(), bytes.size()); }
  void send(const char* bytes, size_t len) const {
    size_t done = 0;
    while (done < len) {
      ssize_t r = ::send(fd_, bytes + done, len - done, MSG_NOSIGNAL);
      if (r <= 0) throw std::runtime_error("peer could not send");
      done += static_cast<size_t>(r);
    }
  }

  // Waits up to waitMs for something to read; returns what one recv gave
  // (empty on end of stream). Throws if nothing happened in time, so a test
  // cannot hang on a socket that was never closed.
  std::vector<char> receiveSome(int waitMs = 5000) const {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, waitMs) <= 0) throw std::runtime_error("peer saw nothing");
    std::vector<char> buf(4096);
    ssize_t r = ::recv(fd_, buf.data(), buf.size(), 0);
    buf.resize(r > 0 ? static_cast<size_t>(r) : 0);
    return buf;
  }

  // Orderly close (FIN).
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  // Abortive close (RST): the other side's next send fails at once.
  void reset() {
    linger l{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    close();
  }

 private:
  int fd_;
};

// A listening socket on a random loopback address and a port of the
// system's choosing.
class LoopbackListener {
 public:
  explicit LoopbackListener(bool listening = true) {
    for (int attempt = 0; attempt < 50; ++attempt) {
      address_ = lvtsim::randomLoopbackAddress();
      fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in addr{};
      addr.sin_family = AF_INET;
      ::inet_pton(AF_INET, address_.c_str(), &addr.sin_addr);
      if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
          (!listening || ::listen(fd_, 8) == 0)) {
        socklen_t len = sizeof addr;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        return;
      }
      ::close(fd_);
    }
    throw std::runtime_error("no free loopback address");
  }
  ~LoopbackListener() { ::close(fd_); }
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;

  const std::string& address() const { return address_; }
  uint16_t port() const { return port_; }

  // The next connection from the backlog (a client's connect completes
  // before it is accepted, so tests can connect first and accept after).
  int acceptFd(int waitMs = 5000) const {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, waitMs) <= 0) throw std::runtime_error("no connection to accept");
    return ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
  }

 private:
  std::string address_;
  uint16_t port_ = 0;
  int fd_ = -1;
};

}  // namespace vyxtest

#endif
