#include "embedded_camera.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

#include "lvtsim/camera.h"
#include "lvtsim/launch.h"
#include "lvtsim/replay.h"
#include "run_manifest.h"

namespace vyxgrab {

namespace {

std::vector<uint8_t> readFrameFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path + ", a frame of the recording");
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The frames a recording's run.json lists, in its order; without a manifest every frame_*.raw
// in name order. Each frame is checked here, so that an error names its file.
std::vector<std::vector<uint8_t>> loadRecording(const std::string& dir) {
  if (!vyxrec::hasManifest(dir)) return lvtsim::loadReplayFrames(dir);
  const vyxrec::Manifest manifest = vyxrec::readManifest(dir);
  std::vector<std::vector<uint8_t>> frames;
  for (const vyxrec::FrameEntry& f : manifest.frames) {
    if (f.raw.empty()) {
      throw std::runtime_error(vyxrec::manifestPath(dir) + ": frame " + std::to_string(f.index) +
                               " has no raw file (record with --write raw to replay)");
    }
    const std::string path = dir + "/" + f.raw;
    frames.push_back(readFrameFile(path));
    try {
      lvtsim::splitFrame(frames.back());
    } catch (const std::invalid_argument& e) {
      throw std::runtime_error(path + ": " + e.what());
    }
  }
  if (frames.empty()) throw std::runtime_error(vyxrec::manifestPath(dir) + " lists no frames");
  return frames;
}

}  // namespace

EmbeddedCamera::EmbeddedCamera(const std::string& replayDir, bool realtime) {
  std::vector<std::vector<uint8_t>> recording;
  if (!replayDir.empty()) {
    recording = loadRecording(replayDir);
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
