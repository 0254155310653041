// An open camera as Python sees it: the camera session (vyxhost::Camera) with the GIL released
// around every call into it. The session's own locks are only ever taken without the GIL, so
// the two can never be waited for crosswise.
#pragma once

#include <pybind11/pybind11.h>

#include <atomic>
#include <memory>
#include <string>
#include <utility>

#include "depth.h"
#include "frame.h"
#include "recorder.h"
#include "vyxhost/camera.h"
#include "without_gil.h"

namespace lvtcam {

class EmbeddedSimulator;

class Camera {
 public:
  // simulator, when the camera is one this process serves, tells the camera's image requests and
  // hands over its lens. calibrationPath "" = the simulator's lens, else the nominal one;
  // filtersJson "" = no filters, else FilterSettings::fromJson's text.
  Camera(const std::string& address, const std::string& pluginPath,
         const std::shared_ptr<EmbeddedSimulator>& simulator, const std::string& calibrationPath,
         const std::string& filtersJson);
  ~Camera();
  Camera(const Camera&) = delete;
  Camera& operator=(const Camera&) = delete;

  Frame grab();
  // Never waits for a camera that stopped answering: its closing ends in the background.
  void close();
  bool closed() const { return closed_; }

  std::pair<unsigned, unsigned> integrationTimes();
  // Checks both against the camera's ranges before setting either.
  void setIntegrationTimes(unsigned itime0, unsigned itime1);
  std::pair<unsigned, unsigned> integrationTimeRange(unsigned idx);
  unsigned fps();
  void setFps(unsigned fps);
  unsigned modulationFrequency();
  void setModulationFrequency(unsigned hz);
  std::string info(const std::string& key);
  std::string command(const std::string& text);
  pybind11::dict stats() const;
  std::string countersJson() const;
  pybind11::dict lens() const { return lensDict(depth_->lens()); }
  std::string filtersJson() const { return depth_->filters().toJson(); }

  // From now on every grabbed frame is recorded into path, until stopRecording.
  std::shared_ptr<Recorder> startRecording(const std::string& path, const std::string& manifestJson,
                                           const std::string& name);
  // Finishes that recording (the counters, the index); a no-op for one already closed.
  void stopRecording(const std::shared_ptr<Recorder>& recorder);
  // Closes the current recording with the reason as its last record.
  void failRecording(const std::string& reason);

  const std::string& address() const { return session_->address(); }
  const std::string& pluginPath() const { return session_->plugin().path(); }
  vyxhost::Camera& session() { return *session_; }
  const std::shared_ptr<vyxhost::Camera>& sharedSession() const { return session_; }
  const std::shared_ptr<Depth>& depth() const { return depth_; }
  const vyxhost::Camera& session() const { return *session_; }

  // Runs body(session) with the GIL released; throws ValueError when the camera is closed.
  template <typename Body>
  auto use(Body&& body) {
    requireOpen();
    return withoutGil([&] { return body(*session_); });
  }

 private:
  void requireOpen() const;

  std::shared_ptr<vyxhost::Camera> session_;  // frames keep it for their conversions
  std::atomic<bool> closed_{false};
  std::shared_ptr<Depth> depth_;
  std::shared_ptr<Recorder> recorder_;  // set and read with the GIL held
};

// A camera's counters as JSON: frames, retried_images (null when unknown), stalls, losses,
// reconnects, latency (seconds, the last frame's). No GIL needed.
std::string countersJson(const vyxhost::Counters& counters);

void bindCamera(pybind11::module_& m);

}  // namespace lvtcam
