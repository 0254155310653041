// vyxcalib against ground truth: the simulator program renders its checkerboard through lenses
// drawn at random, and vyxcalib, seeing only the amplitude images, must give them back. Then
// what it says when the images cannot give a lens.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <random>
#include <string>

#include "program_run.h"
#include "temp_dir.h"
#include "vyxhost/calibration_target.h"
#include "vyxhost/lens.h"

namespace {

using vyxtest::Program;
using vyxtest::SimulatorProgram;

std::string number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4f", v);
  return text;
}

// A run of vyxcalib against the camera at address; its exit code and output.
struct CalibRun {
  int code = -1;
  std::string output;
};
CalibRun calibrate(const vyxtest::TempDir& dir, const std::string& address,
                   std::vector<std::string> args) {
  args.insert(args.begin(), {"--address", address});
  Program calib(VYXCALIB_PATH, args, dir.file("calib.log"));
  CalibRun run;
  run.code = calib.wait();
  run.output = calib.output();
  return run;
}

TEST(Vyxcalib, GivesBackLensesDrawnAtRandom) {
  const char* fixed = std::getenv("VYXCALIB_TEST_SEED");
  // A fixed draw by default, so that a run is repeatable; VYXCALIB_TEST_SEED draws others.
  const unsigned seed =
      fixed != nullptr ? static_cast<unsigned>(std::strtoul(fixed, nullptr, 10)) : 20261208u;
  std::printf("lens seed %u (VYXCALIB_TEST_SEED=%u repeats this run)\n", seed, seed);
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> focal(45.0, 70.0), aspect(0.97, 1.03), offset(-2.5, 2.5),
      k1(-0.25, 0.1);
  for (int n = 0; n < 2; ++n) {
    vyxhost::LensModel truth = vyxhost::nominalLens();
    truth.fx = focal(rng);
    truth.fy = truth.fx * aspect(rng);
    truth.cx += offset(rng);
    truth.cy += offset(rng);
    truth.distortion[0] = k1(rng);
    const std::string intrinsics =
        number(truth.fx) + "," + number(truth.fy) + "," + number(truth.cx) + "," + number(truth.cy);
    const std::string distortion = number(truth.distortion[0]) + ",0,0,0,0";
    SCOPED_TRACE("--intrinsics " + intrinsics + " --distortion " + distortion);

    vyxtest::TempDir dir("vyxcalib");
    SimulatorProgram sim(
        LVTCAMSIM_PATH,
        {"--scene", "checkerboard", "--intrinsics", intrinsics, "--distortion", distortion},
        dir.file("sim.log"));
    ASSERT_FALSE(sim.address().empty()) << "the simulator did not start";
    const CalibRun run =
        calibrate(dir, sim.address(),
                  {"--frames", "80", "--out", dir.file("lens.json"), "--show", dir.file("views")});
    ASSERT_EQ(run.code, 0) << run.output;
    // It guided while running and reported every view's error at the end.
    EXPECT_NE(run.output.find("missing: "), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("error per view"), std::string::npos) << run.output;

    const vyxhost::LensModel lens = vyxhost::readCalibration(dir.file("lens.json"));
    EXPECT_NEAR(lens.fx, truth.fx, 0.02 * truth.fx);
    EXPECT_NEAR(lens.fy, truth.fy, 0.02 * truth.fy);
    EXPECT_NEAR(lens.cx, truth.cx, 0.7);
    EXPECT_NEAR(lens.cy, truth.cy, 0.7);
    EXPECT_NEAR(lens.distortion[0], truth.distortion[0], 0.04);
    EXPECT_EQ(lens.width, 64);
    EXPECT_EQ(lens.height, 50);
    EXPECT_FALSE(lens.nominal);
    const auto file = nlohmann::json::parse(vyxtest::readTextFile(dir.file("lens.json")));
    EXPECT_LT(file.at("rms").get<double>(), 0.5);
    const size_t views = file.at("views").get<size_t>();
    EXPECT_GE(views, 12u);
    EXPECT_EQ(file.at("board").at("columns").get<int>(), vyxhost::kShippedTarget.innerColumns);
    EXPECT_EQ(file.at("board").at("rows").get<int>(), vyxhost::kShippedTarget.innerRows);
    // One picture per kept view (dropped ones included: they were kept when drawn).
    size_t pictures = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.file("views")))
      pictures += entry.path().extension() == ".png" ? 1 : 0;
    EXPECT_EQ(pictures, views + file.at("dropped_views").get<size_t>());
  }
}

TEST(Vyxcalib, SaysWhyNoLensCameOut) {
  vyxtest::TempDir dir("vyxcalib");
  {
    // No board at all: the wall and sphere scene.
    SimulatorProgram sim(LVTCAMSIM_PATH, {}, dir.file("sim.log"));
    ASSERT_FALSE(sim.address().empty()) << "the simulator did not start";
    const CalibRun run =
        calibrate(dir, sim.address(), {"--frames", "10", "--out", dir.file("a.json")});
    EXPECT_EQ(run.code, 1) << run.output;
    EXPECT_NE(run.output.find("no 5x4 checkerboard found in any of the 10 images tried"),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("Hold the whole board in view"), std::string::npos) << run.output;
    EXPECT_FALSE(std::filesystem::exists(dir.file("a.json")));
  }
  SimulatorProgram sim(LVTCAMSIM_PATH, {"--scene", "checkerboard"}, dir.file("sim.log"));
  ASSERT_FALSE(sim.address().empty()) << "the simulator did not start";
  {
    // A --board that is not the one in view: said, with the one that is.
    const CalibRun run = calibrate(
        dir, sim.address(), {"--board", "7x6", "--frames", "12", "--out", dir.file("b.json")});
    EXPECT_EQ(run.code, 1) << run.output;
    EXPECT_NE(run.output.find("no 7x6 checkerboard found in any of the 12 images tried"),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("a 5x4 board is in view: try --board 5x4"), std::string::npos)
        << run.output;
    EXPECT_FALSE(std::filesystem::exists(dir.file("b.json")));
  }
  {
    // Too few images for the variety a lens needs: no file, and what is missing.
    const CalibRun run =
        calibrate(dir, sim.address(), {"--frames", "4", "--out", dir.file("c.json")});
    EXPECT_EQ(run.code, 1) << run.output;
    EXPECT_NE(run.output.find("missing: more views"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("No file written"), std::string::npos) << run.output;
    EXPECT_FALSE(std::filesystem::exists(dir.file("c.json")));
  }
  for (const auto& [board, says] : {std::pair{"5", "--board needs the inner corners"},
                                    {"1x4", "cannot match"},
                                    {"40x30", "cannot match"}}) {
    const CalibRun run =
        calibrate(dir, sim.address(), {"--board", board, "--out", dir.file("d.json")});
    EXPECT_NE(run.code, 0) << board;
    EXPECT_NE(run.output.find(says), std::string::npos) << board << ": " << run.output;
    EXPECT_FALSE(std::filesystem::exists(dir.file("d.json")));
  }
}

}  // namespace
