// Deterministic synthetic scene: a tilted wall with a sphere swinging in front of it.
#pragma once

#include <cstdint>
#include <vector>

#include "lvtsim/camera.h"
#include "vyxhost/tof_filters.h"

namespace lvtsim {

// The motion repeats with this period, so frames n and n + kScenePeriod render identically.
constexpr uint64_t kScenePeriod = 120;

// The amplitude a pixel cannot exceed: the sensor is full.
constexpr float kAmplitudeSaturation = vyxhost::kFullAmplitude;

// Image data for an image type and frame number, exposed for integrationTime microseconds:
// columns * rows big-endian floats, row-major, pixel (u, v) seeing along cfg.lens's ray for
// (u, v). The scene: the wall z = 2.1 + 0.3 x - 0.12 y and a sphere of radius 0.32 m swinging
// in front of it (camera coordinates, metres). Type 1: radial distance in metres; 2: amplitude,
// proportional to the integration time (about 10 to 935 at 1000 us) with 2 % seeded noise and
// saturating at kAmplitudeSaturation; 8, 9, 10: x, y, z in metres, the distance times the unit
// ray; any other type: all zero. Range noise falls as the amplitude rises. A pixel that sees
// both wall and sphere reads one distance between them, their amplitude-weighted mean, like a
// real sensor's flying pixel. A pixel whose ray meets nothing reads 0 in every image. Depends
// only on columns, rows, seed and lens of the config.
std::vector<uint8_t> renderImage(const CameraConfig& cfg, int imageType, uint64_t frame,
                                 int32_t integrationTime);
// At the config's initial integration time 0 (cfg.frontend[lvtwire::frontend::kItime0]).
std::vector<uint8_t> renderImage(const CameraConfig& cfg, int imageType, uint64_t frame);

// What a pixel's area sees, the ground truth behind the images.
enum class PixelSurface : uint8_t { Wall, Sphere, Mixed, Nothing };
// Per pixel of frame, row-major.
std::vector<PixelSurface> pixelSurfaces(const CameraConfig& cfg, uint64_t frame);

}  // namespace lvtsim
