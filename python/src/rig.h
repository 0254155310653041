// Several open cameras grabbing side by side, each on a thread of its own that never touches the
// interpreter; their frames are matched by host time stamp (vyxhost::FrameMatcher) into one
// tuple per instant, and, while a recording is open, every frame a camera delivers (matched or
// not) goes into one MCAP file under the camera's name.
#pragma once

#include <pybind11/pybind11.h>

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <vector>

#include "vyxhost/camera.h"
#include "vyxhost/frame_matcher.h"
#include "vyxrec/mcap_recorder.h"

namespace lvtcam {

class Camera;
class Depth;

class Rig {
 public:
  // cameras and names in the same order; periodSeconds: the frame period matching uses.
  Rig(const std::vector<std::shared_ptr<Camera>>& cameras, std::vector<std::string> names,
      double periodSeconds);
  // Stops the threads (see stop()).
  ~Rig();
  Rig(const Rig&) = delete;
  Rig& operator=(const Rig&) = delete;

  // The threads begin grabbing; again: nothing.
  void start();
  // Asks the threads to end and waits up to about a second for them; a thread still waiting for
  // a silent camera ends when that wait does. The cameras stay open.
  void stop();

  // The next matched tuple of Frames, waiting for it without the GIL. A camera that failed
  // raises its CameraError once the tuples matched before it are taken (failedCamera() says
  // which); a recording that could not be written raises OSError.
  pybind11::tuple next();
  void setPeriod(double seconds);
  std::vector<uint64_t> unmatched() const;
  std::optional<size_t> failedCamera() const;

  // From now on every frame is recorded into path (lenses as each camera's camera_info).
  void startRecording(const std::string& path, const std::string& manifestJson);
  // Finishes the recording with every camera's counters (countersJson()); with a reason, that
  // is its last record. A no-op without one.
  void stopRecording(const std::string& failure = "");
  // {"NAME": {frames, ..., latency, unmatched}, ...}; any thread, without the GIL.
  std::string countersJson() const;
  bool recording() const;
  uint64_t recordedFrames() const;

 private:
  struct Grabbed {
    vyxhost::Frame frame;
    std::vector<float> distance, amplitude;  // converted for the recording, else empty
  };
  struct Shared;  // what the threads and the rig share
  std::shared_ptr<Shared> shared_;
  std::vector<std::shared_ptr<vyxhost::Camera>> sessions_;
  std::vector<std::shared_ptr<Depth>> depths_;
  std::vector<std::string> names_;
  bool started_ = false;

  static void grabLoop(const std::shared_ptr<Shared>& shared,
                       const std::shared_ptr<vyxhost::Camera>& session, size_t camera);
};

void bindRig(pybind11::module_& m);

}  // namespace lvtcam
