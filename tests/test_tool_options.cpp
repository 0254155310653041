// vyxgrab's command line, its summary text and its look into raw frames.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "grab_options.h"
#include "grab_report.h"
#include "progress_line.h"
#include "raw_frame_blocks.h"

namespace {

using namespace vyxgrab;

GrabOptions parse(const std::vector<std::string>& args) {
  return parseGrabOptions(args, "/default/lvt.L32.vcp");
}

std::string usageErrorFor(const std::vector<std::string>& args) {
  try {
    parse(args);
  } catch (const UsageError& e) {
    return e.what();
  }
  return "<accepted>";
}

TEST(GrabOptions, DefaultsWithSimulate) {
  const GrabOptions o = parse({"--simulate"});
  EXPECT_TRUE(o.simulate);
  EXPECT_EQ(o.pluginPath, "/default/lvt.L32.vcp");
  EXPECT_EQ(o.frames, 10u);
  EXPECT_EQ(o.outDir, "vyxgrab-frames");
  EXPECT_EQ(o.zoom, 4u);
  EXPECT_FALSE(o.itime0 || o.itime1 || o.fps);
}

TEST(GrabOptions, EveryOptionInBothSpellings) {
  const GrabOptions a =
      parse({"--address", "cam.example", "--plugin", "/p.vcp", "--out", "d", "--frames", "0",
             "--itime0", "1", "--itime1", "5000", "--fps", "30", "--zoom", "32"});
  const GrabOptions b = parse({"--address=cam.example", "--plugin=/p.vcp", "--out=d", "--frames=0",
                               "--itime0=1", "--itime1=5000", "--fps=30", "--zoom=32"});
  for (const GrabOptions& o : {a, b}) {
    EXPECT_FALSE(o.simulate);
    EXPECT_EQ(o.address, "cam.example");
    EXPECT_EQ(o.pluginPath, "/p.vcp");
    EXPECT_EQ(o.outDir, "d");
    EXPECT_EQ(o.frames, 0u);
    EXPECT_EQ(o.itime0, 1u);
    EXPECT_EQ(o.itime1, 5000u);
    EXPECT_EQ(o.fps, 30u);
    EXPECT_EQ(o.zoom, 32u);
  }
  const GrabOptions r = parse({"--simulate", "--replay", "rec", "--realtime"});
  EXPECT_EQ(r.replayDir, "rec");
  EXPECT_TRUE(r.realtime);
}

TEST(GrabOptions, ValuesOutsideThePlugInsRangeAreLeftToThePlugIn) {
  // The plug-in refuses these with its own codes and texts, which vyxgrab shows.
  const GrabOptions o = parse({"--simulate", "--itime0", "0", "--itime1", "99999", "--fps", "0"});
  EXPECT_EQ(o.itime0, 0u);
  EXPECT_EQ(o.itime1, 99999u);
  EXPECT_EQ(o.fps, 0u);
}

TEST(GrabOptions, HelpNeedsNothingElse) {
  EXPECT_TRUE(parse({"--help"}).help);
  EXPECT_TRUE(parse({"--address", "x", "-h"}).help);
}

TEST(GrabOptions, RefusesUnusableCommandLinesWithAReason) {
  EXPECT_NE(usageErrorFor({}).find("--address"), std::string::npos);
  EXPECT_NE(usageErrorFor({"--simulate", "--address", "127.0.0.1"}).find("exclude"),
            std::string::npos);
  EXPECT_NE(usageErrorFor({"--address", "a", "--replay", "d"}).find("only with --simulate"),
            std::string::npos);
  EXPECT_NE(usageErrorFor({"--address", "a", "--realtime"}).find("only with --simulate"),
            std::string::npos);
  EXPECT_NE(usageErrorFor({"--simulate", "--frames"}).find("needs a value"), std::string::npos);
  EXPECT_NE(usageErrorFor({"--simulate", "--frames", "-1"}).find("whole number"),
            std::string::npos);
  EXPECT_NE(usageErrorFor({"--simulate", "--frames", "5x"}).find("'5x'"), std::string::npos);
  EXPECT_NE(usageErrorFor({"--simulate", "--itime0", "4294967296"}).find("too large"),
            std::string::npos);
  EXPECT_NE(usageErrorFor({"--simulate", "--frames", "18446744073709551616"}).find("too large"),
            std::string::npos);
  EXPECT_NE(usageErrorFor({"--simulate", "--zoom", "0"}).find("1 to 32"), std::string::npos);
  EXPECT_NE(usageErrorFor({"--simulate", "--zoom", "33"}).find("too large"), std::string::npos);
  EXPECT_NE(usageErrorFor({"--simulate", "--simulate=yes"}).find("takes no value"),
            std::string::npos);
  EXPECT_NE(usageErrorFor({"--simulate", "--colour"}).find("unknown option '--colour'"),
            std::string::npos);
  EXPECT_NE(usageErrorFor({"--address", ""}).find("host name"), std::string::npos);
}

TEST(GrabOptions, LargestNumbersAreAccepted) {
  EXPECT_EQ(parse({"--simulate", "--frames", "18446744073709551615"}).frames, UINT64_MAX);
  EXPECT_EQ(parse({"--simulate", "--fps", "4294967295"}).fps, 4294967295u);
}

TEST(GrabOptions, UsageMentionsEveryOptionAndTheDefaultPlugin) {
  const std::string usage = grabUsage("/default/lvt.L32.vcp");
  for (const char* option :
       {"--address", "--simulate", "--replay", "--realtime", "--plugin", "--itime0", "--itime1",
        "--fps", "--frames", "--out", "--zoom", "--help", "Example"}) {
    EXPECT_NE(usage.find(option), std::string::npos) << option;
  }
  EXPECT_NE(usage.find("/default/lvt.L32.vcp"), std::string::npos);
}

// A frame of image blocks as the plug-in hands it out.
void appendBlock(std::vector<uint8_t>& frame, float type, uint32_t headerBytes,
                 uint32_t dataBytes) {
  auto word = [&](float v) {
    uint32_t w;
    std::memcpy(&w, &v, 4);
    for (int shift = 24; shift >= 0; shift -= 8) frame.push_back(static_cast<uint8_t>(w >> shift));
  };
  word(static_cast<float>(dataBytes));
  word(static_cast<float>(headerBytes));
  word(type);
  frame.resize(frame.size() + headerBytes - 12 + dataBytes, 0);
}

TEST(RawFrameBlocks, ListsTheTypeOfEveryCompleteBlock) {
  std::vector<uint8_t> frame;
  appendBlock(frame, 1.0f, 68, 12800);
  appendBlock(frame, 2.0f, 68, 12800);
  appendBlock(frame, 8.0f, 412, 0);
  EXPECT_EQ(imageTypesInFrame(frame), (std::vector<int>{1, 2, 8}));
  EXPECT_TRUE(imageTypesInFrame({}).empty());
}

TEST(RawFrameBlocks, StopsAtABlockThatDoesNotFit) {
  std::vector<uint8_t> frame;
  appendBlock(frame, 1.0f, 68, 12800);
  appendBlock(frame, 2.0f, 68, 12800);
  frame.pop_back();  // the second block is now cut short
  EXPECT_EQ(imageTypesInFrame(frame), (std::vector<int>{1}));

  std::vector<uint8_t> odd;
  appendBlock(odd, 1.0f, 8, 4);  // a header too small to hold the type word
  EXPECT_TRUE(imageTypesInFrame(odd).empty());
}

TEST(GrabReport, SummaryCountsRetriesOnlyWhenTheRequestsAreKnown) {
  GrabReport r;
  r.address = "127.1.2.3";
  r.cameraNote = "simulated camera";
  r.outDir = "/tmp/out";
  r.framesWanted = 4;
  r.frames = 4;
  r.seconds = 2.0;
  r.firstFrameAt = 0.5;  // three intervals in 1.5 s
  r.lastFrameAt = 2.0;
  r.imageBlocks = 8;
  r.frameBytes = 25736;
  r.columns = 64;
  r.rows = 50;
  r.cameraImageTypes = {1, 2};
  r.outputs = {"distance (0x10001)", "amplitude (0x10002)"};
  r.itimeSetting = std::array<uint32_t, 2>{700, 1500};
  r.itimeFrame = std::array<int32_t, 2>{700, 1500};
  r.fps = "25";
  r.files = 44;
  r.fileBytes = 1000;
  r.retriedImages = 3;
  r.stalls = 2;
  r.losses = 1;
  r.reconnects = 1;
  r.lastLatencySeconds = 0.0042;
  const std::string s = formatSummary(r);
  EXPECT_NE(s.find("4 from 127.1.2.3 (simulated camera) in 1.50 s, 2.0 frames/s\n"),
            std::string::npos)
      << s;
  EXPECT_NE(s.find("Retried images:    3 (the camera got 11 image requests for 8 images)"),
            std::string::npos)
      << s;
  EXPECT_NE(s.find("700 / 1500 us set in the camera, 700 / 1500 us in the last frame"),
            std::string::npos)
      << s;
  EXPECT_NE(s.find("25736 bytes, 2 images of 64 x 50 pixels (camera image types 1, 2)"),
            std::string::npos)
      << s;
  EXPECT_NE(s.find("Frame rate:        25 frames/s"), std::string::npos) << s;
  EXPECT_NE(s.find("Session:           2 stalls, 1 losses, 1 reconnects, last latency 4.2 ms\n"),
            std::string::npos)
      << s;
  EXPECT_NE(s.find("distance (0x10001), amplitude (0x10002)"), std::string::npos) << s;
  EXPECT_NE(s.find("44 (1000 bytes) in /tmp/out"), std::string::npos) << s;

  r.retriedImages.reset();
  r.frames = 3;
  r.lastFrameAt = r.firstFrameAt + 4.0 / 3.0;  // two intervals
  r.interrupted = true;
  const std::string t = formatSummary(r);
  EXPECT_EQ(t.find("Retried"), std::string::npos) << t;
  EXPECT_NE(
      t.find(
          "3 of 4 from 127.1.2.3 (simulated camera) in 1.33 s, 1.5 frames/s, stopped by Ctrl-C\n"),
      std::string::npos)
      << t;

  // Ten frames one second apart are 1 frame/s, however long the first one took to come, and a
  // stop by another signal names it.
  r.frames = 10;
  r.framesWanted = 10;
  r.firstFrameAt = 0.95;
  r.lastFrameAt = 9.95;
  r.seconds = 10.0;
  r.stopSignal = SIGTERM;
  const std::string u = formatSummary(r);
  EXPECT_NE(u.find(" in 9.00 s, 1.0 frames/s, stopped by SIGTERM\n"), std::string::npos) << u;
  r.frames = 1;
  EXPECT_NE(formatSummary(r).find("(simulated camera), stopped by SIGTERM\n"), std::string::npos)
      << "one frame has no rate: " << formatSummary(r);

  // A camera that went silent: the time and rate stay the frames' own, the wait is told apart
  // (never "13792 frames in 12.25 s, 6884.6 frames/s").
  r.frames = 13792;
  r.firstFrameAt = 0.25;
  r.lastFrameAt = 2.25;
  r.seconds = 12.25;
  r.waitAfterLastFrame = 10.0;
  r.interrupted = false;
  const std::string v = formatSummary(r);
  EXPECT_NE(v.find(" in 2.00 s, 6895.5 frames/s, then no frame for 10.0 s\n"), std::string::npos)
      << v;
}

TEST(ProgressLine, TextShowsCountTotalAndRate) {
  EXPECT_EQ(progressText(12, 100, 0.5), "frame 12/100  24.0 frames/s");
  EXPECT_EQ(progressText(7, 0, 2.0), "frame 7  3.5 frames/s  (Ctrl-C stops)");
  EXPECT_EQ(progressText(0, 5, 0.0), "frame 0/5  0.0 frames/s");
}

std::string capture(bool enabled, const std::function<void(ProgressLine&)>& use) {
  std::FILE* f = std::tmpfile();
  ProgressLine line(f, enabled);
  use(line);
  std::rewind(f);
  std::string text;
  for (int c; (c = std::fgetc(f)) != EOF;) text.push_back(static_cast<char>(c));
  std::fclose(f);
  return text;
}

TEST(ProgressLine, RewritesOneLineAndEndsItWithTheLatestState) {
  const std::string text = capture(true, [](ProgressLine& p) {
    p.update(1, 0, 1.0);
    p.update(2, 0, 1.0);  // may be held back, but finish() shows it
    p.finish();
    p.finish();  // a second finish adds nothing
  });
  EXPECT_EQ(text.rfind("\rframe 1  1.0 frames/s  (Ctrl-C stops)\033[K", 0), 0u) << text;
  const std::string end = "\rframe 2  2.0 frames/s  (Ctrl-C stops)\033[K\n";
  ASSERT_GE(text.size(), end.size());
  EXPECT_EQ(text.substr(text.size() - end.size()), end);
  EXPECT_EQ(text.find('\n'), text.size() - 1);

  EXPECT_EQ(capture(false,
                    [](ProgressLine& p) {
                      p.update(1, 5, 1.0);
                      p.finish();
                    }),
            "");
}

}  // namespace
