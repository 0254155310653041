// The element's camera: an optional simulated camera on a free loopback address and the camera
// session opened on it with the element's settings. Plain C++ with no GStreamer types, so that it
// can be reasoned about on its own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "vyxhost/camera.h"

namespace lvtsim {
class EmbeddedCamera;
}

namespace lvtgst {

struct CameraSettings {
  std::string address;     // camera address; ignored when simulate is set
  bool simulate = false;   // start a simulated camera delivering at its frame rate
  std::string pluginPath;  // "" = the usual plug-in lookup
  unsigned itime0 = 0;     // microseconds; 0 = leave the camera's setting
  unsigned itime1 = 0;
  unsigned fps = 0;  // frames per second; 0 = leave the camera's setting
};

// The camera's settings as read back once it was open.
struct OpenedValues {
  unsigned itime0 = 0, itime1 = 0, fps = 0;
};

class CameraLink {
 public:
  // Starts the simulator if asked, opens the camera, applies the non-zero settings (the camera
  // checks them against its ranges) and fetches frame 0, whose image of outputType gives the
  // first shape. Throws std::exception whose what() names the failing call, the result code's
  // name and the plug-in's text.
  CameraLink(const CameraSettings& settings, uint32_t outputType);
  ~CameraLink();  // closes the camera without waiting for a silent one, then stops the simulator
  CameraLink(const CameraLink&) = delete;
  CameraLink& operator=(const CameraLink&) = delete;

  // The address the camera was opened at (the simulator's own when simulating).
  const std::string& address() const { return camera_->address(); }
  vyxhost::Camera& camera() { return *camera_; }
  const vyxhost::ImageShape& firstShape() const { return firstShape_; }
  const OpenedValues& opened() const { return opened_; }

  // The next frame into frame (its buffer reused): frame 0 first, then straight from the camera
  // on the calling thread, with no thread or lock between. Throws the session's CameraError.
  void next(vyxhost::Frame& frame);
  // Ends a next() waiting on another thread: the camera is closed, so a grab under way ends at
  // once, or within the plug-in's bound for a camera that stopped answering. For stopping only;
  // a pause or a flush lets the grab end with the camera's next frame.
  void interrupt() { camera_->close(); }

 private:
  std::unique_ptr<lvtsim::EmbeddedCamera> simulator_;
  std::shared_ptr<vyxhost::Camera> camera_;
  vyxhost::Frame first_;
  bool firstTaken_ = false;
  vyxhost::ImageShape firstShape_;
  OpenedValues opened_;
};

// Converts frame's image of outputType (VYX_TYPE_...) into values, resized to fit. Throws
// std::runtime_error when the frame holds no such image.
vyxhost::ImageShape toFloats(const vyxhost::Camera& camera, uint32_t outputType,
                             const vyxhost::Frame& frame, std::vector<float>& values);

}  // namespace lvtgst
