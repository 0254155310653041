#include "sample_scaling.h"

#include <cmath>

namespace lvtgst {

uint16_t toSample(float value, double scale) {
  const double scaled = static_cast<double>(value) * scale;
  if (!std::isfinite(scaled) || scaled < 0.0) return 0;
  if (scaled >= 65535.0) return 65535;
  const double rounded = std::round(scaled);
  return rounded < 1.0 ? uint16_t{1} : static_cast<uint16_t>(rounded);
}

void toSamplesLE(const float* values, size_t count, double scale, uint8_t* out) {
  for (size_t i = 0; i < count; ++i) {
    const uint16_t sample = toSample(values[i], scale);
    out[2 * i] = static_cast<uint8_t>(sample & 0xffu);
    out[2 * i + 1] = static_cast<uint8_t>(sample >> 8);
  }
}

}  // namespace lvtgst
