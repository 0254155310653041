#include "data_server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <map>
#include <stdexcept>

#include "net.h"
#include "send_answer.h"

namespace lvtsim::detail {

DataServer::~DataServer() { stop(); }

uint16_t DataServer::start(const std::string& address, uint16_t port) {
  std::lock_guard<std::mutex> lock(mu_);
  const int fd = openListener(address, port, "data port");
  if (pipe2(wakeFds_, O_CLOEXEC | O_NONBLOCK) != 0) {
    close(fd);
    throw std::runtime_error("cannot create the data server's wake-up pipe");
  }
  address_ = address;
  port_ = localPort(fd);
  listenFd_ = fd;
  if (!wantListening_) {
    close(listenFd_);
    listenFd_ = -1;
  }
  running_ = true;
  acceptThread_ = std::thread(&DataServer::acceptLoop, this);
  return port_;
}

void DataServer::setListening(bool on) {
  std::unique_lock<std::mutex> lock(mu_);
  wantListening_ = on;
  if (!running_) return;
  const unsigned ticket = ++requested_;
  listenError_.clear();
  wake();
  applied_.wait(lock, [&] { return done_ >= ticket || !running_; });
  if (!listenError_.empty()) throw std::runtime_error(listenError_);
}

void DataServer::stop() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!running_) return;
    running_ = false;
    wake();
  }
  applied_.notify_all();
  acceptThread_.join();
  {
    // Wakes connection threads blocked in recv() or send(); each closes its own descriptor.
    std::lock_guard<std::mutex> lock(mu_);
    for (Connection& c : connections_) {
      if (c.fd >= 0) shutdown(c.fd, SHUT_RDWR);
    }
  }
  // The accept thread is gone, so the list itself no longer changes.
  for (Connection& c : connections_) c.thread.join();
  connections_.clear();
  close(wakeFds_[0]);
  close(wakeFds_[1]);
  wakeFds_[0] = wakeFds_[1] = -1;
}

void DataServer::wake() {
  const char byte = 0;
  [[maybe_unused]] const ssize_t n = write(wakeFds_[1], &byte, 1);  // full pipe: already woken
}

void DataServer::applyListening() {
  if (wantListening_ && listenFd_ < 0) {
    try {
      listenFd_ = openListener(address_, port_, "data port");
    } catch (const std::exception& e) {
      listenError_ = e.what();
      wantListening_ = false;
    }
  } else if (!wantListening_ && listenFd_ >= 0) {
    close(listenFd_);
    listenFd_ = -1;
  }
  done_ = requested_;
  applied_.notify_all();
}

void DataServer::acceptLoop() {
  std::unique_lock<std::mutex> lock(mu_);
  while (running_) {
    applyListening();
    const int fd = listenFd_;
    lock.unlock();

    pollfd fds[2] = {{wakeFds_[0], POLLIN, 0}, {fd, POLLIN, 0}};
    const int ready = poll(fds, fd >= 0 ? 2 : 1, -1);
    if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
      char drain[64];
      while (read(wakeFds_[0], drain, sizeof drain) > 0) {
      }
    }
    int client = -1;
    if (ready > 0 && fd >= 0 && (fds[1].revents & POLLIN) != 0) {
      client = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
    }

    lock.lock();
    if (client < 0) continue;
    if (!running_) {
      close(client);
      continue;
    }
    for (auto it = connections_.begin(); it != connections_.end();) {
      if (it->done) {
        it->thread.join();
        it = connections_.erase(it);
      } else {
        ++it;
      }
    }
    // Whole answers go out in one write, so Nagle's algorithm could only add delay.
    setNoDelay(client);
    state_.connectionOpened();
    connections_.push_back(Connection{client, {}, false});
    Connection& c = connections_.back();
    c.thread = std::thread([this, &c] { serve(c); });
  }
  if (listenFd_ >= 0) close(listenFd_);
  listenFd_ = -1;
}

void DataServer::swallowUntilClosed(int fd) {
  uint8_t bytes[256];
  for (;;) {
    const ssize_t n = recv(fd, bytes, sizeof bytes, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    for (ssize_t i = 0; i < n; ++i) state_.logRequest(static_cast<char>(bytes[i]));
  }
}

void DataServer::serve(Connection& connection) {
  using Clock = std::chrono::steady_clock;
  const int fd = connection.fd;           // stays open until this thread closes it below
  std::map<char, Clock::time_point> due;  // realtime pacing per request byte
  for (;;) {
    uint8_t byte;
    const ssize_t n = recv(fd, &byte, 1, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    const char request = static_cast<char>(byte);
    const Answer answer = state_.nextAnswer(request);
    if (answer.silent) {
      swallowUntilClosed(fd);
      break;
    }
    if (state_.cfg.realtime) {
      const int fps = std::max(1, state_.frontend()[lvtwire::frontend::kFps]);
      const auto period =
          std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / fps));
      Clock::time_point& next = due[request];
      const auto now = Clock::now();
      if (next + period < now) next = now;  // after a pause, start afresh instead of bursting
      if (!state_.sleepUntil(next)) break;
      next += period;
    }
    if (!sendAnswer(fd, answer, state_.splitIntoSingleBytes())) break;
    if (answer.closeAfter) break;
  }
  {
    std::lock_guard<std::mutex> lock(mu_);
    close(fd);
    connection.fd = -1;
    connection.done = true;
  }
  state_.connectionClosed();
}

}  // namespace lvtsim::detail
