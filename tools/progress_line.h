// The one-line progress display on a terminal: frames so far, of how many, and the frame rate,
// rewritten in place with a carriage return and at most ten times a second.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace vyxgrab {

// "frame 12/100  24.3 frames/s"; total 0 means open-ended ("frame 12  24.3 frames/s").
std::string progressText(uint64_t done, uint64_t total, double seconds);
// One camera of a rig: "left 12/100 s0 l0 r0 3ms" (stalls, losses, reconnects, the last frame's
// latency); "left 7/100 failed" once it failed.
std::string cameraProgressText(const std::string& name, uint64_t done, uint64_t total,
                               uint64_t stalls, uint64_t losses, uint64_t reconnects,
                               double latencySeconds, bool failed);

class ProgressLine {
 public:
  // Shows nothing unless enabled (vyxgrab enables it when stderr is a terminal).
  ProgressLine(std::FILE* out, bool enabled) : out_(out), enabled_(enabled) {}

  void update(uint64_t done, uint64_t total, double seconds);
  // Any text; last shows it at once.
  void updateText(const std::string& text, bool last);
  // Shows the latest state, even if it was held back, and ends the line so that later output
  // starts on a fresh one.
  void finish();

 private:
  using Clock = std::chrono::steady_clock;
  void show();

  std::FILE* out_;
  bool enabled_;
  bool shown_ = false;
  std::string latest_;  // the text of the last update, shown or held back
  bool heldBack_ = false;
  Clock::time_point lastShown_{};
};

}  // namespace vyxgrab
