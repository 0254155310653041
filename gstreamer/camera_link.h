// The element's camera: the plug-in loaded through vyxhost, an optional simulated camera on a
// free loopback address, one open source instance and one processing instance. Plain C++ with
// no GStreamer types, so that it can be reasoned about on its own.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "vyxdatadescription.h"

namespace lvtsim {
class EmbeddedCamera;
}
namespace vyxhost {
class Plugin;
class SourceInstance;
class ProcessingInstance;
}  // namespace vyxhost

namespace lvtgst {

struct CameraSettings {
  std::string address;     // camera address; ignored when simulate is set
  bool simulate = false;   // start a simulated camera delivering at its frame rate
  std::string pluginPath;  // "" = the usual plug-in lookup
  unsigned itime0 = 0;     // microseconds; 0 = leave the camera's setting
  unsigned itime1 = 0;
  unsigned fps = 0;  // frames per second; 0 = leave the camera's setting
};

// What one grab produced besides the values.
struct FrameInfo {
  unsigned columns = 0;
  unsigned rows = 0;
  uint64_t number = 0;  // frames fetched since the camera was opened, from 0
};

class CameraLink {
 public:
  // Loads the plug-in, starts the simulator if asked, opens the camera and applies the non-zero
  // settings. Throws std::exception whose what() names the failing call, the result code's name
  // and the plug-in's text.
  explicit CameraLink(const CameraSettings& settings);
  ~CameraLink();  // closes the camera, then stops the simulator
  CameraLink(const CameraLink&) = delete;
  CameraLink& operator=(const CameraLink&) = delete;

  // The address the camera was opened at (the simulator's own when simulating).
  const std::string& address() const { return address_; }
  // The plug-in file that was loaded.
  const std::string& pluginPath() const;

  // Fetches the next frame and converts it into values (resized to columns * rows) as the
  // host data type outputType (VYX_TYPE_10001, ...). Throws like the constructor.
  FrameInfo grab(uint32_t outputType, std::vector<float>& values);

  // The camera's settings; the setters throw when the camera refuses, leaving the old value.
  unsigned integrationTime(unsigned index) const;
  void setIntegrationTime(unsigned index, unsigned microseconds);
  unsigned frameRate() const;
  void setFrameRate(unsigned fps);

 private:
  // The plug-in is called from one thread at a time, across every element of the process.
  static std::mutex& pluginCalls();

  std::unique_ptr<lvtsim::EmbeddedCamera> simulator_;
  std::unique_ptr<vyxhost::Plugin> plugin_;
  std::unique_ptr<vyxhost::SourceInstance> source_;
  std::unique_ptr<vyxhost::ProcessingInstance> processing_;
  std::string address_;
  std::vector<uint8_t> raw_;
  uint64_t fetched_ = 0;
};

}  // namespace lvtgst
