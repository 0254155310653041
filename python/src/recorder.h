// Recording the frames a camera loop takes into one MCAP file (vyxrec::McapRecorder): for each
// frame its raw bytes and description, its distance and amplitude, and the camera's lens as
// camera_info; the run manifest first and the counters at the end.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "vyxhost/lens.h"
#include "vyxrec/mcap_recorder.h"

namespace lvtcam {

class Frame;

// The lens as a ROS 2 CameraInfo: K and P from the intrinsics, D in OpenCV's order.
vyxrec::ros2::CameraInfo cameraInfoOf(const vyxhost::LensModel& lens, const std::string& frameId);

class Recorder {
 public:
  // Throws vyxrec::RecordingError when the file cannot be made.
  Recorder(const std::string& path, const std::string& manifestJson, const std::string& camera,
           const vyxhost::LensModel& lens);

  // Records the frame (its distance and amplitude are converted for it, and kept by the frame).
  // A failure to write ends the recording with its reason and raises OSError.
  void record(Frame& frame);
  void finish(const std::string& countersJson);
  void fail(const std::string& reason, const std::string& countersJson);

  bool closed() const { return !recorder_; }
  uint64_t frames() const { return frames_; }
  const std::string& path() const { return path_; }

 private:
  std::mutex mutex_;
  std::unique_ptr<vyxrec::McapRecorder> recorder_;
  int camera_ = 0;
  std::string path_;
  vyxrec::ros2::CameraInfo info_;
  uint64_t frames_ = 0;
};

void bindRecorder(pybind11::module_& m);

}  // namespace lvtcam
