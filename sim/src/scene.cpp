// A small ray caster: the camera, through its lens, looks at a wall tilted away to the right,
// with a sphere swinging left and right in front of it. Distances come out between about 1 m
// (sphere) and 3.3 m (far wall corner); the amplitude falls off with distance and carries a tile
// texture. Pixels on the sphere's rim see both and read a distance between them.
#include "lvtsim/scene.h"

#include <algorithm>
#include <cmath>

#include "lvtsim/checkerboard_scene.h"
#include "lvtwire/frame_format.h"
#include "scene_noise.h"

namespace lvtsim {
namespace {

constexpr double kPi = 3.14159265358979323846;

struct Vec {
  double x, y, z;
};
double dot(const Vec& a, const Vec& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec scale(const Vec& a, double s) { return {a.x * s, a.y * s, a.z * s}; }
Vec sub(const Vec& a, const Vec& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }

// Wall: z = kWallZ + kWallTiltX * x + kWallTiltY * y.
constexpr double kWallZ = 2.1, kWallTiltX = 0.3, kWallTiltY = -0.12;
constexpr double kSphereRadius = 0.32;
// Sub-pixels per side where a pixel may straddle an edge.
constexpr int kSubPixels = 4;

struct Hit {
  double t = 0.0;      // distance along the unit ray, metres
  double light = 0.0;  // albedo * cosine / t^2: the amplitude at the reference exposure / 900
  PixelSurface surface = PixelSurface::Nothing;
};

Hit castRay(const Vec& d, const Vec& centre, uint32_t seed) {
  Hit hit;
  const double facing = d.z - kWallTiltX * d.x - kWallTiltY * d.y;
  if (facing > 1e-9) {
    const double tWall = kWallZ / facing;
    const Vec wallNormal =
        scale(Vec{-kWallTiltX, -kWallTiltY, 1.0},
              1.0 / std::sqrt(kWallTiltX * kWallTiltX + kWallTiltY * kWallTiltY + 1.0));
    const Vec p = scale(d, tWall);
    // 25 cm tiles whose offset depends on the seed, so different seeds look different.
    const double shift = static_cast<double>(seed % 97) * 0.013;
    const auto tile = static_cast<int64_t>(std::floor((p.x + shift) / 0.25)) +
                      static_cast<int64_t>(std::floor((p.y - shift) / 0.25));
    const double albedo = (tile & 1) != 0 ? 0.55 : 0.85;
    hit = {tWall, albedo * std::fabs(dot(d, wallNormal)) / (tWall * tWall), PixelSurface::Wall};
  }

  const double b = dot(d, centre);
  const double disc = b * b - (dot(centre, centre) - kSphereRadius * kSphereRadius);
  if (disc >= 0.0) {
    const double t = b - std::sqrt(disc);
    if (t > 0.0 && (hit.surface == PixelSurface::Nothing || t < hit.t)) {
      const Vec n = scale(sub(scale(d, t), centre), 1.0 / kSphereRadius);
      const double band = std::fabs(n.y) < 0.12 ? 0.6 : 1.0;  // a darker equator stripe
      hit = {t, band * std::fabs(dot(d, n)) / (t * t), PixelSurface::Sphere};
    }
  }
  return hit;
}

Vec unitRay(const vyxhost::LensModel& lens, double u, double v) {
  const auto r = pixelRay(lens, u, v);
  return {r[0], r[1], r[2]};
}

// What one pixel sees: along its centre's ray, unless its area holds more than one surface;
// then, as on a real sensor, the light of all of them mixes into one distance between them.
struct Pixel {
  Vec ray;  // unit ray through the pixel's centre
  Hit hit;
};

Hit mixSubPixels(const CameraConfig& cfg, const Vec& centre, size_t c, size_t r,
                 const Hit& atCentre) {
  double lightSum = 0.0, weightedT = 0.0;
  unsigned seen = 0;  // bit per surface
  for (int j = 0; j < kSubPixels; ++j) {
    for (int i = 0; i < kSubPixels; ++i) {
      const double u = static_cast<double>(c) - 0.5 + (i + 0.5) / kSubPixels;
      const double v = static_cast<double>(r) - 0.5 + (j + 0.5) / kSubPixels;
      const Vec d = unitRay(cfg.lens, u, v);
      const Hit h = std::isfinite(d.z) ? castRay(d, centre, cfg.seed) : Hit{};
      seen |= 1u << static_cast<unsigned>(h.surface);
      lightSum += h.light;
      weightedT += h.light * h.t;
    }
  }
  if ((seen & (seen - 1)) == 0 || !(lightSum > 0.0)) return atCentre;  // one surface only
  return {weightedT / lightSum, lightSum / (kSubPixels * kSubPixels), PixelSurface::Mixed};
}

std::vector<Pixel> seePixels(const CameraConfig& cfg, uint64_t f) {
  const double phase = 2.0 * kPi * static_cast<double>(f) / static_cast<double>(kScenePeriod);
  const Vec centre{0.35 * std::sin(phase), 0.05 + 0.05 * std::cos(2.0 * phase), 1.3};
  const size_t cols = cfg.columns, rows = cfg.rows;
  std::vector<Pixel> px(cols * rows);
  for (size_t r = 0; r < rows; ++r) {
    for (size_t c = 0; c < cols; ++c) {
      Pixel& p = px[r * cols + c];
      p.ray = unitRay(cfg.lens, static_cast<double>(c), static_cast<double>(r));
      if (std::isfinite(p.ray.z)) p.hit = castRay(p.ray, centre, cfg.seed);
    }
  }
  // A pixel may straddle an edge where a neighbour's centre sees another surface.
  std::vector<PixelSurface> atCentre(px.size());
  for (size_t k = 0; k < px.size(); ++k) atCentre[k] = px[k].hit.surface;
  for (size_t r = 0; r < rows; ++r) {
    for (size_t c = 0; c < cols; ++c) {
      bool edge = false;
      for (size_t rr = r > 0 ? r - 1 : r; rr <= r + 1 && rr < rows; ++rr)
        for (size_t cc = c > 0 ? c - 1 : c; cc <= c + 1 && cc < cols; ++cc)
          edge = edge || atCentre[rr * cols + cc] != atCentre[r * cols + c];
      Pixel& p = px[r * cols + c];
      if (edge) p.hit = mixSubPixels(cfg, centre, c, r, p.hit);
    }
  }
  return px;
}

}  // namespace

vyxhost::LensModel simulatedLens() {
  vyxhost::LensModel lens = vyxhost::nominalLens();
  lens.source = "simulated camera: the lens it renders with";
  lens.nominal = false;
  return lens;
}

std::vector<uint8_t> renderImage(const CameraConfig& cfg, int imageType, uint64_t frame) {
  return renderImage(cfg, imageType, frame, cfg.frontend[lvtwire::frontend::kItime0]);
}

std::vector<uint8_t> renderImage(const CameraConfig& cfg, int imageType, uint64_t frame,
                                 int32_t integrationTime) {
  // Light collected grows with the exposure; 1000 us is the scene's reference exposure.
  if (cfg.scene == SceneKind::Checkerboard)
    return renderCheckerboard(cfg, imageType, frame, integrationTime);
  const double exposure = std::max(1, integrationTime) / 1000.0;
  const size_t cols = cfg.columns, rows = cfg.rows;
  std::vector<uint8_t> out(cols * rows * 4, 0);
  const bool known = imageType == 1 || imageType == 2 || (imageType >= 8 && imageType <= 10);
  if (!known || cols == 0 || rows == 0) return out;

  const uint64_t f = frame % kScenePeriod;
  const std::vector<Pixel> px = seePixels(cfg, f);
  for (uint64_t pixel = 0; pixel < px.size(); ++pixel) {
    const Vec& d = px[pixel].ray;
    const Hit& hit = px[pixel].hit;
    if (hit.surface == PixelSurface::Nothing) continue;  // no light, no reading: all 0
    const double amplitude =
        std::min(static_cast<double>(kAmplitudeSaturation),
                 std::max(1.0, 900.0 * exposure * hit.light *
                                   (1.0 + 0.02 * detail::sceneNoise(cfg.seed, f, pixel, 2))));
    // Range noise grows where little light comes back, as on a real sensor.
    const double t = hit.t + 0.004 * detail::sceneNoise(cfg.seed, f, pixel, 1) * 300.0 / amplitude;
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
  return out;
}

std::vector<PixelSurface> pixelSurfaces(const CameraConfig& cfg, uint64_t frame) {
  const std::vector<Pixel> px = seePixels(cfg, frame % kScenePeriod);
  std::vector<PixelSurface> out(px.size());
  for (size_t k = 0; k < px.size(); ++k) out[k] = px[k].hit.surface;
  return out;
}

}  // namespace lvtsim
