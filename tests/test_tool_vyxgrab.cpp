// vyxgrab run as a program, the way a user runs it: a grab from the built-in simulated camera
// checked file by file against what the camera sent, settings, replay of a recording, Ctrl-C,
// the messages and exit codes of its failures, and recordings that end badly (full disk, killed).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <png.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "lvtsim/scene.h"
#include "lvtwire/frame_format.h"
#include "program_run.h"
#include "recording_fixture.h"
#include "sim_fixture.h"
#include "temp_dir.h"
#include "vyxdatadescription.h"
#include "vyxrec/mcap_playback.h"
#include "vyxrec/run_manifest.h"

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
  return vyxtest::spawnProgram(VYXGRAB_PATH, args, outputFile);
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
      const auto image = raw.begin() + static_cast<std::ptrdiff_t>(at + kHeaderBytes);
      return {image, image + static_cast<std::ptrdiff_t>(kImageBytes)};
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
  const std::string dict(bytes.begin() + 10,
                         bytes.begin() + static_cast<std::ptrdiff_t>(headerEnd));
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
  std::vector<std::vector<uint8_t>> rows;   // the file's sample bytes, untransformed
  std::map<std::string, std::string> text;  // tEXt chunks
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
  png_textp text = nullptr;
  const int texts = png_get_text(png, info, &text, nullptr);
  for (int i = 0; i < texts; ++i) out.text[text[i].key] = text[i].text;
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
      // Samples are big-endian in the file and scale the values over their min..max to 1..65535.
      float lo = values[0], hi = values[0];
      for (float v : values) lo = std::min(lo, v), hi = std::max(hi, v);
      for (size_t i = 0; i < values.size(); i += 97) {
        const auto& row = gray.rows[i / 64];
        const int sample = row[2 * (i % 64)] << 8 | row[2 * (i % 64) + 1];
        const double expected = 1.0 + (static_cast<double>(values[i]) - lo) / (hi - lo) * 65534.0;
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
  // The camera exposed the frame with the integration time set: the amplitude follows it.
  EXPECT_EQ(wireImage(readBytes(out + "/" + frameName(0) + ".raw"), 2),
            lvtsim::renderImage(lvtsim::CameraConfig{}, 2, 0, 700));
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
  // The tool's own context: where it tried and for how long.
  EXPECT_NE(run.output.find("camera control at 127."), std::string::npos) << run.output;
  EXPECT_NE(run.output.find(" port 8080, failed after "), std::string::npos) << run.output;

  // An address that cannot name a camera is told apart from one where nothing answers.
  const GrabRun bad =
      grab(scratch, {"--address", "300.1.1.1", "--frames", "1", "--out", scratch.file("grab")});
  EXPECT_EQ(bad.exitCode, 1);
  EXPECT_NE(bad.output.find("\"300.1.1.1\" is not a camera address"), std::string::npos)
      << bad.output;
  EXPECT_EQ(bad.output.find("camera connection"), std::string::npos) << bad.output;
}

TEST(VyxgrabErrors, OutOfRangeSettingIsRefusedWithTheRangeBeforeAnythingIsWritten) {
  TempDir scratch;
  auto camera = vyxtest::startCamera();
  const std::string address = camera->config().address;
  // itime0 alone would be fine: it must not reach the camera when itime1 is refused.
  const GrabRun run = grab(scratch, {"--address", address, "--itime0", "700", "--itime1", "5001",
                                     "--out", scratch.file("grab")});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.output.find("--itime1 5001 is outside the range 1 to 5000 us"), std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("nothing was written to the camera"), std::string::npos) << run.output;
  EXPECT_FALSE(fs::exists(scratch.file("grab") + "/" + frameName(0) + ".raw"));
  EXPECT_EQ(camera->frontend()[4], 1000);
  EXPECT_EQ(camera->frontend()[5], 2000);
  for (const std::string& method : camera->methodNames())
    EXPECT_NE(method, "MDAXMLSetFrontendData") << "a setting was written";

  const GrabRun fps = grab(scratch, {"--address", address, "--fps", "0", "--itime0", "800", "--out",
                                     scratch.file("grab")});
  EXPECT_EQ(fps.exitCode, 1);
  EXPECT_NE(fps.output.find("--fps 0 is outside the range 1 to"), std::string::npos) << fps.output;
  EXPECT_EQ(camera->frontend()[4], 1000);

  // Above the camera's limit: the camera keeps its rate, and the error says what it took.
  const GrabRun fast =
      grab(scratch, {"--address", address, "--fps", "31", "--out", scratch.file("grab")});
  EXPECT_EQ(fast.exitCode, 1);
  EXPECT_NE(fast.output.find("the camera took 30 frames/s, not 31"), std::string::npos)
      << fast.output;
  EXPECT_EQ(camera->frontend()[lvtwire::frontend::kFps], 25);
}

// A camera that stops answering after two frames, and does not answer the disconnect either.
TEST(VyxgrabErrors, StalledCameraIsReportedWhenThePlugInsWaitEndsAndClosingIsBounded) {
  TempDir scratch;
  auto camera = vyxtest::startCamera();
  camera->queueImage('d', {});
  camera->queueImage('d', {});
  lvtsim::ImageOverride silent;
  silent.silent = true;
  camera->queueImage('d', silent);
  camera->setRpcFault("MDAXMLDisconnectCP", lvtsim::RpcFault::Silent);
  const std::string out = scratch.file("grab");
  const auto start = std::chrono::steady_clock::now();
  const GrabRun run =
      grab(scratch, {"--address", camera->config().address, "--frames", "5", "--out", out});
  const double took =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(run.exitCode, 1) << run.output;
  EXPECT_NE(run.output.find("error while grabbing frame 2: vyxpUpdate failed: "), std::string::npos)
      << run.output;
  const size_t stalled = run.output.find("stopped answering: no image for ");
  ASSERT_NE(stalled, std::string::npos) << run.output;
  const double waited = std::stod(run.output.substr(stalled + 32));
  EXPECT_GE(waited, 1.0) << run.output;
  // The summary's time and rate are the two frames' own; the wait that ran out is told apart.
  const size_t in = run.output.find("Frames:            2 of 5 from ");
  ASSERT_NE(in, std::string::npos) << run.output;
  const size_t then = run.output.find(", then no frame for ", in);
  ASSERT_NE(then, std::string::npos) << run.output;
  EXPECT_GE(std::stod(run.output.substr(then + 20)) + 0.05, waited) << run.output;
  // Closing a camera that no longer answers is left to the background: nothing waits for it.
  EXPECT_NE(run.output.find("no longer answered; it is closed in the background"),
            std::string::npos)
      << run.output;
  // The two frames written stay described.
  const std::string manifest = readText(out + "/run.json");
  EXPECT_NE(manifest.find("\"frame_00001.raw\""), std::string::npos) << manifest;
  EXPECT_EQ(manifest.find("\"frame_00002.raw\""), std::string::npos) << manifest;
  EXPECT_LT(took, 120.0) << "bounded waits, generous margin";
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

  const GrabRun version = grab(scratch, {"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_NE(version.output.find("vyxgrab 1."), std::string::npos) << version.output;
  EXPECT_NE(version.output.find("lvt.L32.vcp, interface version 66049"), std::string::npos)
      << version.output;
  // Without --plugin the search order shows, with the file that will be loaded.
  EXPECT_NE(help.output.find("LVT_PLUGIN"), std::string::npos) << help.output;
  const size_t mark = help.output.find("<- will be loaded");
  EXPECT_NE(mark, std::string::npos) << help.output;
  EXPECT_EQ(help.output.find("<- will be loaded", mark + 1), std::string::npos) << help.output;
  // Run from the build tree, it looks there too.
  EXPECT_NE(help.output.find("build tree: /"), std::string::npos) << help.output;
}

TEST(VyxgrabRun, ManifestDescribesEveryFrameAndAFolderHoldsOneRun) {
  TempDir scratch;
  const std::string out = scratch.file("grab");
  const GrabRun run =
      grab(scratch, {"--simulate", "--frames", "3", "--itime0", "700", "--out", out});
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(readText(out + "/run.json").find("\"format\": \"lvt-run\""), std::string::npos);
  const vyxrec::Manifest m = vyxrec::readManifest(out);
  EXPECT_EQ(m.run.tool, "vyxgrab");
  EXPECT_FALSE(m.run.toolVersion.empty());
  EXPECT_EQ(m.run.interfaceVersion, 66049);
  EXPECT_TRUE(fs::exists(m.run.pluginPath)) << m.run.pluginPath;
  EXPECT_TRUE(m.run.simulated);
  EXPECT_EQ(m.run.address.rfind("127.", 0), 0u);
  EXPECT_EQ(m.run.requested.itime0, 700);
  EXPECT_FALSE(m.run.requested.itime1 || m.run.requested.fps);
  EXPECT_EQ(m.run.readBack.itime0, 700);
  EXPECT_EQ(m.run.readBack.itime1, 2000);
  EXPECT_EQ(m.run.readBack.fps, 25);
  ASSERT_EQ(m.frames.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const vyxrec::FrameEntry& f = m.frames[i];
    EXPECT_EQ(f.index, i);
    EXPECT_EQ(f.integrationTimes, (std::vector<uint32_t>{700, 2000}));
    EXPECT_EQ(f.raw, frameName(static_cast<int>(i)) + ".raw");
    EXPECT_EQ(f.stamp.utc.size(), 27u) << f.stamp.utc;
    EXPECT_EQ(f.stamp.utc.back(), 'Z');
    if (i > 0) {
      EXPECT_GT(f.stamp.monotonicNs, m.frames[i - 1].stamp.monotonicNs);
      EXPECT_GE(f.stamp.utc, m.frames[i - 1].stamp.utc);
    }
    EXPECT_EQ(f.files.size(), 11u);  // raw, desc and three files of three image types
    for (const std::string& name : f.files) EXPECT_TRUE(fs::exists(out + "/" + name)) << name;
  }

  // The folder belongs to that run: a second one is refused and changes nothing.
  const GrabRun again = grab(scratch, {"--simulate", "--frames", "1", "--out", out});
  EXPECT_EQ(again.exitCode, 1);
  EXPECT_NE(again.output.find(out + "/run.json"), std::string::npos) << again.output;
  EXPECT_NE(again.output.find("--overwrite"), std::string::npos) << again.output;
  EXPECT_EQ(vyxrec::readManifest(out).frames.size(), 3u);
  EXPECT_TRUE(fs::exists(out + "/" + frameName(2) + "_10001_distance.npy"));

  // A recording replays in the order its manifest gives; a file it does not list is no frame.
  const std::string replayed = scratch.file("replayed");
  std::ofstream(out + "/frame_00009.raw") << "not a frame";
  const GrabRun replay =
      grab(scratch, {"--simulate", "--replay", out, "--frames", "3", "--out", replayed});
  ASSERT_EQ(replay.exitCode, 0) << replay.output;
  EXPECT_EQ(readBytes(replayed + "/" + frameName(2) + ".raw"),
            readBytes(out + "/" + frameName(2) + ".raw"));
  EXPECT_EQ(vyxrec::readManifest(replayed).run.replay, out);

  // --overwrite removes the old run's files before the new run writes its own.
  const GrabRun over = grab(scratch, {"--simulate", "--frames", "1", "--overwrite", "--out", out});
  ASSERT_EQ(over.exitCode, 0) << over.output;
  EXPECT_EQ(vyxrec::readManifest(out).frames.size(), 1u);
  EXPECT_TRUE(fs::exists(out + "/" + frameName(0) + "_10001_distance.npy"));
  EXPECT_FALSE(fs::exists(out + "/" + frameName(1) + ".raw"));
  EXPECT_FALSE(fs::exists(out + "/" + frameName(2) + "_10004_intensity_preview.png"));

  // A recording whose listed frame is missing: the error names that file.
  fs::remove(out + "/" + frameName(0) + ".raw");
  const GrabRun broken =
      grab(scratch, {"--simulate", "--replay", out, "--out", scratch.file("broken")});
  EXPECT_EQ(broken.exitCode, 1);
  EXPECT_NE(broken.output.find(out + "/" + frameName(0) + ".raw"), std::string::npos)
      << broken.output;
}

// Two recorded frames: distance 1..64 with one NaN pixel, then distance 100..163; amplitude
// 500..563 in both.
std::string recordTwoFrames(const TempDir& scratch) {
  std::string recording = scratch.file("recording");
  fs::create_directories(recording);
  for (int f = 0; f < 2; ++f) {
    std::vector<uint8_t> frame = wireBlock(1, 0, f == 0 ? 1.0f : 100.0f);
    if (f == 0) {
      for (int b = 0; b < 4; ++b) frame[kHeaderBytes + 4 * 5 + b] = b == 0 ? 0x7f : 0xff;  // NaN
    }
    const std::vector<uint8_t> amplitude = wireBlock(2, 0, 500);
    frame.insert(frame.end(), amplitude.begin(), amplitude.end());
    std::ofstream(recording + "/" + frameName(f) + ".raw", std::ios::binary)
        .write(reinterpret_cast<const char*>(frame.data()),
               static_cast<std::streamsize>(frame.size()));
  }
  return recording;
}

TEST(VyxgrabRun, PngsKeepTheirScaleAndPreviewsKeepTheRunsScale) {
  TempDir scratch;
  const std::string recording = recordTwoFrames(scratch);
  const std::string out = scratch.file("grab");
  const GrabRun run =
      grab(scratch, {"--simulate", "--replay", recording, "--frames", "2", "--write", "png,preview",
                     "--range", "amplitude=0:100", "--out", out});
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_FALSE(fs::exists(out + "/" + frameName(0) + ".raw"));
  EXPECT_FALSE(fs::exists(out + "/" + frameName(0) + "_10001_distance.npy"));

  // The 16-bit PNG: 0 for NaN, 1..65535 over min..max, and min, max, unit inside the file.
  PngInfo gray;
  ASSERT_TRUE(readPng(out + "/" + frameName(0) + "_10001_distance.png", gray));
  EXPECT_EQ(gray.text["lvt:unit"], "m");
  ASSERT_EQ(gray.text.count("lvt:min"), 1u);
  const double lo = std::stod(gray.text["lvt:min"]), hi = std::stod(gray.text["lvt:max"]);
  EXPECT_EQ(lo, 1.0);
  EXPECT_EQ(hi, 64.0);
  for (size_t i = 0; i < 64; ++i) {
    const int sample = gray.rows[0][2 * i] << 8 | gray.rows[0][2 * i + 1];
    if (i == 5) {
      EXPECT_EQ(sample, 0) << "NaN";
      continue;
    }
    EXPECT_GE(sample, 1);
    const double recovered = lo + (sample - 1) / 65534.0 * (hi - lo);
    EXPECT_NEAR(recovered, 1.0 + static_cast<double>(i), (hi - lo) / 65534.0) << "pixel " << i;
  }

  // Every preview has the same size, the scales are the run's, and what falls outside is counted:
  // frame 1's distances all lie above frame 0's, every amplitude above the fixed 0..100.
  PngInfo first;
  ASSERT_TRUE(readPng(out + "/" + frameName(0) + "_10001_distance_preview.png", first));
  for (const char* typeFile : kTypeFiles) {
    for (int f = 0; f < 2; ++f) {
      PngInfo preview;
      ASSERT_TRUE(readPng(out + "/" + frameName(f) + "_" + typeFile + "_preview.png", preview));
      EXPECT_EQ(preview.width, first.width) << typeFile << " frame " << f;
      EXPECT_EQ(preview.height, first.height) << typeFile << " frame " << f;
    }
  }
  EXPECT_NE(run.output.find("distance 1 .. 64, 3200 values outside clipped"), std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("amplitude 0 .. 100, 6400 values outside clipped"), std::string::npos)
      << run.output;
  // Written as asked, and said once.
  EXPECT_TRUE(fs::exists(out + "/" + frameName(1) + "_10004_intensity.png"));
  const std::string same = "intensity has the same pixels as amplitude";
  const size_t at = run.output.find(same);
  ASSERT_NE(at, std::string::npos) << run.output;
  EXPECT_EQ(run.output.find(same, at + same.size()), std::string::npos) << run.output;
}

TEST(VyxgrabRun, RetriesCountOnlyRequestsTheCameraGotAgain) {
  TempDir scratch;
  const std::string out = scratch.file("grab");
  fs::create_directories(out + "/" + frameName(1) + ".raw");  // frame 1 cannot be written
  const GrabRun run = grab(scratch, {"--simulate", "--frames", "3", "--out", out});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.output.find("error while writing frame 1"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("Retried images:    0 (the camera got 4 image requests for 4 images)"),
            std::string::npos)
      << run.output;
}

TEST(VyxgrabRun, TermAndHupStopLikeCtrlCWithTheirOwnExitCodes) {
  for (const int signal : {SIGTERM, SIGHUP}) {
    const std::string name = signal == SIGTERM ? "SIGTERM" : "SIGHUP";
    SCOPED_TRACE(name);
    TempDir scratch;
    const std::string out = scratch.file("grab");
    const std::string log = scratch.file("output.txt");
    const pid_t pid =
        spawnGrab({"--simulate", "--realtime", "--frames", "0", "--fps", "20", "--out", out}, log);
    ASSERT_GT(pid, 0);
    const std::string second = out + "/" + frameName(1) + "_10004_intensity_preview.png";
    for (int wait = 0; wait < 600 && !fs::exists(second); ++wait) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(fs::exists(second)) << readText(log);
    ::kill(pid, signal);
    const GrabRun run = finish(pid, log);
    EXPECT_EQ(run.exitCode, 128 + signal) << run.output;
    EXPECT_NE(run.output.find(name + ": stopping after the current frame"), std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("stopped by " + name + "\n"), std::string::npos) << run.output;
    // The camera was closed and the run described up to its last frame.
    int frames = 0;
    while (fs::exists(out + "/" + frameName(frames) + ".raw")) ++frames;
    EXPECT_EQ(vyxrec::readManifest(out).frames.size(), static_cast<size_t>(frames));
  }
}

// ---- Recordings in one file (--out NAME.mcap) ----

// Every frame of a recording, in order.
std::vector<vyxrec::PlaybackFrame> playAll(vyxrec::McapPlayback& play) {
  std::vector<vyxrec::PlaybackFrame> frames;
  vyxrec::PlaybackFrame f;
  while (play.next(f)) frames.push_back(f);
  return frames;
}

// A disk that fills up mid-run (a file-size limit makes the writes fail, as ENOSPC would): the
// recording is closed properly, every frame before the failure reads back with its floats, and
// the last metadata record says why it ended.
TEST(VyxgrabRecording, WriteFailureClosesTheFileWithTheReasonAndKeepsEveryFrameBefore) {
  TempDir scratch;
  const std::string file = scratch.file("full.mcap");
  const std::string log = scratch.file("output.txt");
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::signal(SIGXFSZ, SIG_IGN);  // the write then fails with EFBIG instead of killing us
    const rlimit limit{10u << 20, 10u << 20};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(fd, STDOUT_FILENO);
    ::dup2(fd, STDERR_FILENO);
    ::execl(VYXGRAB_PATH, VYXGRAB_PATH, "--simulate", "--frames", "400", "--out", file.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  const GrabRun run = finish(pid, log);
  EXPECT_EQ(run.exitCode, 1) << run.output;
  EXPECT_NE(run.output.find("full.mcap"), std::string::npos) << run.output;

  vyxrec::McapPlayback play(file);
  const std::vector<vyxrec::PlaybackFrame> frames = playAll(play);
  EXPECT_TRUE(play.complete()) << play.stopReason();
  EXPECT_GT(frames.size(), 10u);
  EXPECT_LT(frames.size(), 400u);
  EXPECT_NE(play.failure().find("File too large"), std::string::npos) << play.failure();
  EXPECT_NE(play.counters().find("\"frames\""), std::string::npos) << play.counters();
  for (size_t n = 0; n < frames.size(); ++n) {
    ASSERT_EQ(frames[n].sequence, n);
    ASSERT_EQ(frames[n].raw.size(), kFrameBytes);
    // The recorded distance is the wire's big-endian image, pixel for pixel.
    const std::vector<uint8_t> wire = wireImage(frames[n].raw, 1);
    ASSERT_EQ(frames[n].distance.size(), kImageBytes / 4);
    for (size_t i = 0; i < frames[n].distance.size(); i += 97)
      ASSERT_EQ(frames[n].distance[i], bigEndianFloat(&wire[4 * i])) << "frame " << n;
  }
}

// Recordings of two hosts merged: every frame of both kept, in stamp order, the second camera of
// the same name told apart, and both runs' descriptions kept.
TEST(VyxgrabRecording, MergeOfTwoRecordingsKeepsEveryFrameInStampOrder) {
  TempDir scratch;
  const std::string a = scratch.file("a.mcap"), b = scratch.file("b.mcap"),
                    rig = scratch.file("rig.mcap");
  for (const std::string& file : {a, b}) {
    const GrabRun run = grab(scratch, {"--simulate", "--frames", "6", "--out", file});
    ASSERT_EQ(run.exitCode, 0) << run.output;
  }
  const GrabRun merged = grab(scratch, {"--merge", a, b, "--out", rig});
  ASSERT_EQ(merged.exitCode, 0) << merged.output;
  EXPECT_NE(merged.output.find("cam0_2"), std::string::npos) << merged.output;

  vyxrec::McapPlayback play(rig);
  const std::vector<vyxrec::PlaybackFrame> frames = playAll(play);
  EXPECT_TRUE(play.complete()) << play.stopReason();
  ASSERT_EQ(play.cameras(), (std::vector<std::string>{"cam0", "cam0_2"}));
  std::vector<uint32_t> next(2, 0);
  for (const vyxrec::PlaybackFrame& f : frames) {
    EXPECT_EQ(f.sequence, next[f.camera]++);
    EXPECT_EQ(f.raw.size(), kFrameBytes);
    EXPECT_EQ(f.distance.size(), kImageBytes / 4);
  }
  EXPECT_EQ(next, (std::vector<uint32_t>{6, 6}));
  vyxrec::McapReader reader(rig);
  vyxrec::McapMessage m;
  uint64_t lastStamp = 0, messages = 0;
  while (reader.next(m)) {
    EXPECT_GE(m.logTime, lastStamp) << "message " << messages;
    lastStamp = m.logTime;
    ++messages;
  }
  EXPECT_EQ(messages, 2u * (3 * 6 + 1));  // raw, distance, amplitude per frame, one camera_info
  size_t runs = 0;
  for (const vyxrec::McapMetadata& m : play.reader().metadata()) runs += m.name == "run";
  EXPECT_EQ(runs, 2u);

  // Cameras of the same name from two hosts: the one that comes second in time (this host's:
  // the other file's stamps are older) is named after its host.
  const std::string other = scratch.file("other-host.mcap");
  vyxtest::recWrite(other, 1, 3, {}, R"({"tool": "vyxgrab", "host": "cell-3.local"})");
  const std::string hosts = scratch.file("hosts.mcap");
  const GrabRun mergedHosts = grab(scratch, {"--merge", a, other, "--out", hosts});
  ASSERT_EQ(mergedHosts.exitCode, 0) << mergedHosts.output;
  vyxrec::McapPlayback both(hosts);
  const std::vector<vyxrec::PlaybackFrame> all = playAll(both);
  char host[256] = {};
  ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);
  std::string thisHost = host;
  for (char& c : thisHost) c = std::isalnum(static_cast<unsigned char>(c)) != 0 ? c : '_';
  EXPECT_EQ(both.cameras(), (std::vector<std::string>{"cam0", "cam0_" + thisHost}));
  EXPECT_EQ(all.size(), 6u + 3u);
}

// A recorder killed outright loses at most its open chunk: 8 s into a paced run, at least the
// first 6 s read back, frame after frame.
TEST(SlowRecording, GrabberKilledEightSecondsInLeavesItsFirstSixSecondsReadable) {
  TempDir scratch;
  const std::string file = scratch.file("killed.mcap");
  const std::string log = scratch.file("output.txt");
  const pid_t pid = spawnGrab({"--simulate", "--realtime", "--frames", "0", "--out", file}, log);
  // Waits for the first frame on the disk, then 8 s of recording.
  for (int i = 0; i < 300 && !fs::exists(file); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  std::this_thread::sleep_for(std::chrono::seconds(8));
  ::kill(pid, SIGKILL);
  finish(pid, log);

  vyxrec::McapPlayback play(file);
  const std::vector<vyxrec::PlaybackFrame> frames = playAll(play);
  EXPECT_FALSE(play.complete());
  ASSERT_GE(frames.size(), 2u) << play.stopReason();
  for (size_t n = 0; n < frames.size(); ++n) ASSERT_EQ(frames[n].sequence, n);
  const double seconds = static_cast<double>(frames.back().stampNs - frames.front().stampNs) / 1e9;
  EXPECT_GE(seconds, 6.0) << frames.size() << " frames; " << play.stopReason();
  EXPECT_FALSE(play.runManifest().empty());
}

}  // namespace
