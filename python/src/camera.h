// An open camera: one source handle of the plug-in, used by one thread at a
// time, with the GIL released during every call into the plug-in.
#pragma once

#include <pybind11/pybind11.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "frame.h"
#include "plugin_access.h"
#include "without_gil.h"

namespace lvtcam {

class Camera {
 public:
  Camera(const std::string& address, const std::string& pluginPath);
  ~Camera();
  Camera(const Camera&) = delete;
  Camera& operator=(const Camera&) = delete;

  Frame grab();
  // Sends the disconnect. Returns VYX_OK, or the code of a camera that did
  // not answer; either way this side is released and the camera counts as
  // closed (the plug-in keeps such an instance, under a handle never reused).
  int close();
  bool closed() const { return !open_; }

  std::pair<unsigned, unsigned> integrationTimes();
  // Checks both against the camera's valid range before setting either.
  void setIntegrationTimes(unsigned itime0, unsigned itime1);
  // The camera's valid range of integration time idx in microseconds.
  std::pair<unsigned, unsigned> integrationTimeRange(unsigned idx);
  int fps();
  void setFps(int fps);
  unsigned modulationFrequency();
  void setModulationFrequency(unsigned hz);
  std::string info(const std::string& key);
  std::string command(const std::string& text);

  const std::string& address() const { return address_; }
  unsigned handle() const { return id_; }
  const std::shared_ptr<PluginAccess>& access() const { return access_; }
  // Runs body(id) with the GIL released and the camera to itself; throws
  // ValueError when the camera is closed.
  template <typename Body>
  auto exclusiveUse(Body&& body) {
    return withoutGil([&] {
      std::lock_guard<std::mutex> lock(use_);
      requireOpen();
      return body(id_);
    });
  }

 private:
  void requireOpen() const;

  std::shared_ptr<PluginAccess> access_;
  std::string address_;
  unsigned id_;
  std::atomic<bool> open_{false};  // read at exit without the camera's lock
  uint64_t nextIndex_ = 0;
  std::mutex use_;
};

void bindCamera(pybind11::module_& m);

}  // namespace lvtcam
