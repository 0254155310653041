#include "frame_encoding.h"

#include <cstring>
#include <stdexcept>

namespace vyxview {

// The plug-in writes the images in the host's byte order; the page reads them little-endian.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the frame message needs a little-endian host");

namespace {

constexpr unsigned kImages = 2;

template <typename T>
void put(std::string& out, size_t offset, T value) {
  static_assert(sizeof(T) == 4 || sizeof(T) == 8, "32- or 64-bit values only");
  std::memcpy(&out[offset], &value, sizeof value);
}

}  // namespace

std::string frameMessage(size_t pixels) {
  return std::string(kFrameHeaderBytes + kImages * pixels * sizeof(float), '\0');
}

char* imageData(std::string& message, size_t pixels, unsigned image) {
  return &message[kFrameHeaderBytes + image * pixels * sizeof(float)];
}

void writeFrameHeader(std::string& message, const FrameHeader& h) {
  const size_t pixels = size_t{h.rows} * h.columns;
  if (message.size() != kFrameHeaderBytes + kImages * pixels * sizeof(float)) {
    throw std::invalid_argument("frame images do not match their shape");
  }
  std::memcpy(&message[0], "LVTF", 4);
  put(message, 4, kFrameHeaderBytes);
  put(message, 8, h.number);
  put(message, 16, h.updateUnixMs);
  put(message, 24, h.rows);
  put(message, 28, h.columns);
  put(message, 32, h.distanceScale);
  put(message, 36, h.itime0);
  put(message, 40, h.itime1);
  put(message, 44, uint32_t{kImages});
}

}  // namespace vyxview
