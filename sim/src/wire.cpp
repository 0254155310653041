#include "lvtsim/wire.h"

#include <cstring>
#include <stdexcept>

namespace lvtsim {

void putFloatBE(uint8_t* dst, float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  dst[0] = static_cast<uint8_t>(bits >> 24);
  dst[1] = static_cast<uint8_t>(bits >> 16);
  dst[2] = static_cast<uint8_t>(bits >> 8);
  dst[3] = static_cast<uint8_t>(bits);
}

float getFloatBE(const uint8_t* src) {
  const uint32_t bits = (uint32_t{src[0]} << 24) | (uint32_t{src[1]} << 16) |
                        (uint32_t{src[2]} << 8) | uint32_t{src[3]};
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

float wordAt(const std::vector<uint8_t>& bytes, size_t word) {
  if (word >= bytes.size() / 4) throw std::out_of_range("header word beyond the end of the data");
  return getFloatBE(bytes.data() + 4 * word);
}

}  // namespace lvtsim
