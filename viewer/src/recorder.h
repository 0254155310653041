// Recording from the live view into one MCAP file (vyxrec::McapRecorder): per frame the raw
// bytes and their description (so a replay is exact to the bit), and the distance and
// amplitude the page shows (filtered, NaN where invalid); the run manifest with the lens and
// the filters first, the lens as camera_info, the session's counters at the end. A failure
// (disk full, camera lost) closes the file properly with the reason as its last record.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "vyxhost/camera.h"
#include "vyxhost/depth.h"

namespace vyxrec {
class McapRecorder;
}

namespace vyxview {

class Recorder {
 public:
  Recorder(std::string root, std::string cameraName);
  ~Recorder();
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  // Opens a fresh file under the root (root/view-YYYYMMDD-HHMMSS.mcap, with a suffix if
  // taken) and returns its path. Throws std::runtime_error naming the file.
  std::string start(const std::string& manifestJson, const vyxhost::LensModel& lens);
  // Throws vyxrec::RecordingError naming the file when it cannot take the frame; the caller
  // then ends the recording with fail().
  void add(const vyxhost::Frame& frame, const vyxhost::DepthImages& images);
  // A model that differs from the last one written (a replay's lens, a new calibration).
  void lens(const vyxhost::LensModel& lens, uint64_t stampNs);
  // Writes the counters and the summary; nothing happens when not recording.
  void stop(const std::string& countersJson);
  // Closes with the reason as the last metadata record; never throws.
  void fail(const std::string& reason, const std::string& countersJson);

  bool active() const { return recorder_ != nullptr; }
  const std::string& file() const { return file_; }
  uint64_t frames() const { return frames_; }

 private:
  std::string root_;
  std::string name_;
  std::string file_;
  std::unique_ptr<vyxrec::McapRecorder> recorder_;
  int camera_ = 0;
  uint64_t frames_ = 0;
};

// The session's counters as the recording's last metadata record.
std::string countersJson(const vyxhost::Counters& c);

}  // namespace vyxview
