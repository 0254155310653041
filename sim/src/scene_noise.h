// Seeded noise for the synthetic scenes: the same seed, frame and pixel always give the same
// value, so rendered images can be cached and compared.
#pragma once

#include <cstdint>

namespace lvtsim::detail {

inline uint64_t mixBits(uint64_t z) {
  z += 0x9e3779b97f4a7c15ULL;
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

// Uniform in [-1, 1), fixed by seed, frame, pixel and channel.
inline double sceneNoise(uint32_t seed, uint64_t frame, uint64_t pixel, uint64_t channel) {
  const uint64_t h = mixBits(mixBits(mixBits(uint64_t{seed} ^ (channel << 32)) ^ frame) ^ pixel);
  return static_cast<double>(h >> 40) / static_cast<double>(uint64_t{1} << 23) - 1.0;
}

}  // namespace lvtsim::detail
