// Camera recordings with known content, for the tests, benchmarks and fuzz
// seeds of the records library (link vyxrecords_mcap): every pixel, raw byte,
// stamp and lens model follows from the camera and frame number, so whatever
// reads a recording back can be checked against the truth.
#ifndef VYX_TESTS_RECORDING_FIXTURE_H
#define VYX_TESTS_RECORDING_FIXTURE_H

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "lvtwire/frame_format.h"
#include "vyxdatadescription.h"
#include "vyxrec/mcap_recorder.h"

namespace vyxtest {

constexpr uint32_t kRecWidth = lvtwire::kColumns;
constexpr uint32_t kRecHeight = lvtwire::kRows;
constexpr uint64_t kRecFirstStamp = 1700000000000000000ull;  // 2023-11-14, UTC
constexpr uint64_t kRecFramePeriod = 40000000ull;            // 25 frames/s

inline std::string recCameraName(unsigned camera) { return "cam" + std::to_string(camera); }
inline uint64_t recStamp(uint64_t frame) { return kRecFirstStamp + frame * kRecFramePeriod; }

// A pixel as a camera gives it: a smooth scene plus noise in the low bits, so
// it compresses about as little as real distances do. `image` 0 distance, 1 amplitude.
inline float recPixel(unsigned camera, uint64_t frame, unsigned image, unsigned i) {
  uint32_t h = static_cast<uint32_t>(frame * 2654435761u) ^ (i * 40503u) ^ (camera << 24) ^ image;
  h ^= h >> 15;
  h *= 2246822519u;
  h ^= h >> 13;
  const unsigned row = i / kRecWidth, column = i % kRecWidth;
  const volatile float scene = 1.0f + 0.0005f * static_cast<float>(column + 3 * row);
  // Through memory: the x87 unit of the 32-bit build would otherwise hand back more precision
  // than a stored float has, and the same pixel would compare unequal to itself.
  const volatile float value =
      (image == 0 ? scene : 400.0f / scene) + static_cast<float>(h & 0xFFFF) * 1e-6f;
  return value;
}

struct RecFrame {
  std::vector<float> distance, amplitude;
  std::vector<uint8_t> raw;
  VYXDataDescription description{};
};

// The raw block: two images with 68-byte headers, the pixels' big-endian words.
inline void recFill(unsigned camera, uint64_t frame, RecFrame& f) {
  const uint32_t pixels = kRecWidth * kRecHeight;
  f.distance.resize(pixels);
  f.amplitude.resize(pixels);
  for (uint32_t i = 0; i < pixels; ++i) {
    f.distance[i] = recPixel(camera, frame, 0, i);
    f.amplitude[i] = recPixel(camera, frame, 1, i);
  }
  const uint32_t header = lvtwire::kShortHeader.bytes;
  f.raw.assign(2 * (header + pixels * 4), 0);
  for (unsigned image = 0; image < 2; ++image) {
    uint8_t* block = f.raw.data() + image * (header + pixels * 4);
    for (uint32_t w = 0; w < header / 4; ++w) block[w * 4 + 3] = static_cast<uint8_t>(frame + w);
    const float* src = image == 0 ? f.distance.data() : f.amplitude.data();
    for (uint32_t i = 0; i < pixels; ++i) {
      uint32_t u;
      std::memcpy(&u, &src[i], 4);
      for (int b = 0; b < 4; ++b)
        block[header + i * 4 + b] = static_cast<uint8_t>(u >> (24 - 8 * b));
    }
  }
  f.description = VYXDataDescription{};
  f.description.PID = 0x4C56;
  f.description.DID = camera;
  f.description.type = VYX_TYPE_50003;
  f.description.size = static_cast<uint32_t>(f.raw.size());
  f.description.subHeaderType = VYX_SUBHEADER_IMAGE;
  f.description.std.numColumns = kRecWidth;
  f.description.std.numRows = kRecHeight;
  f.description.std.numSubImages = 2;
  f.description.std.timeStampLo = static_cast<uint32_t>(frame);
}

// The lens model of a camera; it changes at `frame` 0 and again at 50.
inline vyxrec::ros2::CameraInfo recInfo(unsigned camera, uint64_t frame) {
  vyxrec::ros2::CameraInfo info;
  info.stampNs = recStamp(frame);
  info.width = kRecWidth;
  info.height = kRecHeight;
  const double f = 80.0 + camera + (frame >= 50 ? 1.5 : 0.0);
  info.k = {f, 0, 31.5, 0, f, 24.5, 0, 0, 1};
  info.p = {f, 0, 31.5, 0, 0, f, 24.5, 0, 0, 0, 1, 0};
  info.d = {-0.25, 0.125, 0.001, -0.002, 0.03125};
  return info;
}

inline vyxrec::RecorderFrame recView(const RecFrame& f, uint64_t frame) {
  vyxrec::RecorderFrame v;
  v.stampNs = recStamp(frame);
  v.description = &f.description;
  v.raw = f.raw.data();
  v.rawSize = f.raw.size();
  v.distance = f.distance.data();
  v.amplitude = f.amplitude.data();
  v.width = kRecWidth;
  v.height = kRecHeight;
  return v;
}

inline const char* recManifest() { return "{\"tool\": \"test\", \"frames\": \"known\"}"; }
inline std::string recCounters(uint64_t frames) {
  return "{\"frames\": " + std::to_string(frames) + "}";
}

// Records `frames` frames from each of `cameras` cameras, interleaved, with the
// lens model at the start and when it changes, and finishes the file.
inline void recWrite(const std::string& path, unsigned cameras, uint64_t frames,
                     const vyxrec::McapWriterOptions& options = {},
                     const std::string& manifest = recManifest()) {
  vyxrec::McapRecorder rec(path, manifest, options);
  std::vector<int> handles;
  for (unsigned c = 0; c < cameras; ++c) handles.push_back(rec.addCamera(recCameraName(c)));
  RecFrame f;
  for (uint64_t n = 0; n < frames; ++n) {
    for (unsigned c = 0; c < cameras; ++c) {
      rec.cameraInfo(handles[c], recInfo(c, n));
      recFill(c, n, f);
      rec.record(handles[c], recView(f, n));
    }
  }
  rec.finish(recCounters(frames * cameras));
}

}  // namespace vyxtest

#endif
