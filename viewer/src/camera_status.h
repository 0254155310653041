// What the page's status line shows about the camera, kept for threads that each know a part:
// the camera thread (frames, settings, recording) and the camera session's state news, which
// may arrive from the session's own watch while the camera thread waits for a frame. Each
// change can be sent to the pages at once from whichever thread made it.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "vyxhost/camera.h"
#include "vyxrec/run_manifest.h"

namespace vyxview {

struct RecordingStatus {
  bool on = false;
  std::string file;
  uint64_t frames = 0;  // of all cameras
  std::string error;
};

struct SettingRanges {
  std::optional<vyxhost::ValueRange> itime0, itime1, fps;
};

class CameraStatus {
 public:
  // index and name: the camera's place among the viewer's cameras and its name in recordings.
  explicit CameraStatus(std::string address, size_t index = 0, std::string name = "cam0");

  // "streaming", "stalled", "lost", "reconnecting" (the session's), or "paused" while the
  // viewer does not grab; problem says why the camera does not stream ("" when it does).
  void setState(const std::string& state, const std::string& problem,
                const std::string& problemKind = "");
  void setPaused(bool paused);
  void frameArrived();
  void setSettings(const vyxrec::Settings& readBack, const SettingRanges& ranges);
  void setRecording(RecordingStatus recording);
  // The session's counters (frames, retried images, stalls, losses, reconnects, latency).
  void setCounters(const vyxhost::Counters& counters);
  vyxhost::Counters counters() const;
  // The lens and the filters the images are shown through (DepthView::describe()).
  void setDepth(nlohmann::json depth);
  // What a replay adds: file, frames, position, playing, speed.
  void setReplay(nlohmann::json replay);

  // The status message (without the page's own counters).
  nlohmann::json message(size_t clients) const;

 private:
  double rate(std::chrono::steady_clock::time_point now) const;

  const std::string address_;
  const size_t index_;
  const std::string name_;
  mutable std::mutex mutex_;
  std::string state_ = "reconnecting";
  std::string problem_, problemKind_;
  bool paused_ = false;
  uint64_t frames_ = 0;
  std::deque<std::chrono::steady_clock::time_point> recent_;  // frame times, last window
  vyxrec::Settings settings_;
  SettingRanges ranges_;
  RecordingStatus recording_;
  std::optional<vyxhost::Counters> counters_;  // none: no camera session (a replay)
  nlohmann::json depth_, replay_;
};

}  // namespace vyxview
