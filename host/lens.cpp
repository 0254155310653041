// The lens model's arithmetic: projection, its inverse per pixel, and points from distances.
#include "vyxhost/lens.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace vyxhost {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Distorted {
  double a, b;                // distorted normalised coordinates
  double daa, dab, dba, dbb;  // their derivatives by the undistorted a and b
};

Distorted distort(const LensModel& lens, double a, double b) {
  const auto& [k1, k2, p1, p2, k3] = lens.distortion;
  const double r2 = a * a + b * b;
  const double radial = 1.0 + r2 * (k1 + r2 * (k2 + r2 * k3));
  const double dRadial = k1 + r2 * (2.0 * k2 + 3.0 * k3 * r2);  // by r2
  Distorted d{};
  d.a = a * radial + 2.0 * p1 * a * b + p2 * (r2 + 2.0 * a * a);
  d.b = b * radial + p1 * (r2 + 2.0 * b * b) + 2.0 * p2 * a * b;
  d.daa = radial + 2.0 * a * a * dRadial + 2.0 * p1 * b + 6.0 * p2 * a;
  d.dab = 2.0 * a * b * dRadial + 2.0 * p1 * a + 2.0 * p2 * b;
  d.dba = d.dab;
  d.dbb = radial + 2.0 * b * b * dRadial + 6.0 * p1 * b + 2.0 * p2 * a;
  return d;
}

void requireFinite(double value, const char* field) {
  if (!std::isfinite(value))
    throw std::invalid_argument(std::string("lens: ") + field + " is not a finite number");
}

}  // namespace

LensModel lensFromMatrix(int width, int height, const double* k, const double* d, size_t dCount,
                         const std::string& source) {
  LensModel lens;
  lens.width = width;
  lens.height = height;
  lens.fx = k[0];
  lens.fy = k[4];
  lens.cx = k[2];
  lens.cy = k[5];
  for (size_t i = 0; i < lens.distortion.size() && i < dCount; ++i) lens.distortion[i] = d[i];
  const LensModel nominal = nominalLens();
  lens.nominal = lens.width == nominal.width && lens.height == nominal.height &&
                 lens.fx == nominal.fx && lens.fy == nominal.fy && lens.cx == nominal.cx &&
                 lens.cy == nominal.cy && lens.distortion == nominal.distortion;
  lens.source = lens.nominal ? nominal.source : source;
  return lens;
}

LensModel nominalLens() {
  constexpr double kPi = 3.14159265358979323846;
  LensModel lens;
  lens.width = 64;
  lens.height = 50;
  lens.fx = lens.fy = (lens.width / 2.0) / std::tan(30.0 * kPi / 180.0);
  lens.cx = (lens.width - 1) / 2.0;
  lens.cy = (lens.height - 1) / 2.0;
  lens.source = "nominal: 60 degree pinhole from the optics' data, not calibrated";
  lens.nominal = true;
  return lens;
}

void checkLens(const LensModel& lens) {
  if (lens.width <= 0) throw std::invalid_argument("lens: width must be positive");
  if (lens.height <= 0) throw std::invalid_argument("lens: height must be positive");
  requireFinite(lens.fx, "fx");
  requireFinite(lens.fy, "fy");
  if (lens.fx <= 0.0) throw std::invalid_argument("lens: fx must be positive");
  if (lens.fy <= 0.0) throw std::invalid_argument("lens: fy must be positive");
  requireFinite(lens.cx, "cx");
  requireFinite(lens.cy, "cy");
  for (double k : lens.distortion) requireFinite(k, "distortion");
}

std::array<double, 2> projectPoint(const LensModel& lens, const std::array<double, 3>& point) {
  if (!(point[2] > 0.0)) return {kNaN, kNaN};
  const Distorted d = distort(lens, point[0] / point[2], point[1] / point[2]);
  return {lens.fx * d.a + lens.cx, lens.fy * d.b + lens.cy};
}

std::array<double, 3> pixelRay(const LensModel& lens, double u, double v) {
  // Newton's method on distort(a, b) = target, from the undistorted guess. A lens without
  // distortion is solved before the first step, so its rays are exact.
  const double ta = (u - lens.cx) / lens.fx, tb = (v - lens.cy) / lens.fy;
  double a = ta, b = tb;
  bool solved = false;
  for (int step = 0; step < 50 && !solved; ++step) {
    const Distorted d = distort(lens, a, b);
    const double ea = ta - d.a, eb = tb - d.b;
    if (std::fabs(ea * lens.fx) < 1e-10 && std::fabs(eb * lens.fy) < 1e-10) {
      // A lens that folds over here maps other rays to this pixel too: no unique answer.
      solved = d.daa * d.dbb - d.dab * d.dba > 0.0;
      break;
    }
    const double det = d.daa * d.dbb - d.dab * d.dba;
    if (!(std::fabs(det) > 1e-12)) break;
    a += (d.dbb * ea - d.dab * eb) / det;
    b += (d.daa * eb - d.dba * ea) / det;
  }
  if (!solved || !std::isfinite(a) || !std::isfinite(b)) return {kNaN, kNaN, kNaN};
  const double inv = 1.0 / std::sqrt(a * a + b * b + 1.0);
  return {a * inv, b * inv, inv};
}

RayTable::RayTable(const LensModel& lens) : lens_(lens) {
  checkLens(lens_);
  const auto w = static_cast<size_t>(lens_.width), h = static_cast<size_t>(lens_.height);
  rays_.resize(w * h * 3);
  float* out = rays_.data();
  for (size_t v = 0; v < h; ++v) {
    for (size_t u = 0; u < w; ++u) {
      const auto ray = pixelRay(lens_, static_cast<double>(u), static_cast<double>(v));
      for (double c : ray) *out++ = static_cast<float>(c);
    }
  }
}

void deproject(const RayTable& table, const float* distance, float* xyz, const uint8_t* valid) {
  const size_t n = table.pixels();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  constexpr float kInf = std::numeric_limits<float>::infinity();
  // In chunks, two loops without branches the compiler turns into vector code: the factor of
  // each pixel (its distance or NaN), then the rays times their pixel's factor.
  constexpr size_t kChunk = 256;
  float scale[kChunk];
  for (size_t start = 0; start < n; start += kChunk) {
    const size_t count = std::min(kChunk, n - start);
    const float* d = distance + start;
    if (valid == nullptr) {
      for (size_t i = 0; i < count; ++i)
        scale[i] = static_cast<int>(d[i] > 0.0f) & static_cast<int>(d[i] < kInf) ? d[i] : nan;
    } else {
      const uint8_t* v = valid + start;
      for (size_t i = 0; i < count; ++i)
        scale[i] = static_cast<int>(d[i] > 0.0f) & static_cast<int>(d[i] < kInf) &
                           static_cast<int>(v[i] != 0)
                       ? d[i]
                       : nan;
    }
    const float* r = table.rays() + 3 * start;
    float* o = xyz + 3 * start;
    size_t i = 0;
    for (; i + 4 <= count; i += 4)  // twelve coordinates: three whole vector multiplications
      for (size_t k = 0; k < 12; ++k) o[3 * i + k] = scale[i + k / 3] * r[3 * i + k];
    for (; i < count; ++i)
      for (size_t k = 0; k < 3; ++k) o[3 * i + k] = scale[i] * r[3 * i + k];
  }
}

}  // namespace vyxhost
