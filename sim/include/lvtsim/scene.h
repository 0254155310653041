// Deterministic synthetic scene: a tilted wall with a sphere swinging in front of it.
#pragma once

#include <cstdint>
#include <vector>

#include "lvtsim/camera.h"

namespace lvtsim {

// The motion repeats with this period, so frames n and n + kScenePeriod render identically.
constexpr uint64_t kScenePeriod = 120;

// Image data for an image type and frame number: columns * rows big-endian floats, row-major.
// Type 1: radial distance in metres; 2: amplitude; 8, 9, 10: x, y, z in metres (camera
// coordinates); any other type: all zero. Depends only on columns, rows and seed of the config.
std::vector<uint8_t> renderImage(const CameraConfig& cfg, int imageType, uint64_t frame);

}  // namespace lvtsim
