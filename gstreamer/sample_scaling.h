// How the element turns the processing plug-in's float images into 16-bit samples.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lvtgst {

// value * scale, rounded and clamped to 1..65535. 0 is kept for "no value":
// NaN, infinities and negative readings, which no distance or amplitude can be.
uint16_t toSample(float value, double scale);

// Converts count floats into count samples, written little-endian (2 * count bytes).
void toSamplesLE(const float* values, size_t count, double scale, uint8_t* out);

}  // namespace lvtgst
