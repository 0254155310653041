#include "embedded_camera.h"

#include <stdexcept>

#include "lvtsim/camera.h"
#include "lvtsim/launch.h"
#include "lvtsim/replay.h"

namespace vyxgrab {

EmbeddedCamera::EmbeddedCamera(const std::string& replayDir, bool realtime) {
  std::vector<std::vector<uint8_t>> recording;
  if (!replayDir.empty()) {
    recording = lvtsim::loadReplayFrames(replayDir);
    replayFrames_ = recording.size();
  }
  lvtsim::CameraConfig cfg;
  cfg.realtime = realtime;
  // A malformed recording throws std::invalid_argument before anything is bound.
  camera_ = lvtsim::startOnFreeLoopback(cfg, [&recording](lvtsim::Camera& camera) {
    if (!recording.empty()) camera.setReplay(recording);
  });
  address_ = camera_->config().address;
}

EmbeddedCamera::~EmbeddedCamera() = default;

uint64_t EmbeddedCamera::requestsReceived() const { return camera_->dataRequests().size(); }

}  // namespace vyxgrab
