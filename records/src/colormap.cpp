#include "vyxrec/colormap.h"

#include <array>
#include <cmath>

namespace vyxrec {

namespace {

// Ten evenly spaced stops of the viridis scale; the colours between are interpolated linearly.
constexpr std::array<Rgb, 10> kStops = {{
    {0x44, 0x01, 0x54},
    {0x48, 0x28, 0x78},
    {0x3e, 0x4a, 0x89},
    {0x31, 0x68, 0x8e},
    {0x26, 0x82, 0x8e},
    {0x1f, 0x9e, 0x89},
    {0x35, 0xb7, 0x79},
    {0x6d, 0xcd, 0x59},
    {0xb4, 0xde, 0x2c},
    {0xfd, 0xe7, 0x25},
}};

uint8_t blend(uint8_t a, uint8_t b, float f) {
  return static_cast<uint8_t>(
      std::lround(static_cast<float>(a) + (static_cast<float>(b) - static_cast<float>(a)) * f));
}

}  // namespace

Rgb colormap(float t) {
  if (!(t > 0.0f)) return kStops.front();  // also NaN
  if (t >= 1.0f) return kStops.back();
  const float position = t * static_cast<float>(kStops.size() - 1);
  const auto index = static_cast<size_t>(position);
  const float f = position - static_cast<float>(index);
  const Rgb& a = kStops[index];
  const Rgb& b = kStops[index + 1];
  return {blend(a.r, b.r, f), blend(a.g, b.g, f), blend(a.b, b.b, f)};
}

}  // namespace vyxrec
