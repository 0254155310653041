// vyxgrab run as a program, the way a user runs it: a grab from the built-in simulated camera
// checked file by file against what the camera sent, settings, replay of a recording, Ctrl-C,
// and the messages and exit codes of its failures.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <png.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "lvtsim/scene.h"
#include "lvtwire/frame_format.h"
#include "sim_fixture.h"
#include "temp_dir.h"
#include "vyxdatadescription.h"

namespace {

namespace fs = std::filesystem;

constexpr size_t kHeaderBytes = lvtwire::kShortHeader.bytes, kImageBytes = lvtwire::kImageBytes,
                 kFrameBytes = 2 * (kHeaderBytes + kImageBytes);
const char* const kTypeFiles[] = {"10001_distance", "10002_amplitude", "10004_intensity"};

using vyxtest::TempDir;

struct GrabRun {
  int exitCode = -1;
  std::string output;  // stdout and stderr together
};

// Starts vyxgrab with its output going to outputFile; returns the child's pid.
pid_t spawnGrab(const std::vector<std::string>& args, const std::string& outputFile) {
  std::vector<std::string> argv = {VYXGRAB_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> cargv;
  for (std::string& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int fd = ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(fd, STDOUT_FILENO);
    ::dup2(fd, STDERR_FILENO);
    ::execv(cargv[0], cargv.data());
    ::_exit(127);
  }
  return pid;
}

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<uint8_t> readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

GrabRun finish(pid_t pid, const std::string& outputFile) {
  GrabRun run;
  int status = 0;
  if (::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
  run.output = readText(outputFile);
  return run;
}

GrabRun grab(const TempDir& scratch, const std::vector<std::string>& args) {
  const std::string log = scratch.file("output.txt");
  return finish(spawnGrab(args, log), log);
}

float bigEndianFloat(const uint8_t* p) {
  const uint32_t w = uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
  float f;
  std::memcpy(&f, &w, 4);
  return f;
}

// The image data of the block with that camera image type, as it came off the wire.
std::vector<uint8_t> wireImage(const std::vector<uint8_t>& raw, int type) {
  for (size_t at = 0; at + kHeaderBytes + kImageBytes <= raw.size();
       at += kHeaderBytes + kImageBytes) {
    if (bigEndianFloat(&raw[at + 8]) == static_cast<float>(type)) {
      return {raw.begin() + at + kHeaderBytes, raw.begin() + at + kHeaderBytes + kImageBytes};
    }
  }
  return {};
}

// The float data of a .npy file after checking its header; empty if the header is wrong.
std::vector<float> npyFloats(const std::string& path, const std::string& shape) {
  const std::vector<uint8_t> bytes = readBytes(path);
  if (bytes.size() < 10 || std::memcmp(bytes.data(), "\x93NUMPY\x01\x00", 8) != 0) return {};
  const size_t headerEnd = 10 + (bytes[8] | bytes[9] << 8);
  if (headerEnd > bytes.size() || headerEnd % 64 != 0) return {};
  const std::string dict(bytes.begin() + 10, bytes.begin() + headerEnd);
  if (dict.find("'descr': '<f4'") == std::string::npos ||
      dict.find("'fortran_order': False") == std::string::npos ||
      dict.find("'shape': " + shape) == std::string::npos || dict.back() != '\n') {
    return {};
  }
  std::vector<float> values((bytes.size() - headerEnd) / 4);
  std::memcpy(values.data(), bytes.data() + headerEnd, values.size() * 4);  // host is little-endian
  return values;
}

struct PngInfo {
  uint32_t width = 0, height = 0;
  int bitDepth = 0, colorType = 0;
  std::vector<std::vector<uint8_t>> rows;  // the file's sample bytes, untransformed
};

bool readPng(const std::string& path, PngInfo& out) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  uint8_t signature[8] = {};
  const bool isPng = std::fread(signature, 1, 8, f) == 8 && png_sig_cmp(signature, 0, 8) == 0;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (!isPng || setjmp(png_jmpbuf(png)) != 0) {
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    return false;
  }
  png_init_io(png, f);
  png_set_sig_bytes(png, 8);
  png_read_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
  out.width = png_get_image_width(png, info);
  out.height = png_get_image_height(png, info);
  out.bitDepth = png_get_bit_depth(png, info);
  out.colorType = png_get_color_type(png, info);
  png_bytepp rows = png_get_rows(png, info);
  for (uint32_t y = 0; y < out.height; ++y) {
    out.rows.emplace_back(rows[y], rows[y] + png_get_rowbytes(png, info));
  }
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(f);
  return true;
}

std::string frameName(int frame) {
  char name[32];
  std::snprintf(name, sizeof name, "frame_%05d", frame);
  return name;
}

TEST(VyxgrabSimulate, WritesEveryFileOfEachFrameWithTheCamerasValues) {
  TempDir scratch;
  const std::string out = scratch.file("grab");
  const GrabRun run = grab(scratch, {"--simulate", "--frames", "3", "--out", out});
  ASSERT_EQ(run.exitCode, 0) << run.output;

  for (int frame = 0; frame < 3; ++frame) {
    SCOPED_TRACE("frame " + std::to_string(frame));
    const std::string stem = out + "/" + frameName(frame);
    const std::vector<uint8_t> raw = readBytes(stem + ".raw");
    ASSERT_EQ(raw.size(), kFrameBytes);
    const std::vector<uint8_t> descBytes = readBytes(stem + ".desc");
    ASSERT_EQ(descBytes.size(), 128u);
    VYXDataDescription desc;
    std::memcpy(&desc, descBytes.data(), sizeof desc);
    EXPECT_EQ(desc.type, VYX_TYPE_50003);
    EXPECT_EQ(desc.size, kFrameBytes);
    EXPECT_EQ(desc.std.subType, 0x6u);  // camera image types 1 and 2
    EXPECT_EQ(desc.std.numColumns, 64u);
    EXPECT_EQ(desc.std.numRows, 50u);

    // The simulated camera renders frame n of its scene for the n-th request of each type.
    for (int type : {1, 2}) {
      EXPECT_EQ(wireImage(raw, type), lvtsim::renderImage(lvtsim::CameraConfig{}, type, frame))
          << "camera image type " << type;
    }

    for (const char* typeFile : kTypeFiles) {
      SCOPED_TRACE(typeFile);
      const int type = typeFile[4] == '1' ? 1 : 2;
      const std::vector<uint8_t> wire = wireImage(raw, type);
      ASSERT_EQ(wire.size(), kImageBytes);
      const std::vector<float> values = npyFloats(stem + "_" + typeFile + ".npy", "(50, 64)");
      ASSERT_EQ(values.size(), 3200u);
      for (size_t i = 0; i < values.size(); ++i) {
        ASSERT_EQ(values[i], bigEndianFloat(&wire[4 * i])) << "pixel " << i;
      }

      PngInfo gray;
      ASSERT_TRUE(readPng(stem + "_" + typeFile + ".png", gray));
      EXPECT_EQ(gray.width, 64u);
      EXPECT_EQ(gray.height, 50u);
      EXPECT_EQ(gray.bitDepth, 16);
      EXPECT_EQ(gray.colorType, PNG_COLOR_TYPE_GRAY);
      // Samples are big-endian in the file and scale the values over their min..max.
      float lo = values[0], hi = values[0];
      for (float v : values) lo = std::min(lo, v), hi = std::max(hi, v);
      for (size_t i = 0; i < values.size(); i += 97) {
        const auto& row = gray.rows[i / 64];
        const int sample = row[2 * (i % 64)] << 8 | row[2 * (i % 64) + 1];
        const double expected = (static_cast<double>(values[i]) - lo) / (hi - lo) * 65535.0;
        EXPECT_NEAR(sample, expected, 1.0) << "pixel " << i;
      }

      PngInfo preview;
      ASSERT_TRUE(readPng(stem + "_" + typeFile + "_preview.png", preview));
      EXPECT_EQ(preview.colorType, PNG_COLOR_TYPE_RGB);
      EXPECT_EQ(preview.bitDepth, 8);
      EXPECT_GT(preview.width, 64u * 4);  // the enlarged image and the colour bar beside it
      EXPECT_GE(preview.height, 50u * 4);
    }
    // The frame holds no x, y, z images, so there are no files for them.
    EXPECT_FALSE(fs::exists(stem + "_10020_x.npy"));
    EXPECT_FALSE(fs::exists(stem + "_10080_z_preview.png"));
  }
  EXPECT_FALSE(fs::exists(out + "/" + frameName(3) + ".raw"));
  EXPECT_NE(run.output.find("Frames:            3 from 127."), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("Retried images:    0 (the camera got 6 image requests for 6 images)"),
            std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("Integration times: 1000 / 2000 us set in the camera, 1000 / 2000 us "
                            "in the last frame"),
            std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("Frame rate:        25 frames/s"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("Files:             33 "), std::string::npos) << run.output;
  EXPECT_NE(run.output.find(out), std::string::npos) << run.output;
  // Not a terminal: no progress line.
  EXPECT_EQ(run.output.find('\r'), std::string::npos);
}

TEST(VyxgrabSimulate, AppliesIntegrationTimesAndFrameRateBeforeGrabbing) {
  TempDir scratch;
  const std::string out = scratch.file("grab");
  const GrabRun run = grab(scratch, {"--simulate", "--frames", "1", "--out", out, "--itime0", "700",
                                     "--itime1", "1500", "--fps", "12"});
  ASSERT_EQ(run.exitCode, 0) << run.output;
  const std::vector<uint8_t> descBytes = readBytes(out + "/" + frameName(0) + ".desc");
  ASSERT_EQ(descBytes.size(), 128u);
  VYXDataDescription desc;
  std::memcpy(&desc, descBytes.data(), sizeof desc);
  EXPECT_EQ(desc.std.integrationTime[0], 700);
  EXPECT_EQ(desc.std.integrationTime[1], 1500);
  EXPECT_NE(run.output.find("700 / 1500 us set in the camera, 700 / 1500 us in the last frame"),
            std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("Frame rate:        12 frames/s"), std::string::npos) << run.output;
}

TEST(VyxgrabSimulate, ReplaysARecordingByteForByteAndLoopsOverIt) {
  TempDir scratch;
  const std::string recording = scratch.file("recording");
  const std::string again = scratch.file("again");
  ASSERT_EQ(grab(scratch, {"--simulate", "--frames", "2", "--out", recording}).exitCode, 0);
  // Five frames from a two-frame recording: the camera starts over after the last one.
  const GrabRun run =
      grab(scratch, {"--simulate", "--replay", recording, "--frames", "5", "--out", again});
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find("replaying 2 recorded frames"), std::string::npos) << run.output;
  for (int frame = 0; frame < 5; ++frame) {
    SCOPED_TRACE(frame);
    const std::vector<uint8_t> replayed = readBytes(again + "/" + frameName(frame) + ".raw");
    EXPECT_EQ(replayed.size(), kFrameBytes);
    EXPECT_EQ(replayed, readBytes(recording + "/" + frameName(frame % 2) + ".raw"));
  }
}

// One image block as the camera sends it: a 68-byte header of big-endian floats and 3200 pixels.
std::vector<uint8_t> wireBlock(float type, float validity, float pixel) {
  std::vector<uint8_t> block;
  auto word = [&block](float v) {
    uint32_t w;
    std::memcpy(&w, &v, 4);
    for (int shift = 24; shift >= 0; shift -= 8) block.push_back(static_cast<uint8_t>(w >> shift));
  };
  const float header[17] = {12800, 68, type, 0, 0, 800, 1600, 0, 0, 0, 0, 0, 0, 0, 0, validity, 0};
  for (float v : header) word(v);
  for (int i = 0; i < 3200; ++i) word(pixel + static_cast<float>(i % 64));
  return block;
}

TEST(VyxgrabSimulate, CountsRetriedImagesAndWritesTheTypesEachFrameHolds) {
  TempDir scratch;
  const std::string recording = scratch.file("recording");
  fs::create_directories(recording);
  // Per frame the camera first answers an image marked invalid, which the plug-in asks for again;
  // the frame then holds an x image (type 8) and an amplitude image (type 2).
  std::vector<uint8_t> frame = wireBlock(1, -1, 100);
  for (const auto& block : {wireBlock(8, 0, 0.25f), wireBlock(2, 0, 500)}) {
    frame.insert(frame.end(), block.begin(), block.end());
  }
  std::ofstream(recording + "/frame_00000.raw", std::ios::binary)
      .write(reinterpret_cast<const char*>(frame.data()),
             static_cast<std::streamsize>(frame.size()));

  const std::string out = scratch.file("grab");
  const GrabRun run =
      grab(scratch, {"--simulate", "--replay", recording, "--frames", "2", "--out", out});
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find("Retried images:    2 (the camera got 6 image requests for 4 images)"),
            std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("800 / 1600 us in the last frame"), std::string::npos) << run.output;
  for (int f = 0; f < 2; ++f) {
    const std::string stem = out + "/" + frameName(f);
    EXPECT_EQ(readBytes(stem + ".raw"),
              std::vector<uint8_t>(frame.begin() + kHeaderBytes + kImageBytes, frame.end()));
    const std::vector<float> x = npyFloats(stem + "_10020_x.npy", "(50, 64)");
    ASSERT_EQ(x.size(), 3200u);
    EXPECT_EQ(x[0], 0.25f);
    EXPECT_EQ(x[3199], 63.25f);
    EXPECT_TRUE(fs::exists(stem + "_10002_amplitude_preview.png"));
    EXPECT_TRUE(fs::exists(stem + "_10004_intensity.npy"));
    EXPECT_FALSE(fs::exists(stem + "_10001_distance.npy"));
    EXPECT_FALSE(fs::exists(stem + "_10040_y.npy"));
  }
}

TEST(VyxgrabSimulate, CtrlCStopsAfterTheCurrentFrameAndStillSummarises) {
  TempDir scratch;
  const std::string out = scratch.file("grab");
  const std::string log = scratch.file("output.txt");
  // Open-ended and paced by the camera's frame rate, so Ctrl-C is the only way it ends.
  const pid_t pid =
      spawnGrab({"--simulate", "--realtime", "--frames", "0", "--fps", "10", "--out", out}, log);
  ASSERT_GT(pid, 0);
  const std::string second = out + "/" + frameName(1) + "_10004_intensity_preview.png";
  for (int wait = 0; wait < 600 && !fs::exists(second); ++wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_TRUE(fs::exists(second)) << readText(log);
  ::kill(pid, SIGINT);
  const GrabRun run = finish(pid, log);
  EXPECT_EQ(run.exitCode, 130) << run.output;
  EXPECT_NE(run.output.find("stopping after the current frame"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("frames/s, stopped by Ctrl-C"), std::string::npos) << run.output;

  // Every frame begun was finished: each .raw has all its files, and the summary counts them.
  int frames = 0;
  while (fs::exists(out + "/" + frameName(frames) + ".raw")) {
    for (const char* typeFile : kTypeFiles) {
      EXPECT_TRUE(fs::exists(out + "/" + frameName(frames) + "_" + typeFile + "_preview.png"));
    }
    ++frames;
  }
  EXPECT_GE(frames, 2);
  EXPECT_NE(run.output.find("Frames:            " + std::to_string(frames) + " from"),
            std::string::npos)
      << run.output;
}

TEST(VyxgrabErrors, NoCameraAtTheAddressNamesTheCodeAndThePlugInsText) {
  TempDir scratch;
  const GrabRun run = grab(scratch, {"--address", vyxtest::silentAddress(), "--frames", "1",
                                     "--out", scratch.file("grab")});
  EXPECT_NE(run.exitCode, 0);
  EXPECT_NE(run.output.find("VYX_COULD_NOT_OPEN"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("camera connection"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("opening the camera at 127."), std::string::npos) << run.output;
}

TEST(VyxgrabErrors, RefusedSettingShowsThePlugInsCodeAndText) {
  TempDir scratch;
  const GrabRun run =
      grab(scratch, {"--simulate", "--itime0", "5001", "--out", scratch.file("grab")});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.output.find("vyxpSetIntegrationTime failed: VYX_INVALID_VALUE (1027): "
                            "integration time too long"),
            std::string::npos)
      << run.output;
  EXPECT_FALSE(fs::exists(scratch.file("grab") + "/" + frameName(0) + ".raw"));

  const GrabRun fps = grab(scratch, {"--simulate", "--fps", "0", "--out", scratch.file("grab")});
  EXPECT_EQ(fps.exitCode, 1);
  EXPECT_NE(fps.output.find("VYX_INVALID_VALUE"), std::string::npos) << fps.output;
  EXPECT_NE(fps.output.find("invalid framerate"), std::string::npos) << fps.output;
}

TEST(VyxgrabErrors, MissingPlugInAndUnusableOutputDirectory) {
  TempDir scratch;
  const GrabRun plugin = grab(
      scratch, {"--simulate", "--plugin", scratch.file("none.vcp"), "--out", scratch.file("grab")});
  EXPECT_EQ(plugin.exitCode, 1);
  EXPECT_NE(plugin.output.find("loading the plug-in"), std::string::npos) << plugin.output;
  EXPECT_NE(plugin.output.find("none.vcp"), std::string::npos) << plugin.output;

  std::ofstream(scratch.file("a-file")) << "x";
  const GrabRun dir = grab(scratch, {"--simulate", "--out", scratch.file("a-file") + "/sub"});
  EXPECT_EQ(dir.exitCode, 1);
  EXPECT_NE(dir.output.find("creating the output directory"), std::string::npos) << dir.output;

  const GrabRun replay =
      grab(scratch, {"--simulate", "--replay", scratch.file("empty"), "--out", scratch.file("g")});
  EXPECT_EQ(replay.exitCode, 1);
  EXPECT_NE(replay.output.find("starting the simulated camera"), std::string::npos)
      << replay.output;
}

TEST(VyxgrabCommandLine, HelpAndUsageErrors) {
  TempDir scratch;
  const GrabRun help = grab(scratch, {"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.output.find("Usage:"), std::string::npos) << help.output;
  EXPECT_NE(help.output.find("vyxgrab --simulate --frames 5"), std::string::npos) << help.output;

  const GrabRun none = grab(scratch, {});
  EXPECT_EQ(none.exitCode, 2);
  EXPECT_NE(none.output.find("--help"), std::string::npos) << none.output;
  EXPECT_EQ(grab(scratch, {"--simulate", "--frames", "many"}).exitCode, 2);
}

}  // namespace
