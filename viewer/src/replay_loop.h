// Plays a recording (one .mcap file) to the pages in place of a camera, on a thread of its own:
// its raw frames converted by the plug-in (a FrameConverter) and shown through the lens and the
// filters like a live camera's; at the recorded pace times the speed (0.25x to 4x); paused,
// stepped a frame either way, or moved to any frame. The frame message carries the frame's
// index and the recording's length for the page's timeline. Only the first camera in the file
// is shown.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "camera_command.h"
#include "camera_status.h"
#include "command_queue.h"
#include "depth_view.h"
#include "vyxhost/camera.h"
#include "vyxrec/mcap_playback.h"

namespace vyxview {

class FrameHub;

struct ReplayConfig {
  std::string file;
  std::string pluginPath;                  // "" = the usual lookup
  std::optional<vyxhost::LensModel> lens;  // none: the recording's camera_info, else nominal
  vyxhost::FilterSettings filters;
};

class ReplayLoop : public CommandSink {
 public:
  // Reads the recording through once to number its frames. Throws vyxrec::RecordingError for
  // a file that cannot be read or holds no frame, vyxhost::LoadError for the plug-in.
  ReplayLoop(ReplayConfig cfg, FrameHub& hub);
  ~ReplayLoop() override;
  ReplayLoop(const ReplayLoop&) = delete;
  ReplayLoop& operator=(const ReplayLoop&) = delete;

  void start();
  void stop();  // idempotent
  void submit(CameraCommand command, Reply reply) override;
  const vyxhost::Plugin& plugin() const { return converter_.plugin(); }
  size_t frames() const { return stamps_.size(); }
  const std::string& camera() const { return camera_; }
  // Why the file ends early ("" when it is complete).
  const std::string& cut() const { return cut_; }

 private:
  using Clock = std::chrono::steady_clock;

  void index();
  void run();
  bool runCommands();
  nlohmann::json execute(const CameraCommand& c);
  // Reads frame `index` of the recording and sends it to the pages.
  void show(uint64_t index);
  // Reads on until frame `index` (reopening the file at its time when it lies behind).
  void readTo(uint64_t index);
  void publishStatus();

  ReplayConfig cfg_;
  FrameHub& hub_;
  vyxhost::FrameConverter converter_;
  CameraStatus status_;
  std::vector<uint64_t> stamps_;  // of the shown camera's frames, in file order
  std::string camera_;
  std::string cut_;

  CommandQueue queue_;
  std::thread thread_;

  // The replay thread only.
  std::unique_ptr<DepthView> depth_;
  std::unique_ptr<vyxrec::McapPlayback> play_;
  uint64_t nextIndex_ = 0;  // the frame play_ gives next
  vyxrec::PlaybackFrame read_;
  vyxhost::Frame frame_;
  uint64_t position_ = 0;  // the frame on the pages
  bool playing_ = true;
  double speed_ = 1.0;
  Clock::time_point due_{};  // when the next frame goes out while playing
};

}  // namespace vyxview
