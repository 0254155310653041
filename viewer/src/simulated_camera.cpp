#include "simulated_camera.h"

#include "lvtsim/camera.h"
#include "lvtsim/launch.h"
#include "lvtsim/replay.h"

namespace vyxview {

SimulatedCamera::SimulatedCamera(const std::string& replayDir) {
  lvtsim::CameraConfig cfg;
  cfg.realtime = true;
  std::vector<std::vector<uint8_t>> frames;
  if (!replayDir.empty()) frames = lvtsim::loadReplayFrames(replayDir);
  camera_ = lvtsim::startOnFreeLoopback(cfg, [&](lvtsim::Camera& c) {
    if (!frames.empty()) c.setReplay(frames);
  });
}

SimulatedCamera::~SimulatedCamera() = default;

std::string SimulatedCamera::address() const { return camera_->config().address; }

}  // namespace vyxview
