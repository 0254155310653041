// A small ray caster: a pinhole camera looks at a wall tilted away to the right, with a sphere
// swinging left and right in front of it. Distances come out between about 1 m (sphere) and
// 3.3 m (far wall corner); the amplitude falls off with distance and carries a tile texture.
#include "lvtsim/scene.h"

#include <algorithm>
#include <cmath>

#include "lvtwire/frame_format.h"

namespace lvtsim {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kHalfFov = 30.0 * kPi / 180.0;  // horizontal

struct Vec {
  double x, y, z;
};
double dot(const Vec& a, const Vec& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec scale(const Vec& a, double s) { return {a.x * s, a.y * s, a.z * s}; }
Vec sub(const Vec& a, const Vec& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }

uint64_t mix(uint64_t z) {
  z += 0x9e3779b97f4a7c15ULL;
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

// Uniform in [-1, 1), fixed by seed, frame and pixel.
double noise(uint32_t seed, uint64_t frame, uint64_t pixel, uint64_t channel) {
  const uint64_t h = mix(mix(mix(uint64_t{seed} ^ (channel << 32)) ^ frame) ^ pixel);
  return static_cast<double>(h >> 40) / static_cast<double>(uint64_t{1} << 23) - 1.0;
}

// Wall: z = kWallZ + kWallTiltX * x + kWallTiltY * y.
constexpr double kWallZ = 2.1, kWallTiltX = 0.3, kWallTiltY = -0.12;
constexpr double kSphereRadius = 0.32;

struct Hit {
  double t;       // distance along the unit ray, metres
  double cosine;  // between ray and surface normal
  double albedo;
};

Hit castRay(const Vec& d, const Vec& centre, uint32_t seed) {
  const double tWall = kWallZ / (d.z - kWallTiltX * d.x - kWallTiltY * d.y);
  const Vec wallNormal =
      scale(Vec{-kWallTiltX, -kWallTiltY, 1.0},
            1.0 / std::sqrt(kWallTiltX * kWallTiltX + kWallTiltY * kWallTiltY + 1.0));
  const Vec p = scale(d, tWall);
  // 25 cm tiles whose offset depends on the seed, so different seeds look different.
  const double shift = static_cast<double>(seed % 97) * 0.013;
  const auto tile = static_cast<int64_t>(std::floor((p.x + shift) / 0.25)) +
                    static_cast<int64_t>(std::floor((p.y - shift) / 0.25));
  Hit hit{tWall, std::fabs(dot(d, wallNormal)), (tile & 1) != 0 ? 0.55 : 0.85};

  const double b = dot(d, centre);
  const double disc = b * b - (dot(centre, centre) - kSphereRadius * kSphereRadius);
  if (disc >= 0.0) {
    const double t = b - std::sqrt(disc);
    if (t > 0.0 && t < hit.t) {
      const Vec n = scale(sub(scale(d, t), centre), 1.0 / kSphereRadius);
      const double band = std::fabs(n.y) < 0.12 ? 0.6 : 1.0;  // a darker equator stripe
      hit = {t, std::fabs(dot(d, n)), band};
    }
  }
  return hit;
}

}  // namespace

std::vector<uint8_t> renderImage(const CameraConfig& cfg, int imageType, uint64_t frame) {
  return renderImage(cfg, imageType, frame, cfg.frontend[lvtwire::frontend::kItime0]);
}

std::vector<uint8_t> renderImage(const CameraConfig& cfg, int imageType, uint64_t frame,
                                 int32_t integrationTime) {
  // Light collected grows with the exposure; 1000 us is the scene's reference exposure.
  const double exposure = std::max(1, integrationTime) / 1000.0;
  const size_t cols = cfg.columns, rows = cfg.rows;
  std::vector<uint8_t> out(cols * rows * 4, 0);
  const bool known = imageType == 1 || imageType == 2 || (imageType >= 8 && imageType <= 10);
  if (!known || cols == 0 || rows == 0) return out;

  const uint64_t f = frame % kScenePeriod;
  const double phase = 2.0 * kPi * static_cast<double>(f) / static_cast<double>(kScenePeriod);
  const Vec centre{0.35 * std::sin(phase), 0.05 + 0.05 * std::cos(2.0 * phase), 1.3};
  const double focal = (static_cast<double>(cols) / 2.0) / std::tan(kHalfFov);

  for (size_t r = 0; r < rows; ++r) {
    for (size_t c = 0; c < cols; ++c) {
      const uint64_t pixel = r * cols + c;
      const Vec ray{(static_cast<double>(c) + 0.5 - static_cast<double>(cols) / 2.0) / focal,
                    (static_cast<double>(r) + 0.5 - static_cast<double>(rows) / 2.0) / focal, 1.0};
      const Vec d = scale(ray, 1.0 / std::sqrt(dot(ray, ray)));
      const Hit hit = castRay(d, centre, cfg.seed);
      const double amplitude =
          std::min(static_cast<double>(kAmplitudeSaturation),
                   std::max(1.0, 900.0 * exposure * hit.albedo * hit.cosine / (hit.t * hit.t) *
                                     (1.0 + 0.02 * noise(cfg.seed, f, pixel, 2))));
      // Range noise grows where little light comes back, as on a real sensor.
      const double t = hit.t + 0.004 * noise(cfg.seed, f, pixel, 1) * 300.0 / amplitude;
      double value = 0.0;
      switch (imageType) {
        case 1:
          value = t;
          break;
        case 2:
          value = amplitude;
          break;
        case 8:
          value = t * d.x;
          break;
        case 9:
          value = t * d.y;
          break;
        default:
          value = t * d.z;
          break;
      }
      lvtwire::putFloatBE(out.data() + 4 * pixel, static_cast<float>(value));
    }
  }
  return out;
}

}  // namespace lvtsim
