#include "lvtsim/replay.h"

#include <sys/stat.h>

#include <cmath>
#include <stdexcept>

#include "lvtwire/frame_format.h"
#include "vyxrec/mcap_playback.h"
#include "vyxrec/recording.h"
#include "vyxrec/recording_error.h"

namespace lvtsim {
namespace {

// A header word that must hold a whole byte count of at least `min`.
bool wholeCount(float v, double min, double limit) {
  return std::isfinite(v) && v >= min && v <= limit && std::floor(v) == v;
}

bool isRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

ReplayRecording loadMcap(const std::string& path) {
  vyxrec::McapPlayback playback(path);
  vyxrec::PlaybackFrame frame;
  ReplayRecording out;
  uint64_t first = 0, last = 0;
  while (playback.next(frame)) {
    if (frame.camera != 0 || !frame.hasRaw) continue;
    try {
      splitFrame(frame.raw);
    } catch (const std::invalid_argument& e) {
      throw vyxrec::RecordingError(path,
                                   "raw frame " + std::to_string(frame.sequence) + ": " + e.what());
    }
    if (out.frames.empty()) first = frame.stampNs;
    last = frame.stampNs;
    out.frames.push_back(frame.raw);
  }
  if (out.frames.empty()) throw vyxrec::RecordingError(path, "holds no raw frames to replay");
  if (out.frames.size() > 1 && last > first)
    out.framesPerSecond =
        static_cast<double>(out.frames.size() - 1) * 1e9 / static_cast<double>(last - first);
  return out;
}

}  // namespace

std::vector<std::vector<uint8_t>> splitFrame(const std::vector<uint8_t>& frame) {
  std::vector<std::vector<uint8_t>> blocks;
  size_t offset = 0;
  while (offset < frame.size()) {
    const std::string where = "image block at byte " + std::to_string(offset);
    const size_t left = frame.size() - offset;
    if (left < 8) throw std::invalid_argument(where + ": header cut short");
    const float size = lvtwire::getFloatBE(frame.data() + offset);
    const float headerSize = lvtwire::getFloatBE(frame.data() + offset + lvtwire::kWordBytes);
    if (!wholeCount(headerSize, 8, static_cast<double>(left)))
      throw std::invalid_argument(where + ": bad header size");
    if (!wholeCount(size, 0, static_cast<double>(left)))
      throw std::invalid_argument(where + ": bad data size");
    const size_t length = static_cast<size_t>(headerSize) + static_cast<size_t>(size);
    if (length > left) throw std::invalid_argument(where + ": runs past the end of the frame");
    const auto begin = frame.begin() + static_cast<std::ptrdiff_t>(offset);
    blocks.emplace_back(begin, begin + static_cast<std::ptrdiff_t>(length));
    offset += length;
  }
  return blocks;
}

std::vector<std::vector<uint8_t>> loadReplayFrames(const std::string& path) {
  return loadReplay(path).frames;
}

ReplayRecording loadReplay(const std::string& path) {
  const std::string& dir = path;
  if (isRegularFile(dir)) return loadMcap(dir);
  const vyxrec::Recording recording = vyxrec::openRecording(dir);
  std::vector<std::vector<uint8_t>> frames;
  for (const vyxrec::RecordedFrame& f : recording.frames) {
    if (f.rawPath.empty() && recording.manifest)
      throw vyxrec::RecordingError(vyxrec::manifestPath(dir),
                                   "frame " + std::to_string(f.index) +
                                       " has no raw file (record with --write raw to replay)");
    frames.push_back(vyxrec::readRawFrame(f));
    // Checked here, so that an error names the file rather than the camera's first answer.
    try {
      splitFrame(frames.back());
    } catch (const std::invalid_argument& e) {
      throw vyxrec::RecordingError(f.rawPath, e.what());
    }
  }
  return {std::move(frames), 0.0};
}

}  // namespace lvtsim
