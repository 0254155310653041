#include "lvtsim/embedded.h"

#include <vector>

#include "lvtsim/camera.h"
#include "lvtsim/launch.h"
#include "lvtsim/replay.h"

namespace lvtsim {

EmbeddedCamera::EmbeddedCamera(const std::string& replayDir, bool paced, SceneKind scene) {
  std::vector<std::vector<uint8_t>> recording;
  if (!replayDir.empty()) {
    recording = loadReplayFrames(replayDir);
    replayFrames_ = recording.size();
  }
  CameraConfig cfg;
  cfg.realtime = paced;
  cfg.scene = scene;
  camera_ = startOnFreeLoopback(cfg, [&recording](Camera& camera) {
    if (!recording.empty()) camera.setReplay(recording);
  });
  address_ = camera_->config().address;
}

EmbeddedCamera::~EmbeddedCamera() = default;

uint64_t EmbeddedCamera::requestsReceived() const { return camera_->dataRequests().size(); }

const vyxhost::LensModel& EmbeddedCamera::lens() const { return camera_->config().lens; }

}  // namespace lvtsim
