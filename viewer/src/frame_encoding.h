// The binary WebSocket message that carries one frame to the page. All numbers
// little-endian:
//   offset  0  4 bytes  "LVTF"
//           4  u32      header length in bytes (64); the images start here
//           8  u64      frame number (live: frames delivered since the viewer started;
//                       replay: the frame's index in the recording, from 0)
//          16  f64      when vyxpUpdate returned, milliseconds since 1970-01-01 UTC
//          24  u32      rows
//          28  u32      columns
//          32  f32      scale: metres per distance value
//          36  u32      integration time 0 of the frame, microseconds
//          40  u32      integration time 1 of the frame, microseconds
//          44  u32      image count: 2 (distance, amplitude) or 3 (then the points)
//          48  u32      flags: 1 the lens is nominal, 2 the filters are on
//          52  u32      valid pixels (those the filters kept)
//          56  u64      frames in the recording being replayed; 0 when live
//   then distance and amplitude, rows * columns f32 each, row after row; distance is NaN
//   where the filters found the pixel unusable; then, when the page asked for the 3D view,
//   the points: rows * columns * 3 f32 (x, y, z in metres, NaN where invalid).
#pragma once

#include <cstdint>
#include <string>

#include "vyxhost/depth.h"

namespace vyxview {

constexpr uint32_t kFrameHeaderBytes = 64;
constexpr uint32_t kFlagNominalLens = 1;
constexpr uint32_t kFlagFiltersOn = 2;

struct FrameHeader {
  uint64_t number = 0;
  double updateUnixMs = 0;
  float distanceScale = 1.0f;
  uint32_t itime0 = 0, itime1 = 0;
  uint32_t flags = 0;
  uint64_t replayFrames = 0;
};

// The message of one frame; with points, the images' xyz follow the two images.
// Throws std::invalid_argument when the images do not match their shape.
std::string frameMessage(const FrameHeader& header, const vyxhost::DepthImages& images,
                         bool points);

}  // namespace vyxview
