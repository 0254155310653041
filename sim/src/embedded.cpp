#include "lvtsim/embedded.h"

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "lvtsim/camera.h"
#include "lvtsim/launch.h"
#include "lvtsim/replay.h"
#include "lvtwire/frame_format.h"

namespace lvtsim {

EmbeddedCamera::EmbeddedCamera(const std::string& replayDir, bool paced,
                               std::optional<vyxhost::LensModel> lens) {
  std::vector<std::vector<uint8_t>> recording;
  if (!replayDir.empty()) {
    recording = loadReplayFrames(replayDir);
    replayFrames_ = recording.size();
  }
  CameraConfig cfg;
  cfg.realtime = paced;
  if (lens) {
    vyxhost::checkLens(*lens);
    if (lens->width != static_cast<int>(lvtwire::kColumns) ||
        lens->height != static_cast<int>(lvtwire::kRows))
      throw std::invalid_argument("the simulated camera's lens must be for its " +
                                  std::to_string(lvtwire::kColumns) + " x " +
                                  std::to_string(lvtwire::kRows) + " pixels");
    cfg.lens = std::move(*lens);
  }
  camera_ = startOnFreeLoopback(cfg, [&recording](Camera& camera) {
    if (!recording.empty()) camera.setReplay(recording);
  });
  address_ = camera_->config().address;
}

EmbeddedCamera::~EmbeddedCamera() = default;

uint64_t EmbeddedCamera::requestsReceived() const { return camera_->dataRequests().size(); }

const vyxhost::LensModel& EmbeddedCamera::lens() const { return camera_->config().lens; }

}  // namespace lvtsim
