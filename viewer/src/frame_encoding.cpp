#include "frame_encoding.h"

#include <cstring>
#include <stdexcept>

namespace vyxview {

namespace {

// Appends the value's bytes in little-endian order, whatever the host's order.
template <typename T>
void put(std::string& out, T value) {
  static_assert(sizeof(T) == 4 || sizeof(T) == 8, "32- or 64-bit values only");
  using U = std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>;
  U bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  for (size_t i = 0; i < sizeof bits; ++i)
    out.push_back(static_cast<char>((bits >> (8 * i)) & 0xffU));
}

}  // namespace

std::string encodeFrame(const ViewFrame& f) {
  const size_t pixels = size_t{f.rows} * f.columns;
  if (f.distance.size() != pixels || f.amplitude.size() != pixels) {
    throw std::invalid_argument("frame images do not match their shape");
  }
  std::string out;
  out.reserve(kFrameHeaderBytes + 2 * pixels * sizeof(float));
  out.append("LVTF");
  put(out, kFrameHeaderBytes);
  put(out, f.number);
  put(out, f.updateUnixMs);
  put(out, f.rows);
  put(out, f.columns);
  put(out, f.distanceScale);
  put(out, f.itime0);
  put(out, f.itime1);
  put(out, uint32_t{2});
  for (const float v : f.distance) put(out, v);
  for (const float v : f.amplitude) put(out, v);
  return out;
}

}  // namespace vyxview
