#include "frame_encoding.h"

#include <cstring>
#include <stdexcept>

namespace vyxview {

// The images are copied in the host's byte order; the page reads them little-endian.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the frame message needs a little-endian host");

namespace {

template <typename T>
void put(std::string& out, size_t offset, T value) {
  static_assert(sizeof(T) == 4 || sizeof(T) == 8, "32- or 64-bit values only");
  std::memcpy(&out[offset], &value, sizeof value);
}

void putFloats(std::string& out, size_t offset, const std::vector<float>& values) {
  if (!values.empty()) std::memcpy(&out[offset], values.data(), values.size() * sizeof(float));
}

}  // namespace

std::string frameMessage(const FrameHeader& h, const vyxhost::DepthImages& images, bool points) {
  const size_t pixels = images.shape.pixels();
  if (images.distance.size() != pixels || images.amplitude.size() != pixels ||
      (points && images.xyz.size() != 3 * pixels)) {
    throw std::invalid_argument("frame images do not match their shape");
  }
  const size_t imageBytes = pixels * sizeof(float);
  std::string message(kFrameHeaderBytes + (points ? 5 : 2) * imageBytes, '\0');
  std::memcpy(&message[0], "LVTF", 4);
  put(message, 4, kFrameHeaderBytes);
  put(message, 8, h.number);
  put(message, 16, h.updateUnixMs);
  put(message, 24, images.shape.rows);
  put(message, 28, images.shape.columns);
  put(message, 32, h.distanceScale);
  put(message, 36, h.itime0);
  put(message, 40, h.itime1);
  put(message, 44, uint32_t{points ? 3u : 2u});
  put(message, 48, h.flags);
  put(message, 52, static_cast<uint32_t>(images.validCount));
  put(message, 56, h.replayFrames);
  putFloats(message, kFrameHeaderBytes, images.distance);
  putFloats(message, kFrameHeaderBytes + imageBytes, images.amplitude);
  if (points) putFloats(message, kFrameHeaderBytes + 2 * imageBytes, images.xyz);
  return message;
}

}  // namespace vyxview
