// A perceptual colour scale for the previews: dark blue-violet for the smallest value through
// teal and green to yellow for the largest, with lightness rising evenly so that nearer and
// farther, brighter and darker read correctly, also in grey print and for colour-blind viewers.
#pragma once

#include <cstdint>

namespace vyxrec {

struct Rgb {
  uint8_t r, g, b;
};

inline bool operator==(const Rgb& a, const Rgb& b) {
  return a.r == b.r && a.g == b.g && a.b == b.b;
}
inline bool operator!=(const Rgb& a, const Rgb& b) { return !(a == b); }

// t = 0 gives the colour of the smallest value, t = 1 that of the largest; values outside are
// clamped and NaN counts as 0.
Rgb colormap(float t);

}  // namespace vyxrec
