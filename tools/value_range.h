// The span of the finite values of a float image, and the image scaled over that span to the
// 16-bit range of a grayscale PNG.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vyxgrab {

struct ValueRange {
  float min = 0.0f, max = 0.0f;
  bool empty = true;  // no finite value at all
};

// NaN and the infinities are left out.
ValueRange finiteRange(const float* values, size_t count);

// Where value lies in the range: 0 at min, 1 at max. A range of a single value maps it to 0.5.
float normalise(float value, const ValueRange& range);

// min maps to 0, max to 65535, linearly with rounding; values that are not finite map to 0.
std::vector<uint16_t> scaleToGray16(const float* values, size_t count, const ValueRange& range);

}  // namespace vyxgrab
