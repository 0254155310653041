// Recording from the live view into one MCAP file (vyxrec::McapRecorder), every camera of the
// viewer under its own name: per frame the raw bytes and their description (so a replay is
// exact to the bit), and the distance and amplitude the page shows (filtered, NaN where
// invalid); the run manifest with the lens and the filters first, each lens as camera_info, the
// sessions' counters at the end. A failure (disk full, a single camera lost) closes the file
// properly with the reason as its last record.
//
// One recorder serves all camera threads: each records its frames with add() from its own
// thread, while a page's command starts or stops the recording from another.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "camera_status.h"
#include "vyxhost/camera.h"
#include "vyxhost/depth.h"

namespace vyxrec {
class McapRecorder;
}

namespace vyxview {

class Recorder {
 public:
  // The counters record written when a recording ends (JSON), asked for at that moment.
  using CountersSource = std::function<std::string()>;

  Recorder(std::string root, std::vector<std::string> cameraNames, CountersSource counters);
  ~Recorder();
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  // Opens a fresh file under the root (root/view-YYYYMMDD-HHMMSS.mcap, with a suffix if
  // taken) with every camera's channels and lens (one lens per camera, in order), and returns
  // its path. Throws std::runtime_error naming the file.
  std::string start(const std::string& manifestJson, const std::vector<vyxhost::LensModel>& lenses);
  // Nothing happens when not recording. Throws vyxrec::RecordingError naming the file when it
  // cannot take the frame; the caller then ends the recording with fail().
  void add(size_t camera, const vyxhost::Frame& frame, const vyxhost::DepthImages& images);
  // A model that differs from the last one written (a replay's lens, a new calibration).
  void lens(size_t camera, const vyxhost::LensModel& lens, uint64_t stampNs);
  // Writes the counters and the summary; nothing happens when not recording. Throws
  // vyxrec::RecordingError.
  void stop();
  // Closes with the reason as the last metadata record, which the status then shows; never
  // throws.
  void fail(const std::string& reason);

  bool active() const;
  RecordingStatus status() const;

 private:
  void lensLocked(size_t camera, const vyxhost::LensModel& lens, uint64_t stampNs);
  std::string countersNow() const;

  const std::string root_;
  const std::vector<std::string> names_;
  const CountersSource counters_;
  mutable std::mutex mutex_;
  std::unique_ptr<vyxrec::McapRecorder> recorder_;
  std::vector<int> handles_;  // per camera, in the recorder
  std::string file_;
  uint64_t frames_ = 0;
  std::string error_;
};

// The session's counters as the recording's last metadata record.
std::string countersJson(const vyxhost::Counters& c);

}  // namespace vyxview
