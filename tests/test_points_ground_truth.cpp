// Points from the camera's distance image against what the simulated scene is made of: the
// simulator's own x, y, z images, the projection through the lens, the wall's plane, the
// sphere's radius and the pixels on the sphere's rim that mix both.
#include <gtest/gtest.h>

#include <array>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "converted_frames.h"
#include "lvtsim/scene.h"
#include "temp_dir.h"
#include "vyxhost/lens.h"
#include "vyxhost/tof_filters.h"

namespace {

using Points = std::vector<float>;  // rows x columns x 3

// A lens well away from the nominal one: other focal lengths, an off-centre principal point,
// barrel distortion and a little of every other term.
vyxhost::LensModel distortedLens() {
  vyxhost::LensModel lens = lvtsim::simulatedLens();
  lens.fx = 47.5;
  lens.fy = 48.2;
  lens.cx = 30.6;
  lens.cy = 25.4;
  lens.distortion = {-0.08, 0.012, 0.0009, -0.0014, 0.002};
  return lens;
}

lvtsim::CameraConfig cameraWith(const vyxhost::LensModel& lens, std::map<char, int> types) {
  lvtsim::CameraConfig cfg;
  cfg.lens = lens;
  cfg.imageTypeFor = std::move(types);
  return cfg;
}

// Least squares: the x minimising |A x - b| over rows of A (n columns), by normal equations.
template <size_t N>
std::array<double, N> leastSquares(const std::vector<std::array<double, N>>& rows,
                                   const std::vector<double>& rhs) {
  std::array<std::array<double, N + 1>, N> m{};
  for (size_t k = 0; k < rows.size(); ++k)
    for (size_t i = 0; i < N; ++i) {
      for (size_t j = 0; j < N; ++j) m[i][j] += rows[k][i] * rows[k][j];
      m[i][N] += rows[k][i] * rhs[k];
    }
  for (size_t i = 0; i < N; ++i) {  // Gauss-Jordan with partial pivoting
    size_t pivot = i;
    for (size_t r = i + 1; r < N; ++r)
      if (std::fabs(m[r][i]) > std::fabs(m[pivot][i])) pivot = r;
    std::swap(m[i], m[pivot]);
    for (size_t r = 0; r < N; ++r) {
      if (r == i) continue;
      const double f = m[r][i] / m[i][i];
      for (size_t c = i; c <= N; ++c) m[r][c] -= f * m[i][c];
    }
  }
  std::array<double, N> x{};
  for (size_t i = 0; i < N; ++i) x[i] = m[i][N] / m[i][i];
  return x;
}

TEST(PointsGroundTruth, DistanceAndLensGiveTheSimulatorsXyzThroughAnyLens) {
  const vyxhost::LensModel lens = distortedLens();
  // The plug-in fetches two images per frame: one camera sends distance and x, the other y
  // and z, of the same scene frame.
  vyxtest::ConvertedFrames first(cameraWith(lens, {{'d', 1}, {'i', 8}}));
  vyxtest::ConvertedFrames second(cameraWith(lens, {{'d', 9}, {'i', 10}}));
  const vyxhost::RayTable table(lens);
  ASSERT_EQ(table.pixels(), size_t{lvtwire::kPixelWords});
  Points points(3 * table.pixels());
  for (int frame = 0; frame < 3; ++frame) {
    auto a = first.next({VYX_TYPE_10001, VYX_TYPE_10020});
    auto b = second.next({VYX_TYPE_10040, VYX_TYPE_10080});
    const std::vector<float>& distance = a[VYX_TYPE_10001];
    const std::vector<float>* simulated[3] = {&a[VYX_TYPE_10020], &b[VYX_TYPE_10040],
                                              &b[VYX_TYPE_10080]};
    vyxhost::deproject(table, distance.data(), points.data());
    for (int v = 0; v < lens.height; ++v) {
      for (int u = 0; u < lens.width; ++u) {
        const size_t i = size_t(v) * size_t(lens.width) + size_t(u);
        const float d = distance[i];
        ASSERT_GT(d, 0.5f) << u << "," << v;
        const std::array<double, 3> p = {points[3 * i], points[3 * i + 1], points[3 * i + 2]};
        // Within float rounding of the simulator's own coordinates...
        for (int k = 0; k < 3; ++k)
          ASSERT_NEAR(p[k], (*simulated[k])[i], 4 * FLT_EPSILON * d)
              << "frame " << frame << " pixel " << u << "," << v << " coordinate " << k;
        // ... as long as the distance (it is radial, not z) ...
        ASSERT_NEAR(std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]), d, 4 * FLT_EPSILON * d);
        // ... and projected through the lens back onto its own pixel.
        const auto uv = vyxhost::projectPoint(lens, p);
        ASSERT_NEAR(uv[0], u, 1e-3) << v;
        ASSERT_NEAR(uv[1], v, 1e-3) << u;
      }
    }
  }
  // Masked pixels and readings that are no distance become NaN points.
  std::vector<float> distance(table.pixels(), 2.0f);
  distance[1] = 0.0f;
  distance[2] = NAN;
  std::vector<uint8_t> valid(table.pixels(), 1);
  valid[3] = 0;
  vyxhost::deproject(table, distance.data(), points.data(), valid.data());
  for (size_t i = 0; i < 5; ++i) EXPECT_EQ(std::isnan(points[3 * i]), i >= 1 && i <= 3) << i;
}

TEST(PointsGroundTruth, PointsFitTheWallAndTheSphereAndTheFlyingFilterFindsTheRim) {
  const vyxhost::LensModel lens = distortedLens();
  lvtsim::CameraConfig cfg = cameraWith(lens, {{'d', 1}, {'i', 2}});
  vyxtest::ConvertedFrames frames(cfg);
  const vyxhost::RayTable table(lens);
  // The flying-pixel test alone.
  vyxhost::FilterSettings flyingOnly = vyxhost::FilterSettings::none();
  flyingOnly.enabled = true;
  flyingOnly.minAmplitude = flyingOnly.saturation = 0.0f;
  flyingOnly.minDistance = flyingOnly.maxDistance = 0.0f;
  vyxhost::TofFilter filter(flyingOnly, lens.width, lens.height);
  ASSERT_GT(flyingOnly.flyingThreshold, 0.0f);

  size_t mixed = 0, mixedRemoved = 0, others = 0, othersKept = 0, floatingKept = 0;
  Points points(3 * table.pixels());
  std::vector<uint8_t> valid(table.pixels());
  // Frames with the sphere in the middle, to the right and to the left.
  for (uint64_t frame = 0; frame <= 90; ++frame) {
    auto images = frames.next({VYX_TYPE_10001, VYX_TYPE_10002});
    if (frame % 30 != 0) continue;
    SCOPED_TRACE(testing::Message() << "frame " << frame);
    std::vector<float>& distance = images[VYX_TYPE_10001];
    const auto surface = lvtsim::pixelSurfaces(cfg, frame);
    vyxhost::deproject(table, distance.data(), points.data());

    std::vector<std::array<double, 3>> wallRows, sphereRows;
    std::vector<std::array<double, 4>> sphereA;
    std::vector<double> wallZ, sphereB;
    for (size_t i = 0; i < table.pixels(); ++i) {
      const double x = points[3 * i], y = points[3 * i + 1], z = points[3 * i + 2];
      if (surface[i] == lvtsim::PixelSurface::Wall) {
        wallRows.push_back({1.0, x, y});
        wallZ.push_back(z);
      } else if (surface[i] == lvtsim::PixelSurface::Sphere) {
        // x^2 + y^2 + z^2 = 2 cx x + 2 cy y + 2 cz z + (r^2 - |c|^2)
        sphereA.push_back({2 * x, 2 * y, 2 * z, 1.0});
        sphereB.push_back(x * x + y * y + z * z);
      }
    }
    ASSERT_GT(wallRows.size(), 2000u);
    ASSERT_GT(sphereA.size(), 300u);
    const auto plane = leastSquares(wallRows, wallZ);
    EXPECT_NEAR(plane[0], 2.1, 2e-3);
    EXPECT_NEAR(plane[1], 0.3, 2e-3);
    EXPECT_NEAR(plane[2], -0.12, 2e-3);
    const auto s = leastSquares(sphereA, sphereB);
    const double radius = std::sqrt(s[3] + s[0] * s[0] + s[1] * s[1] + s[2] * s[2]);
    EXPECT_NEAR(radius, 0.32, 3e-3);
    EXPECT_NEAR(s[2], 1.3, 5e-3);  // the sphere's centre swings at z = 1.3 m

    filter.apply(distance.data(), images[VYX_TYPE_10002].data(), valid.data());
    for (size_t i = 0; i < table.pixels(); ++i) {
      if (surface[i] != lvtsim::PixelSurface::Mixed) {
        ++others;
        othersKept += valid[i];
        continue;
      }
      ++mixed;
      mixedRemoved += 1 - valid[i];
      // A mixed pixel left in the cloud lies near one of the surfaces: nearer than the jump
      // the filter looks for. (One that saw a sliver of the sphere reads almost the wall.)
      const double x = points[3 * i], y = points[3 * i + 1], z = points[3 * i + 2];
      const double offWall = std::fabs(z - (plane[0] + plane[1] * x + plane[2] * y));
      const double offSphere = std::fabs(
          std::sqrt((x - s[0]) * (x - s[0]) + (y - s[1]) * (y - s[1]) + (z - s[2]) * (z - s[2])) -
          radius);
      const double jump = flyingOnly.flyingThreshold * distance[i];
      if (valid[i] && offWall > jump && offSphere > jump) ++floatingKept;
    }
  }
  std::printf("mixed pixels %zu, removed %zu; others %zu, kept %zu\n", mixed, mixedRemoved, others,
              othersKept);
  EXPECT_GT(mixed, 4u * 50u);  // the rim is some 70 pixels long in each of the 4 frames
  EXPECT_EQ(floatingKept, 0u);
  EXPECT_GE(mixedRemoved, mixed * 8 / 10);
  EXPECT_GE(othersKept, others * 98 / 100);
}

TEST(PointsGroundTruth, CalibrationFileRoundTripAndErrors) {
  vyxtest::TempDir dir;
  const std::string path = dir.path() + "/lens.json";
  const vyxhost::LensModel lens = distortedLens();
  vyxhost::writeCalibration(path, lens, R"({"rms": 0.21, "views": 18})");
  const vyxhost::LensModel back = vyxhost::readCalibration(path);
  EXPECT_EQ(back.width, lens.width);
  EXPECT_EQ(back.height, lens.height);
  EXPECT_EQ(back.fx, lens.fx);
  EXPECT_EQ(back.fy, lens.fy);
  EXPECT_EQ(back.cx, lens.cx);
  EXPECT_EQ(back.cy, lens.cy);
  EXPECT_EQ(back.distortion, lens.distortion);
  EXPECT_EQ(back.source, lens.source);
  EXPECT_FALSE(back.nominal);
  std::ifstream in(path);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("\"rms\": 0.21"), std::string::npos) << text;
  EXPECT_NE(text.find("radial distance"), std::string::npos) << text;
  EXPECT_TRUE(
      vyxhost::readCalibration((writeCalibration(path, vyxhost::nominalLens()), path)).nominal);

  // Each bad file is refused with its name and the field at fault.
  const std::pair<std::string, std::string> bad[] = {
      {R"({"width": 64, "height": 50, "fx": 50, "fy": 50, "cx": 31.5, "cy": 24.5})",
       "field \"distortion\" is missing"},
      {R"({"width": 64, "height": 50, "fx": "50", "fy": 50, "cx": 31.5, "cy": 24.5,
           "distortion": [0, 0, 0, 0, 0]})",
       "field \"fx\" must be a number"},
      {R"({"width": 64, "height": 50, "fx": 50, "fy": 50, "cx": 31.5, "cy": 24.5,
           "distortion": [0, 0, 0, 0]})",
       "field \"distortion\" must be 5 numbers"},
      {R"({"width": 0, "height": 50, "fx": 50, "fy": 50, "cx": 31.5, "cy": 24.5,
           "distortion": [0, 0, 0, 0, 0]})",
       "field \"width\""},
      {R"({"width": 64, "height": 50, "fx": -50, "fy": 50, "cx": 31.5, "cy": 24.5,
           "distortion": [0, 0, 0, 0, 0]})",
       "fx must be positive"},
      {"{\"width\": 64,", "not a JSON calibration file"},
  };
  for (const auto& [content, message] : bad) {
    std::ofstream(path, std::ios::trunc) << content;
    try {
      vyxhost::readCalibration(path);
      ADD_FAILURE() << "accepted: " << content;
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(path + ": "), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
    }
  }
  EXPECT_THROW(vyxhost::readCalibration(dir.path() + "/missing.json"), std::runtime_error);
}

}  // namespace
