// vyxgrab with several cameras (--address repeated), run as a program against simulated cameras
// paced at their frame rate, each on its own loopback address: one recording with every camera's
// frames, bad command lines refused before any camera is touched, and a camera lost mid-run
// named, with and without --keep-going, while what was recorded stays readable.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "program_run.h"
#include "sim_fixture.h"
#include "temp_dir.h"
#include "vyxrec/mcap_playback.h"
#include "vyxrec/mcap_reader.h"

namespace {

using vyxtest::Program;
using vyxtest::TempDir;

std::unique_ptr<lvtsim::Camera> pacedCamera() {
  lvtsim::CameraConfig cfg;
  cfg.realtime = true;  // 25 frames/s, as the camera delivers them
  return vyxtest::startCamera(cfg);
}

// Each camera's frames as the playback reads them; every camera's sequence numbers must run
// 0, 1, 2, ... without a gap.
std::map<std::string, size_t> framesPerCamera(vyxrec::McapPlayback& play) {
  std::map<std::string, size_t> count;
  vyxrec::PlaybackFrame f;
  while (play.next(f)) {
    const std::string& name = play.cameras().at(f.camera);
    EXPECT_EQ(f.sequence, count[name]) << name;
    ++count[name];
  }
  return count;
}

// Until the simulated camera has answered `images` distance requests (a guard of a minute
// against a hang, not a timing limit).
void waitForImages(const lvtsim::Camera& camera, uint64_t images) {
  for (int i = 0; i < 1200 && camera.framesAnswered('d') < images; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_GE(camera.framesAnswered('d'), images);
}

TEST(VyxgrabRig, TwoCamerasRecordTwentyFramesEachIntoOneFile) {
  TempDir scratch;
  auto a = pacedCamera(), b = pacedCamera();
  const std::string rig = scratch.file("rig.mcap");
  Program grab(VYXGRAB_PATH,
               {"--address", a->config().address, "--address", b->config().address, "--frames",
                "20", "--out", rig},
               scratch.file("output.txt"));
  ASSERT_EQ(grab.wait(), 0) << grab.output();
  const std::string output = grab.output();
  for (const std::string& line : {"Camera cam0:       20 frames from " + a->config().address,
                                  "Camera cam1:       20 frames from " + b->config().address})
    EXPECT_NE(output.find(line), std::string::npos) << output;

  // Per camera: 20 distance images, numbered 0..19, their stamps (host UTC) moving forward.
  vyxrec::McapReader reader(rig);
  std::map<std::string, std::vector<vyxrec::McapMessage>> byTopic;
  vyxrec::McapMessage m;
  while (reader.next(m)) byTopic[reader.channels().at(m.channelId).topic].push_back(m);
  EXPECT_TRUE(reader.complete());
  for (const char* topic : {"/lvt/cam0/distance", "/lvt/cam1/distance"}) {
    const std::vector<vyxrec::McapMessage>& list = byTopic[topic];
    ASSERT_EQ(list.size(), 20u) << topic;
    for (size_t n = 0; n < list.size(); ++n) {
      EXPECT_EQ(list[n].sequence, n) << topic;
      if (n > 0) {
        EXPECT_GT(list[n].logTime, list[n - 1].logTime) << topic << " #" << n;
      }
    }
  }
  // The two cameras grabbed side by side: their stamps interleave rather than one after the other.
  EXPECT_LT(byTopic["/lvt/cam1/distance"].front().logTime,
            byTopic["/lvt/cam0/distance"].back().logTime);
  EXPECT_LT(byTopic["/lvt/cam0/distance"].front().logTime,
            byTopic["/lvt/cam1/distance"].back().logTime);

  vyxrec::McapPlayback play(rig);
  const std::map<std::string, size_t> frames = framesPerCamera(play);
  EXPECT_EQ(frames, (std::map<std::string, size_t>{{"cam0", 20}, {"cam1", 20}}));
  EXPECT_TRUE(play.failure().empty()) << play.failure();
  for (const char* name : {"cam0", "cam1"}) {
    EXPECT_NE(play.counters().find("\"" + std::string(name) + "\":{\"frames\":20,"),
              std::string::npos)
        << play.counters();
  }
  EXPECT_NE(play.runManifest().find(b->config().address), std::string::npos) << play.runManifest();
}

// Each refused with its own message and exit status 2, no camera ever asked anything and no
// file made.
TEST(VyxgrabRig, BadCommandLinesAreRefusedBeforeAnyCameraIsOpened) {
  TempDir scratch;
  auto a = vyxtest::startCamera(), b = vyxtest::startCamera();
  const std::string A = a->config().address, B = b->config().address;
  const std::string rig = scratch.file("rig.mcap");
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--address", A, "--address", A, "--out", rig}, "--address " + A + " is given twice"},
      {{"--address", A, "--address", B, "--name", "left", "--name", "left", "--out", rig},
       "the name left is given to two cameras (" + A + " and " + B + ")"},
      // The second camera's default name is cam1.
      {{"--address", A, "--address", B, "--name", "cam1", "--out", rig},
       "the name cam1 is given to two cameras"},
      {{"--address", A, "--name", "left", "--name", "right", "--out", rig},
       "2 names (--name) for 1 camera"},
      {{"--address", A, "--address", B, "--out", scratch.file("folder")}, "--out NAME.mcap"},
  };
  for (const auto& [args, message] : cases) {
    Program grab(VYXGRAB_PATH, args, scratch.file("output.txt"));
    EXPECT_EQ(grab.wait(), 2) << grab.output();
    EXPECT_NE(grab.output().find(message), std::string::npos) << grab.output();
  }
  EXPECT_TRUE(a->calls().empty());
  EXPECT_TRUE(b->calls().empty());
  EXPECT_FALSE(std::filesystem::exists(rig));
}

// The second camera goes away mid-run. Without --keep-going both stop; with it the first goes on
// until Ctrl-C. Either way the exit status is 1, the failed camera is named, and the recording
// is complete: every frame of both cameras before the loss, the reason as its last record.
TEST(VyxgrabRig, CameraLostMidRunIsNamedAndTheRecordingKeepsEveryFrame) {
  for (const bool keepGoing : {false, true}) {
    SCOPED_TRACE(keepGoing ? "--keep-going" : "without --keep-going");
    TempDir scratch;
    auto a = pacedCamera(), b = pacedCamera();
    const std::string rig = scratch.file("rig.mcap");
    std::vector<std::string> args = {"--address", a->config().address,
                                     "--address", b->config().address,
                                     "--frames",  "0",
                                     "--out",     rig};
    if (keepGoing) args.push_back("--keep-going");
    Program grab(VYXGRAB_PATH, args, scratch.file("output.txt"));
    waitForImages(*b, 5);
    b->stop();
    const uint64_t before = a->framesAnswered('d');
    if (keepGoing) {
      // The first camera goes on: ten more frames, then Ctrl-C ends the run.
      waitForImages(*a, before + 10);
      grab.signal(SIGINT);
    }
    EXPECT_EQ(grab.wait(), 1) << grab.output();
    const std::string output = grab.output();
    EXPECT_NE(output.find("vyxgrab: camera cam1 at " + b->config().address + ": error while"),
              std::string::npos)
        << output;
    EXPECT_NE(output.find("1 of 2 cameras failed (cam1)"), std::string::npos) << output;
    EXPECT_NE(output.find(keepGoing ? "stopped by Ctrl-C" : "stopped when cam1 failed"),
              std::string::npos)
        << output;

    vyxrec::McapPlayback play(rig);
    std::map<std::string, size_t> frames = framesPerCamera(play);
    EXPECT_TRUE(play.complete()) << play.stopReason();
    EXPECT_GE(frames["cam1"], 4u);  // five images asked for: at least four whole frames
    // Every frame the first camera delivered before the end is kept.
    EXPECT_GE(frames["cam0"], keepGoing ? before + 10 : 1u);
    EXPECT_EQ(play.failure().find("cam1 (" + b->config().address + "): error while"), 0u)
        << play.failure();
    EXPECT_NE(play.counters().find("\"cam0\":{\"frames\":" + std::to_string(frames["cam0"])),
              std::string::npos)
        << play.counters();
  }
}

}  // namespace
