// The binary WebSocket message that carries one frame to the page. All numbers
// little-endian:
//   offset  0  4 bytes  "LVTF"
//           4  u32      header length in bytes (48); the images start here
//           8  u64      frame number (frames delivered by the camera since the viewer started)
//          16  f64      when vyxpUpdate returned, milliseconds since 1970-01-01 UTC
//          24  u32      rows
//          28  u32      columns
//          32  f32      scale: metres per distance value
//          36  u32      integration time 0 of the frame, microseconds
//          40  u32      integration time 1 of the frame, microseconds
//          44  u32      image count (2: distance, then amplitude)
//   then per image rows * columns f32, row after row.
//
// The images are converted by the plug-in straight into the message: frameMessage() makes the
// room, imageData() says where each image goes, writeFrameHeader() fills in the rest.
#pragma once

#include <cstdint>
#include <string>

namespace vyxview {

constexpr uint32_t kFrameHeaderBytes = 48;

struct FrameHeader {
  uint64_t number = 0;
  double updateUnixMs = 0;
  uint32_t rows = 0, columns = 0;
  float distanceScale = 1.0f;
  uint32_t itime0 = 0, itime1 = 0;
};

// A message with room for two images of `pixels` floats each; header and images zero.
std::string frameMessage(size_t pixels);
// Where image 0 (distance) or 1 (amplitude) of a message made for `pixels` starts.
char* imageData(std::string& message, size_t pixels, unsigned image);
// Throws std::invalid_argument when the message has no room for the header's rows * columns.
void writeFrameHeader(std::string& message, const FrameHeader& header);

}  // namespace vyxview
