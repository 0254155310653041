// Decoding of the camera's image header words: big-endian 32-bit floats that
// carry whole numbers.
#ifndef LVT_HEADERWORD_H
#define LVT_HEADERWORD_H

#include <cmath>
#include <cstdint>
#include <optional>

#include "lvtwire/frame_format.h"

namespace lvt {

// Word k of a header that holds at least k + 1 words.
inline float headerWord(const char* header, unsigned k) {
  return lvtwire::getFloatBE(header + lvtwire::kWordBytes * k);
}

// Truncates toward zero to a 64-bit integer and keeps its low 32 bits, so
// -1.0 reads 0xFFFFFFFF. No value for what is not a number or lies beyond
// the 64-bit range.
inline std::optional<uint32_t> wordToUnsigned(float value) {
  if (!std::isfinite(value) || std::fabs(value) >= 9.2233720368547758e18f) return std::nullopt;
  return static_cast<uint32_t>(static_cast<uint64_t>(static_cast<int64_t>(value)));
}

// Truncates toward zero to a signed 32-bit integer, saturating at the ends;
// a value that is not a number counts as -1 (not valid).
inline int32_t wordToValidity(float value) {
  if (std::isnan(value)) return -1;
  if (value >= 2147483648.0f) return INT32_MAX;
  if (value <= -2147483648.0f) return INT32_MIN;
  return static_cast<int32_t>(value);
}

}  // namespace lvt

#endif
