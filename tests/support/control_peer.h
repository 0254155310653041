// A stand-in for the camera's control channel whose answers are scripted byte
// by byte: XML-RPC over HTTP on port 8080 of its own loopback address, plus a
// data port that accepts connections and holds them until the client closes.
// Each request is read whole; the answer for its method comes from a function
// the test or fuzzer sets, and may be well-formed, broken, endless, trickled,
// cut short or held back. Used by the control-channel tests and fuzzer.
#ifndef VYX_TESTS_CONTROL_PEER_H
#define VYX_TESTS_CONTROL_PEER_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "lvtsim/launch.h"

namespace vyxtest {

// One answer to one control call.
struct ControlReply {
  std::string bytes;      // sent first, as they are
  std::string repeat;     // then sent over and over until the client stops taking it
  size_t pieceBytes = 0;  // 0: large sends; n: sends of n bytes (TCP_NODELAY)
  std::chrono::milliseconds pieceGap{0};  // pause between two pieces
  std::chrono::milliseconds stall{0};     // silence after the last byte, before closing
  bool close = false;                     // close after this answer (else read the next request)
};

// The answer a well-behaved camera gives: HTTP around an XML-RPC value.
inline std::string httpAnswer(const std::string& body) {
  return "HTTP/1.1 200 OK\r\nServer: fake camera\r\nContent-Type: text/xml\r\nContent-length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}
inline std::string methodResponse(const std::string& valueXml) {
  return "<?xml version=\"1.0\"?>\r\n<methodResponse><params><param>\r\n\t" + valueXml +
         "\r\n</param></params></methodResponse>\r\n";
}
inline std::string intArray(const std::vector<int>& values) {
  std::string xml = "<value><array><data>";
  for (int v : values) xml += "<value><i4>" + std::to_string(v) + "</i4></value>";
  return xml + "</data></array></value>";
}

// The camera's front-end block as the fake camera answers it (element 0 is a status).
const std::vector<int> kPeerFrontend = {0, 10, 11, 12, 13, 1000, 2000, 16, 25, 18};

class ControlPeer {
 public:
  using Script = std::function<ControlReply(const std::string& method)>;

  // Binds address:8080 and a free data port; throws std::runtime_error when
  // either is taken.
  explicit ControlPeer(const std::string& address) : address_(address) {
    control_ = listenOn(8080);
    try {
      data_ = listenOn(0);
    } catch (...) {
      ::close(control_);
      throw;
    }
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    ::getsockname(data_, reinterpret_cast<sockaddr*>(&bound), &length);
    dataPort_ = ntohs(bound.sin_port);
    acceptors_[0] = std::thread([this] { acceptLoop(control_, true); });
    acceptors_[1] = std::thread([this] { acceptLoop(data_, false); });
  }

  // On a random loopback address of its own.
  static std::unique_ptr<ControlPeer> startOnFreeLoopback() {
    for (int attempt = 0; attempt < 100; ++attempt) {
      try {
        return std::make_unique<ControlPeer>(lvtsim::randomLoopbackAddress());
      } catch (const std::runtime_error&) {
        // a port is taken on this address: try another one
      }
    }
    throw std::runtime_error("no free loopback address for the fake camera");
  }

  ~ControlPeer() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      stopping_ = true;
      for (int fd : open_) ::shutdown(fd, SHUT_RDWR);
    }
    ::shutdown(control_, SHUT_RDWR);
    ::shutdown(data_, SHUT_RDWR);
    for (std::thread& t : acceptors_) t.join();
    std::list<std::thread> workers;
    {
      std::lock_guard<std::mutex> lock(mu_);
      workers.swap(workers_);
    }
    for (std::thread& t : workers) t.join();
    ::close(control_);
    ::close(data_);
  }

  ControlPeer(const ControlPeer&) = delete;
  ControlPeer& operator=(const ControlPeer&) = delete;

  const std::string& address() const { return address_; }
  uint16_t dataPort() const { return dataPort_; }

  // How every following call is answered; unset: normalReply.
  void setScript(Script script) {
    std::lock_guard<std::mutex> lock(mu_);
    script_ = std::move(script);
  }

  // What a well-behaved camera answers to method.
  ControlReply normalReply(const std::string& method) const {
    ControlReply reply;
    if (method == "MDAXMLGetTCPPortCP") {
      reply.bytes = httpAnswer(methodResponse(intArray({0, dataPort_})));
    } else if (method == "MDAXMLGetFrontendData" || method == "MDAXMLSetFrontendData") {
      reply.bytes = httpAnswer(methodResponse(intArray(kPeerFrontend)));
    } else {
      reply.bytes = httpAnswer(methodResponse("<value><i4>0</i4></value>"));
    }
    return reply;
  }

  // The methods called so far, in order.
  std::vector<std::string> methods() const {
    std::lock_guard<std::mutex> lock(mu_);
    return methods_;
  }
  void clearLog() {
    std::lock_guard<std::mutex> lock(mu_);
    methods_.clear();
    bytesSent_ = 0;
  }

  // Answer bytes the client took (into its socket buffers at least) since the
  // last clearLog.
  size_t bytesSent() const { return bytesSent_; }

  // Waits until every connection is accepted and closed on the fake camera's
  // side; false when one is still open after limit (the client holds it).
  bool waitIdle(std::chrono::milliseconds limit) const {
    std::unique_lock<std::mutex> lock(mu_);
    return changed_.wait_for(
        lock, limit, [&] { return open_.empty() && !waiting(control_) && !waiting(data_); });
  }

 private:
  // A connection is waiting to be accepted.
  static bool waiting(int listener) {
    pollfd ready{listener, POLLIN, 0};
    return ::poll(&ready, 1, 0) > 0;
  }

  int listenOn(uint16_t port) const {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    if (::inet_pton(AF_INET, address_.c_str(), &addr.sin_addr) != 1 ||
        (ntohl(addr.sin_addr.s_addr) >> 24) != 127) {
      throw std::invalid_argument("fake camera needs a loopback address: " + address_);
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(fd, 16) != 0) {
      if (fd >= 0) ::close(fd);
      throw std::runtime_error("fake camera cannot listen on " + address_);
    }
    return fd;
  }

  void acceptLoop(int listener, bool control) {
    for (;;) {
      pollfd ready{listener, POLLIN, 0};
      ::poll(&ready, 1, 100);
      // Accepted and recorded in one step under the lock, so that waitIdle
      // never sees a connection that is neither waiting nor recorded.
      std::lock_guard<std::mutex> lock(mu_);
      if (stopping_) return;
      const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;  // nothing waiting (the listener does not block)
      open_.insert(fd);
      workers_.emplace_back([this, fd, control] {
        if (control) {
          serveControl(fd);
        } else {
          drain(fd);
        }
        std::lock_guard<std::mutex> done(mu_);
        open_.erase(fd);
        ::close(fd);
        finished_.insert(std::this_thread::get_id());
        changed_.notify_all();
      });
      reapFinished();
    }
  }

  // Joins the workers that are done, so a long fuzzing run keeps no dead threads.
  // Called with mu_ held; the threads joined have already left it.
  void reapFinished() {
    for (auto it = workers_.begin(); it != workers_.end();) {
      if (finished_.erase(it->get_id()) > 0) {
        it->join();
        it = workers_.erase(it);
      } else {
        ++it;
      }
    }
  }

  bool stopping() const {
    std::lock_guard<std::mutex> lock(mu_);
    return stopping_;
  }

  // Reads and drops until the client closes.
  static void drain(int fd) {
    char drop[4096];
    for (;;) {
      const ssize_t n = ::recv(fd, drop, sizeof drop, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
    }
  }

  // One HTTP request, whole; its method name, or "" when the client closed.
  static std::string readRequest(int fd, std::string& pending) {
    size_t headerEnd;
    while ((headerEnd = pending.find("\r\n\r\n")) == std::string::npos) {
      if (!receiveMore(fd, pending)) return "";
    }
    size_t length = 0;
    std::string header = pending.substr(0, headerEnd);
    std::transform(header.begin(), header.end(), header.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const size_t field = header.find("content-length:");
    if (field != std::string::npos) length = std::strtoul(header.c_str() + field + 15, nullptr, 10);
    while (pending.size() < headerEnd + 4 + length) {
      if (!receiveMore(fd, pending)) return "";
    }
    const std::string body = pending.substr(headerEnd + 4, length);
    pending.erase(0, headerEnd + 4 + length);
    const size_t start = body.find("<methodName>");
    const size_t end = body.find("</methodName>");
    if (start == std::string::npos || end == std::string::npos || end < start) return "?";
    return body.substr(start + 12, end - start - 12);
  }

  static bool receiveMore(int fd, std::string& pending) {
    char buffer[4096];
    for (;;) {
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0 || pending.size() > (1u << 16)) return false;
      pending.append(buffer, static_cast<size_t>(n));
      return true;
    }
  }

  // False when the client is gone.
  bool sendAll(int fd, const char* data, size_t size) {
    while (size > 0) {
      const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      bytesSent_ += static_cast<size_t>(n);
      data += n;
      size -= static_cast<size_t>(n);
    }
    return true;
  }

  bool sendReply(int fd, const ControlReply& reply) {
    if (reply.pieceBytes > 0) {
      const int on = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    const size_t piece = reply.pieceBytes > 0 ? reply.pieceBytes : size_t{1} << 16;
    auto sendPieces = [&](const std::string& text) {
      for (size_t at = 0; at < text.size(); at += piece) {
        if (stopping()) return false;
        if (at > 0 && reply.pieceGap.count() > 0) std::this_thread::sleep_for(reply.pieceGap);
        if (!sendAll(fd, text.data() + at, std::min(piece, text.size() - at))) return false;
      }
      return true;
    };
    if (!sendPieces(reply.bytes)) return false;
    if (!reply.repeat.empty()) {
      while (sendPieces(reply.repeat)) {
      }
      return false;  // only the client's closing ends an endless answer
    }
    if (reply.stall.count() > 0) {
      // Silence: ends early when the client closes or the peer stops.
      pollfd p{fd, POLLIN, 0};
      ::poll(&p, 1, static_cast<int>(reply.stall.count()));
    }
    return !reply.close;
  }

  void serveControl(int fd) {
    std::string pending;
    for (;;) {
      const std::string method = readRequest(fd, pending);
      if (method.empty()) return;
      Script script;
      {
        std::lock_guard<std::mutex> lock(mu_);
        methods_.push_back(method);
        script = script_;
      }
      if (!sendReply(fd, script ? script(method) : normalReply(method))) return;
    }
  }

  std::string address_;
  int control_ = -1;
  int data_ = -1;
  uint16_t dataPort_ = 0;
  std::array<std::thread, 2> acceptors_;
  mutable std::mutex mu_;
  mutable std::condition_variable changed_;
  Script script_;
  std::vector<std::string> methods_;
  std::set<int> open_;
  std::list<std::thread> workers_;
  std::set<std::thread::id> finished_;
  std::atomic<size_t> bytesSent_{0};
  bool stopping_ = false;
};

}  // namespace vyxtest

#endif
