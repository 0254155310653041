// The pages' commands on their way to the thread that serves a camera or a replay: any thread
// pushes, the serving thread waits for them (or for the stop) between frames and runs them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <utility>

#include "camera_command.h"

namespace vyxview {

class CommandQueue {
 public:
  // std::function's move may throw by the letter of C++17; libstdc++'s does not.
  // NOLINTNEXTLINE(bugprone-exception-escape)
  struct Pending {
    CameraCommand command;
    CommandSink::Reply reply;
  };

  void push(CameraCommand command, CommandSink::Reply reply) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      pending_.push_back({std::move(command), std::move(reply)});
    }
    wake_.notify_all();
  }

  // From now on stopping() is true and every wait ends at once.
  void stop() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
  }

  bool stopping() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return stopping_;
  }

  // The oldest command; none when there is none.
  std::optional<Pending> take() {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (pending_.empty()) return std::nullopt;
    Pending p = std::move(pending_.front());
    pending_.pop_front();
    return p;
  }

  // Waits until the time, a command or the stop, whichever comes first.
  void waitUntil(std::chrono::steady_clock::time_point t) {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait_until(lock, t, [this] { return stopping_ || !pending_.empty(); });
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Pending> pending_;
  bool stopping_ = false;
};

}  // namespace vyxview
