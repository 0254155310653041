// What the grab is waiting for right now, so that a Ctrl-C during a long wait for a silent
// camera can say at once what it waits for instead of staying quiet until the wait ends.
#pragma once

#include <chrono>
#include <mutex>
#include <string>

namespace vyxgrab {

class WaitNote {
 public:
  // Marks a wait for the lifetime of the object.
  class Scope {
   public:
    Scope(WaitNote* note, std::string what);
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    WaitNote* note_;
  };

  // "waiting for WHAT, 3.2 s so far", or "" when nothing is waited for.
  std::string describe() const;

 private:
  mutable std::mutex mutex_;
  std::string what_;
  std::chrono::steady_clock::time_point since_{};
};

}  // namespace vyxgrab
