#include "vyxrec/value_range.h"

#include <cmath>

namespace vyxrec {

ValueRange finiteRange(const float* values, size_t count) {
  ValueRange range;
  for (size_t i = 0; i < count; ++i) {
    const float v = values[i];
    if (!std::isfinite(v)) continue;
    if (range.empty) {
      range.min = range.max = v;
      range.empty = false;
    } else if (v < range.min) {
      range.min = v;
    } else if (v > range.max) {
      range.max = v;
    }
  }
  return range;
}

float normalise(float value, const ValueRange& range) {
  // Double precision: max - min of two large finite floats may overflow a float.
  const double span = static_cast<double>(range.max) - range.min;
  if (!(span > 0.0)) return 0.5f;
  return static_cast<float>((static_cast<double>(value) - range.min) / span);
}

std::vector<uint16_t> scaleToGray16(const float* values, size_t count, const ValueRange& range) {
  std::vector<uint16_t> out(count, kGray16Invalid);
  const bool flat = range.empty || !(range.max > range.min);
  for (size_t i = 0; i < count; ++i) {
    if (!std::isfinite(values[i])) continue;
    const double t = flat ? 0.0 : normalise(values[i], range);
    const double clamped = t < 0.0 ? 0.0 : (t > 1.0 ? 1.0 : t);
    out[i] = static_cast<uint16_t>(kGray16Min + std::lround(clamped * (kGray16Max - kGray16Min)));
  }
  return out;
}

}  // namespace vyxrec
