#include "lvtsim/checkerboard_scene.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>

#include "lvtsim/scene.h"
#include "lvtwire/frame_format.h"
#include "scene_noise.h"
#include "vyxhost/calibration_target.h"
#include "vyxhost/lens.h"

namespace lvtsim {
namespace {

using Vec = std::array<double, 3>;
double dot(const Vec& a, const Vec& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
Vec scaled(const Vec& a, double s) { return {a[0] * s, a[1] * s, a[2] * s}; }
Vec minus(const Vec& a, const Vec& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
Vec plus(const Vec& a, const Vec& b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }

constexpr double kDegree = 3.14159265358979323846 / 180.0;
constexpr double kWallZ = 3.0;         // the plain wall behind the board
constexpr double kWallAlbedo = 0.35;   // painted wall
constexpr double kWhiteAlbedo = 0.8;   // paper
constexpr double kBlackAlbedo = 0.08;  // toner, in the near infrared
constexpr int kSubPixels = 8;          // per side: a pixel averages 64 rays over its area
constexpr double kEdgeMarginPx = 1.0;  // every square stays this far inside the image

const vyxhost::CheckerboardTarget& target() { return vyxhost::kShippedTarget; }
double halfWidth() { return (target().innerColumns + 1) * target().squareMetres / 2.0; }
double halfHeight() { return (target().innerRows + 1) * target().squareMetres / 2.0; }

// Low-discrepancy sequence: the fractional parts of k times irrational steps spread the poses
// evenly over each of their ranges.
double spread(uint64_t k, double step) {
  const double x = static_cast<double>(k + 1) * step;
  return x - std::floor(x);
}

Vec rotate(double tiltX, double tiltY, double roll, const Vec& v) {
  // Tilt about x, then about y, then turn in the image plane.
  const double cx = std::cos(tiltX), sx = std::sin(tiltX);
  const double cy = std::cos(tiltY), sy = std::sin(tiltY);
  const double cz = std::cos(roll), sz = std::sin(roll);
  const Vec a{v[0], cx * v[1] - sx * v[2], sx * v[1] + cx * v[2]};
  const Vec b{cy * a[0] + sy * a[2], a[1], -sy * a[0] + cy * a[2]};
  return {cz * b[0] - sz * b[1], sz * b[0] + cz * b[1], b[2]};
}

// True when the whole squares area of the board, rim included, projects inside the image.
bool squaresInView(const CameraConfig& cfg, const BoardPose& pose) {
  constexpr int kSteps = 8;  // points per side: a distorted edge bows between the corners
  const double hw = halfWidth(), hh = halfHeight();
  for (int i = 0; i <= kSteps; ++i) {
    const double f = -1.0 + 2.0 * i / kSteps;
    for (const auto& [x, y] : {std::pair{f * hw, -hh}, {f * hw, hh}, {-hw, f * hh}, {hw, f * hh}}) {
      const Vec p = plus(pose.centre, plus(scaled(pose.xAxis, x), scaled(pose.yAxis, y)));
      const auto uv = vyxhost::projectPoint(cfg.lens, p);
      if (!(uv[0] >= kEdgeMarginPx && uv[0] <= cfg.columns - 1 - kEdgeMarginPx &&
            uv[1] >= kEdgeMarginPx && uv[1] <= cfg.rows - 1 - kEdgeMarginPx))
        return false;
    }
  }
  return true;
}

// The unit rays of every sub-pixel, found once per lens and image size.
struct SubPixelRays {
  vyxhost::LensModel lens;
  unsigned columns = 0, rows = 0;
  std::vector<Vec> rays;    // kSubPixels^2 per pixel, row-major pixels
  std::vector<Vec> centre;  // the ray through each pixel's centre
};

bool sameLens(const vyxhost::LensModel& a, const vyxhost::LensModel& b) {
  return a.fx == b.fx && a.fy == b.fy && a.cx == b.cx && a.cy == b.cy &&
         a.distortion == b.distortion;
}

std::shared_ptr<const SubPixelRays> subPixelRays(const CameraConfig& cfg) {
  static std::mutex mu;
  static std::shared_ptr<const SubPixelRays> last;
  std::lock_guard<std::mutex> lock(mu);
  if (last && last->columns == cfg.columns && last->rows == cfg.rows &&
      sameLens(last->lens, cfg.lens))
    return last;
  auto table = std::make_shared<SubPixelRays>();
  table->lens = cfg.lens;
  table->columns = cfg.columns;
  table->rows = cfg.rows;
  table->rays.reserve(size_t{cfg.columns} * cfg.rows * kSubPixels * kSubPixels);
  for (unsigned r = 0; r < cfg.rows; ++r) {
    for (unsigned c = 0; c < cfg.columns; ++c) {
      table->centre.push_back(vyxhost::pixelRay(cfg.lens, c, r));
      for (int j = 0; j < kSubPixels; ++j)
        for (int i = 0; i < kSubPixels; ++i)
          table->rays.push_back(vyxhost::pixelRay(cfg.lens, c - 0.5 + (i + 0.5) / kSubPixels,
                                                  r - 0.5 + (j + 0.5) / kSubPixels));
    }
  }
  last = std::move(table);
  return last;
}

struct Hit {
  double t = 0.0;      // along the unit ray, metres
  double light = 0.0;  // albedo * cosine / t^2
};

Hit castRay(const Vec& d, const BoardPose& pose) {
  const double facing = dot(d, pose.normal);
  if (std::fabs(facing) > 1e-9) {
    const double t = dot(pose.centre, pose.normal) / facing;
    if (t > 0.0) {
      const Vec p = minus(scaled(d, t), pose.centre);
      const double x = dot(p, pose.xAxis), y = dot(p, pose.yAxis);
      const double hw = halfWidth(), hh = halfHeight(), margin = target().marginMetres;
      if (std::fabs(x) <= hw + margin && std::fabs(y) <= hh + margin) {
        double albedo = kWhiteAlbedo;
        if (std::fabs(x) < hw && std::fabs(y) < hh) {
          const auto col = static_cast<int64_t>(std::floor((x + hw) / target().squareMetres));
          const auto row = static_cast<int64_t>(std::floor((y + hh) / target().squareMetres));
          if ((col + row) % 2 == 0) albedo = kBlackAlbedo;  // the top-left square is black
        }
        return {t, albedo * std::fabs(facing) / (t * t)};
      }
    }
  }
  if (!(d[2] > 1e-9)) return {};
  const double t = kWallZ / d[2];
  return {t, kWallAlbedo * d[2] / (t * t)};
}

}  // namespace

BoardPose checkerboardPose(const CameraConfig& cfg, uint64_t frame) {
  const uint64_t k = frame % kScenePeriod;
  double distance = 0.6 + 1.4 * spread(k, std::sqrt(2.0));
  const double tiltX = 35.0 * kDegree * (2.0 * spread(k, std::sqrt(3.0)) - 1.0);
  const double tiltY = 35.0 * kDegree * (2.0 * spread(k, std::sqrt(5.0)) - 1.0);
  const double roll = 20.0 * kDegree * (2.0 * spread(k, std::sqrt(7.0)) - 1.0);
  const double middleU = (cfg.columns - 1) / 2.0, middleV = (cfg.rows - 1) / 2.0;
  const double aimU = spread(k, std::sqrt(11.0)) * (cfg.columns - 1);
  const double aimV = spread(k, std::sqrt(13.0)) * (cfg.rows - 1);

  BoardPose pose;
  pose.xAxis = rotate(tiltX, tiltY, roll, {1, 0, 0});
  pose.yAxis = rotate(tiltX, tiltY, roll, {0, 1, 0});
  pose.normal = rotate(tiltX, tiltY, roll, {0, 0, 1});
  // From the aimed spot towards the middle until every square is in view; where not even the
  // middle will do, a little farther away.
  for (int tries = 0; tries < 40; ++tries) {
    for (int step = 10; step >= 0; --step) {
      const double s = step / 10.0;
      const Vec ray = vyxhost::pixelRay(cfg.lens, middleU + s * (aimU - middleU),
                                        middleV + s * (aimV - middleV));
      if (!std::isfinite(ray[2])) continue;
      pose.centre = scaled(ray, distance);
      if (squaresInView(cfg, pose)) return pose;
    }
    distance *= 1.05;
  }
  return pose;  // a lens too narrow for the board: it shows partly
}

std::vector<uint8_t> renderCheckerboard(const CameraConfig& cfg, int imageType, uint64_t frame,
                                        int32_t integrationTime) {
  const double exposure = std::max(1, integrationTime) / 1000.0;
  const size_t pixels = size_t{cfg.columns} * cfg.rows;
  std::vector<uint8_t> out(pixels * 4, 0);
  const bool known = imageType == 1 || imageType == 2 || (imageType >= 8 && imageType <= 10);
  if (!known || pixels == 0) return out;

  const uint64_t f = frame % kScenePeriod;
  const BoardPose pose = checkerboardPose(cfg, f);
  const auto table = subPixelRays(cfg);
  constexpr int kRaysPerPixel = kSubPixels * kSubPixels;
  for (size_t pixel = 0; pixel < pixels; ++pixel) {
    const Vec& d = table->centre[pixel];
    if (!std::isfinite(d[2])) continue;  // the lens folds over here: no reading
    double lightSum = 0.0, weightedT = 0.0;
    for (int s = 0; s < kRaysPerPixel; ++s) {
      const Vec& ray = table->rays[pixel * kRaysPerPixel + s];
      if (!std::isfinite(ray[2])) continue;
      const Hit h = castRay(ray, pose);
      lightSum += h.light;
      weightedT += h.light * h.t;
    }
    if (!(lightSum > 0.0)) continue;
    const double light = lightSum / kRaysPerPixel;
    const double amplitude =
        std::min(static_cast<double>(kAmplitudeSaturation),
                 std::max(1.0, 900.0 * exposure * light *
                                   (1.0 + 0.02 * detail::sceneNoise(cfg.seed, f, pixel, 2))));
    const double t = weightedT / lightSum +
                     0.004 * detail::sceneNoise(cfg.seed, f, pixel, 1) * 300.0 / amplitude;
    double value = amplitude;
    switch (imageType) {
      case 1:
        value = t;
        break;
      case 2:
        break;
      default:
        value = t * d[static_cast<size_t>(imageType - 8)];
        break;
    }
    lvtwire::putFloatBE(out.data() + 4 * pixel, static_cast<float>(value));
  }
  return out;
}

}  // namespace lvtsim
