// The camera's lens: pinhole intrinsics and distortion, the unit ray of every pixel, and points
// from the distance image.
//
// Conventions (the usual computer-vision ones): pixel (column u, row v) has its centre at integer
// coordinates, (0, 0) is the centre of the top-left pixel; camera coordinates in metres with x to
// the right, y down and z forward along the optical axis. A point (x, y, z) with z > 0 maps to
// normalised coordinates a = x / z, b = y / z, r2 = a * a + b * b, then
//   radial = 1 + k1 r2 + k2 r2^2 + k3 r2^3
//   a' = a radial + 2 p1 a b + p2 (r2 + 2 a^2),  b' = b radial + p1 (r2 + 2 b^2) + 2 p2 a b
//   u = fx a' + cx,  v = fy b' + cy.
// The camera's distance image is the radial distance from the optical centre to the surface
// along each pixel's ray (not z): the point of pixel (u, v) is distance * ray(u, v).
#ifndef VYXHOST_LENS_H
#define VYXHOST_LENS_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vyxhost {

struct LensModel {
  int width = 0, height = 0;           // the image the intrinsics belong to, in pixels
  double fx = 0, fy = 0;               // focal lengths in pixels
  double cx = 0, cy = 0;               // principal point in pixels (pixel centres at integers)
  std::array<double, 5> distortion{};  // k1, k2, p1, p2, k3 (in this order)
  std::string source;                  // where the numbers came from, for people
  bool nominal = false;  // true: assumed from the optics' data, not measured on this camera
};

// The lens assumed when no calibration is given: a 60 degree (horizontal) pinhole without
// distortion for the 64 x 50 sensor, fx = fy = 32 / tan 30 deg, centre (31.5, 24.5).
LensModel nominalLens();

// A lens from a pinhole camera matrix k (row-major 3 x 3, as a recording's camera_info holds it)
// and up to five distortion numbers in OpenCV's order; nominal when the numbers are the nominal
// lens's, source otherwise.
LensModel lensFromMatrix(int width, int height, const double* k, const double* d, size_t dCount,
                         const std::string& source);

// Throws std::invalid_argument naming the first unusable field: a size that is not positive,
// a focal length that is not a positive finite number, or a number that is not finite.
void checkLens(const LensModel& lens);

// Where a point in camera coordinates lands on the image (u, v); NaN unless z > 0.
std::array<double, 2> projectPoint(const LensModel& lens, const std::array<double, 3>& point);

// The unit ray seen at image position (u, v): the distortion inverted by iteration, to a
// residual below 1e-9 pixels. All NaN where the distortion cannot be inverted (a lens model
// that folds over there).
std::array<double, 3> pixelRay(const LensModel& lens, double u, double v);

// The JSON text of a calibration: width, height, fx, fy, cx, cy, distortion, source, nominal,
// a "distance" text saying what the distance image means, and the members of extraFields
// (a JSON object's text, e.g. {"rms": 0.21, "views": 18}) after them. Throws
// std::invalid_argument when extraFields is not a JSON object.
std::string calibrationJson(const LensModel& lens, const std::string& extraFields = "{}");

// Writes calibrationJson to path. Throws std::runtime_error naming the file when it cannot be
// written.
void writeCalibration(const std::string& path, const LensModel& lens,
                      const std::string& extraFields = "{}");

// Reads a calibration file; source is the file's "source" text (the path when it has none).
// Throws std::runtime_error naming the file and, where one is at fault, the field: a file that
// cannot be read, text that is not JSON, a missing field, a field of the wrong kind, or numbers
// checkLens refuses.
LensModel readCalibration(const std::string& path);

// The unit ray of every pixel of a lens, found once per model so that turning a frame into
// points costs one multiplication per coordinate.
class RayTable {
 public:
  explicit RayTable(const LensModel& lens);  // throws as checkLens does

  const LensModel& lens() const { return lens_; }
  int width() const { return lens_.width; }
  int height() const { return lens_.height; }
  size_t pixels() const { return rays_.size() / 3; }
  // x, y, z of the unit ray of pixel (column u, row v) at rays()[3 * (v * width + u)];
  // NaN where the lens cannot be inverted.
  const float* rays() const { return rays_.data(); }

 private:
  LensModel lens_;
  std::vector<float> rays_;
};

// Points from a distance image (rows x columns of the table, metres) into xyz (rows x columns x
// 3 floats, metres). A pixel is NaN in all three where valid (one byte per pixel, may be null
// for all valid) is 0, or where its distance is not a finite number above 0.
void deproject(const RayTable& table, const float* distance, float* xyz,
               const uint8_t* valid = nullptr);

}  // namespace vyxhost

#endif
