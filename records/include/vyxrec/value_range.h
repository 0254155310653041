// The span of the finite values of a float image, and the image scaled over that span to the
// 16-bit range of a grayscale PNG.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vyxrec {

struct ValueRange {
  float min = 0.0f, max = 0.0f;
  bool empty = true;  // no finite value at all
};

// NaN and the infinities are left out.
ValueRange finiteRange(const float* values, size_t count);

// Where value lies in the range: 0 at min, 1 at max. A range of a single value maps it to 0.5.
float normalise(float value, const ValueRange& range);

// The 16-bit samples: finite values span kGray16Min..kGray16Max, so that 0 means "no value"
// (NaN or infinite) and never a measurement.
constexpr uint16_t kGray16Invalid = 0;
constexpr uint16_t kGray16Min = 1;
constexpr uint16_t kGray16Max = 65535;

// min maps to kGray16Min, max to kGray16Max, linearly with rounding, values outside clamped;
// values that are not finite map to kGray16Invalid. A range of one value maps it to kGray16Min.
std::vector<uint16_t> scaleToGray16(const float* values, size_t count, const ValueRange& range);

}  // namespace vyxrec
