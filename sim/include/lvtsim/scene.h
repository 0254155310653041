// Deterministic synthetic scene: a tilted wall with a sphere swinging in front of it.
#pragma once

#include <cstdint>
#include <vector>

#include "lvtsim/camera.h"

namespace lvtsim {

// The motion repeats with this period, so frames n and n + kScenePeriod render identically.
constexpr uint64_t kScenePeriod = 120;

// The amplitude a pixel cannot exceed: the sensor is full.
constexpr float kAmplitudeSaturation = 3000.0f;

// Image data for an image type and frame number, exposed for integrationTime microseconds:
// columns * rows big-endian floats, row-major. Type 1: radial distance in metres; 2: amplitude,
// proportional to the integration time (about 10 to 935 at 1000 us) with 2 % seeded noise and
// saturating at kAmplitudeSaturation; 8, 9, 10: x, y, z in metres (camera coordinates); any
// other type: all zero. Range noise falls as the amplitude rises. Depends only on columns, rows
// and seed of the config.
std::vector<uint8_t> renderImage(const CameraConfig& cfg, int imageType, uint64_t frame,
                                 int32_t integrationTime);
// At the config's initial integration time 0 (cfg.frontend[lvtwire::frontend::kItime0]).
std::vector<uint8_t> renderImage(const CameraConfig& cfg, int imageType, uint64_t frame);

}  // namespace lvtsim
