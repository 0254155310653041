// Ctrl-C handling without interrupted system calls: SIGINT, SIGTERM and SIGHUP are blocked in
// every thread and taken by one watcher thread with sigwait, so a camera read in progress is never
// cut short. The first signal asks the grab loop to stop after the current frame; a second one
// ends the program at once with 128 + its number. A signal that comes while the grab waits for
// the camera says at once what it waits for.
#pragma once

#include <signal.h>

#include <atomic>
#include <thread>

#include "wait_note.h"

namespace vyxgrab {

class InterruptWatch {
 public:
  // Create before any other thread, so that all threads inherit the blocked signals. waiting,
  // when given, must outlive the watch.
  explicit InterruptWatch(const WaitNote* waiting = nullptr);
  ~InterruptWatch();
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;

  bool stopRequested() const { return stop_.load(); }
  // The first signal that asked to stop, 0 before one came.
  int signal() const { return signal_.load(); }

 private:
  void watch();

  const WaitNote* waiting_;
  sigset_t watched_;
  sigset_t previousMask_;
  std::atomic<bool> stop_{false};
  std::atomic<int> signal_{0};
  std::atomic<bool> closing_{false};
  std::thread thread_;
};

}  // namespace vyxgrab
