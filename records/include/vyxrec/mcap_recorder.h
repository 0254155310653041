// A camera recording in one MCAP file. Per camera, under /lvt/<name>/:
//   raw          lvt_msgs/msg/RawFrame     the plug-in's block and description
//   distance     sensor_msgs/msg/Image     32FC1
//   amplitude    sensor_msgs/msg/Image     32FC1
//   camera_info  sensor_msgs/msg/CameraInfo at the start and whenever it changes
// Each message's log time is its header stamp; each channel numbers its
// messages 0, 1, 2, ... Metadata records: "run" (the manifest, JSON, key
// "json") first; at the end "counters" (JSON, key "json") and, after a
// failure, "failure" (key "reason") as the last record.
//
// A door records with a few lines:
//   vyxrec::McapRecorder rec(path, manifestJson);
//   const int cam = rec.addCamera("cam0");
//   rec.cameraInfo(cam, info);                 // optional
//   for (...) rec.record(cam, {stamp, &desc, raw, rawSize, dist, ampl, 64, 50});
//   rec.finish(countersJson);                  // or rec.fail(reason, countersJson)
// The destructor closes the file properly if neither was called. Cameras may record from threads
// of their own: every call takes the recorder's lock, and each message goes in whole.
#ifndef VYXREC_MCAP_RECORDER_H
#define VYXREC_MCAP_RECORDER_H

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "vyxrec/mcap_writer.h"
#include "vyxrec/ros2_messages.h"

namespace vyxrec {

// One frame to record; any of the three parts may be left out (null).
struct RecorderFrame {
  uint64_t stampNs = 0;               // host UTC, nanoseconds since the epoch
  const void* description = nullptr;  // 128 bytes (VYXDataDescription)
  const void* raw = nullptr;
  size_t rawSize = 0;
  const float* distance = nullptr;  // width * height each
  const float* amplitude = nullptr;
  uint32_t width = 0, height = 0;
};

class McapRecorder {
 public:
  McapRecorder(const std::string& path, const std::string& runManifestJson,
               McapWriterOptions options = {});
  ~McapRecorder();
  McapRecorder(const McapRecorder&) = delete;
  McapRecorder& operator=(const McapRecorder&) = delete;

  // Adds a camera's channels; returns the handle record() takes. A name already taken, or one
  // that cannot be part of a topic, throws RecordingError.
  int addCamera(const std::string& name);
  // Throws RecordingError when the file cannot take it (disk full, ...).
  void record(int handle, const RecorderFrame& frame);
  // Written only when the model differs from the last one written for this camera.
  void cameraInfo(int handle, const ros2::CameraInfo& info);
  // Writes the chunk if it is older than the chunk age; for a caller that
  // waits on a camera and wants the last second on the disk meanwhile.
  void flushIfDue();

  // The counters, then the summary: the file is complete. Throws RecordingError.
  void finish(const std::string& countersJson);
  // As finish, with the reason as the last metadata record; never throws (the
  // file then ends at its last whole chunk if even that fails).
  void fail(const std::string& reason, const std::string& countersJson = "{}");

  uint64_t frames() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return frames_;
  }
  const std::string& path() const { return writer_.path(); }

 private:
  struct Camera {
    std::string name;
    uint16_t raw, distance, amplitude, info;
    uint32_t rawSeq = 0, distanceSeq = 0, amplitudeSeq = 0, infoSeq = 0;
    bool haveInfo = false;
    ros2::CameraInfo lastInfo;
  };
  Camera& camera(int handle);

  mutable std::mutex mutex_;
  McapWriter writer_;
  uint16_t imageSchema_, infoSchema_, rawSchema_;
  std::vector<Camera> cameras_;
  ros2::Buffer scratch_;  // one message's CDR, reused
  uint64_t frames_ = 0;
  bool done_ = false;
};

}  // namespace vyxrec

#endif
