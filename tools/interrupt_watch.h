// Ctrl-C handling without interrupted system calls: SIGINT and SIGTERM are blocked in every
// thread and taken by one watcher thread with sigwait, so a camera read in progress is never cut
// short. The first signal asks the grab loop to stop after the current frame; a second one ends
// the program at once.
#pragma once

#include <signal.h>

#include <atomic>
#include <thread>

namespace vyxgrab {

class InterruptWatch {
 public:
  // Create before any other thread, so that all threads inherit the blocked signals.
  InterruptWatch();
  ~InterruptWatch();
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;

  bool stopRequested() const { return stop_.load(); }

 private:
  void watch();

  sigset_t watched_;
  sigset_t previousMask_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> closing_{false};
  std::thread thread_;
};

}  // namespace vyxgrab
