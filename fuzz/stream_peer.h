// A stand-in for the camera's data port that answers with given bytes: for
// each connection it sends the whole stream it holds at that moment, then
// closes its sending side, so that a receive past the end of the stream fails
// at once instead of waiting for the plug-in's time-out. What the plug-in
// sends is read and dropped; the connection is closed when the plug-in closes
// its end. Independent of how the plug-in splits its requests, so one fuzz
// input is exactly one connection's byte stream.
#ifndef VYX_FUZZ_STREAM_PEER_H
#define VYX_FUZZ_STREAM_PEER_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace vyxfuzz {

class StreamPeer {
 public:
  // Listens on address (loopback only), on a free port.
  explicit StreamPeer(const std::string& address) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    if (::inet_pton(AF_INET, address.c_str(), &addr.sin_addr) != 1 ||
        (ntohl(addr.sin_addr.s_addr) >> 24) != 127) {
      throw std::invalid_argument("stream peer needs a loopback address: " + address);
    }
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    socklen_t length = sizeof addr;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listener_, 8) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
      if (listener_ >= 0) ::close(listener_);
      throw std::runtime_error("stream peer cannot listen on " + address);
    }
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { serveLoop(); });
  }

  ~StreamPeer() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      stopping_ = true;
    }
    ::shutdown(listener_, SHUT_RDWR);  // wakes the blocked accept
    thread_.join();
    ::close(listener_);
  }

  StreamPeer(const StreamPeer&) = delete;
  StreamPeer& operator=(const StreamPeer&) = delete;

  uint16_t port() const { return port_; }

  // The bytes every following connection is sent.
  void setStream(std::vector<uint8_t> bytes) {
    std::lock_guard<std::mutex> lock(mu_);
    stream_ = std::move(bytes);
  }

  // Connections served to their end (both sides closed).
  size_t served() const {
    std::lock_guard<std::mutex> lock(mu_);
    return served_;
  }

  // Waits until served() reaches count; false if that takes longer than limit.
  bool waitServed(size_t count, std::chrono::milliseconds limit) const {
    std::unique_lock<std::mutex> lock(mu_);
    return changed_.wait_for(lock, limit, [&] { return served_ >= count; });
  }

 private:
  void serveLoop() {
    for (;;) {
      const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      std::vector<uint8_t> bytes;
      {
        std::lock_guard<std::mutex> lock(mu_);
        if (stopping_) {
          if (fd >= 0) ::close(fd);
          return;
        }
        bytes = stream_;
      }
      if (fd < 0) {
        if (errno == EINTR || errno == ECONNABORTED) continue;
        return;
      }
      serve(fd, bytes);
      {
        std::lock_guard<std::mutex> lock(mu_);
        ++served_;
      }
      changed_.notify_all();
    }
  }

  static void serve(int fd, const std::vector<uint8_t>& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
      const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;  // the plug-in has closed: the rest is not wanted
      sent += static_cast<size_t>(n);
    }
    ::shutdown(fd, SHUT_WR);
    char drop[256];
    for (;;) {
      const ssize_t n = ::recv(fd, drop, sizeof drop, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
    }
    ::close(fd);
  }

  int listener_ = -1;
  uint16_t port_ = 0;
  std::thread thread_;
  mutable std::mutex mu_;
  mutable std::condition_variable changed_;
  std::vector<uint8_t> stream_;
  size_t served_ = 0;
  bool stopping_ = false;
};

}  // namespace vyxfuzz

#endif
