#include "embedded_camera.h"

#include <random>
#include <stdexcept>

#include "lvtsim/camera.h"
#include "lvtsim/replay.h"

namespace vyxgrab {

namespace {

std::string randomLoopbackAddress(std::mt19937& rng) {
  // 127.0.0.x is left to simulators started by hand.
  std::uniform_int_distribution<int> part(1, 254);
  return "127." + std::to_string(part(rng)) + "." + std::to_string(part(rng)) + "." +
         std::to_string(part(rng));
}

}  // namespace

EmbeddedCamera::EmbeddedCamera(const std::string& replayDir, bool realtime) {
  std::vector<std::vector<uint8_t>> recording;
  if (!replayDir.empty()) {
    recording = lvtsim::loadReplayFrames(replayDir);
    replayFrames_ = recording.size();
  }
  std::mt19937 rng(std::random_device{}());
  for (int attempt = 0; attempt < 100; ++attempt) {
    lvtsim::CameraConfig cfg;
    cfg.address = randomLoopbackAddress(rng);
    cfg.realtime = realtime;
    auto camera = std::make_unique<lvtsim::Camera>(cfg);
    // A malformed recording throws std::invalid_argument here, before anything is bound.
    if (!recording.empty()) camera->setReplay(recording);
    try {
      camera->start();
    } catch (const std::runtime_error&) {
      continue;  // the port is taken on this address: try another one
    }
    camera_ = std::move(camera);
    address_ = cfg.address;
    return;
  }
  throw std::runtime_error("no free loopback address for the simulated camera");
}

EmbeddedCamera::~EmbeddedCamera() = default;

uint64_t EmbeddedCamera::requestsReceived() const { return camera_->dataRequests().size(); }

}  // namespace vyxgrab
