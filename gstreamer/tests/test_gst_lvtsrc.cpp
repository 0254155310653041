// lvtsrc through real pipelines: the frames it delivers, its errors, its live settings, state
// cycles, and the command lines the README shows.
#include <arpa/inet.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <random>
#include <set>

#include "pipeline_fixture.h"
#include "sample_scaling.h"

namespace lvtgsttest {
namespace {

// Distance with the filters on (the default): the pixels the depth pipeline finds unusable in
// the same raw frame are 0, the others today's scaled values; without filters, and for the
// amplitude, every pixel is the scaled value.
TEST(LvtSrc, DeliversTheProcessedFramesScaledWithTimeStampsAndFrameNumbers) {
  ReferenceFrames reference;
  size_t filteredOut = 0;
  for (const auto& [image, type, scale, filters] :
       {std::tuple{"distance", VYX_TYPE_10001, 1000.0, true},
        std::tuple{"distance", VYX_TYPE_10001, 1000.0, false},
        std::tuple{"amplitude", VYX_TYPE_10002, 0.25, true}}) {
    SCOPED_TRACE(std::string(image) + (filters ? " filtered" : " unfiltered"));
    Pipeline p(std::string("lvtsrc simulate=true num-buffers=20 image=") + image +
               " scale=" + std::to_string(scale) + " filters=" + (filters ? "true" : "false") +
               " ! appsink name=sink");
    ASSERT_NE(p.set(GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    std::vector<Frame> frames(1);
    while (pullFrame(p["sink"], frames.back())) frames.emplace_back();
    frames.pop_back();
    ASSERT_EQ(frames.size(), 20u);
    EXPECT_EQ(frames[0].offset, 0u) << "frame 0 is delivered, not swallowed";
    EXPECT_EQ(p.next(GST_MESSAGE_EOS), "EOS") << "num-buffers ends the stream";
    for (size_t i = 0; i < frames.size(); ++i) {
      const Frame& f = frames[i];
      EXPECT_EQ(f.format + " " + std::to_string(f.width) + "x" + std::to_string(f.height) + " " +
                    std::to_string(f.fps),
                "GRAY16_LE 64x50 25");
      ASSERT_TRUE(GST_CLOCK_TIME_IS_VALID(f.pts));
      if (i > 0) {
        EXPECT_EQ(f.offset, frames[i - 1].offset + 1) << "offsets count the camera's frames";
        EXPECT_GT(f.pts, frames[i - 1].pts);
      }
      if (filters && type == VYX_TYPE_10001) {
        size_t invalid = 0;
        ASSERT_EQ(f.samples, reference.filteredDistance(f.offset, scale, invalid))
            << "frame " << f.offset;
        filteredOut += invalid;
      } else {
        ASSERT_EQ(f.samples, reference.samples(type, f.offset, scale)) << "frame " << f.offset;
      }
    }
    EXPECT_GT(std::set<uint16_t>(frames[0].samples.begin(), frames[0].samples.end()).size(), 100u)
        << "the scene is not flat";
    // Stamped on arrival by the pipeline clock: 20 frames at 25/s span about 0.8 s.
    const double span = static_cast<double>(frames.back().pts - frames.front().pts) / GST_SECOND;
    EXPECT_GT(span, 0.4);
    EXPECT_LT(span, 5.0);
  }
  // The scene gives the filters work (the sphere's rim mixes two surfaces), and most pixels pass.
  EXPECT_GT(filteredOut, 20u);
  EXPECT_LT(filteredOut, 20u * 64 * 50 / 4);
}

// Eight elements in one pipeline, each with its own paced camera, grab side by side: each keeps
// its camera's rate. Taking turns, they shared one camera's worth of frames (about 4.7 periods
// per frame each).
TEST(LvtSrc, EightElementsGrabSideBySideAtTheirCamerasRate) {
  constexpr int kElements = 8, kFrames = 50;
  std::string description;
  for (int i = 0; i < kElements; ++i) {
    description += "lvtsrc simulate=true num-buffers=" + std::to_string(kFrames) +
                   " ! appsink sync=false name=sink" + std::to_string(i) + " ";
  }
  Pipeline p(description);
  ASSERT_NE(p.set(GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
  for (int i = 0; i < kElements; ++i) {
    SCOPED_TRACE("element " + std::to_string(i));
    std::vector<Frame> frames(kFrames);
    for (Frame& f : frames) ASSERT_TRUE(pullFrame(p[("sink" + std::to_string(i)).c_str()], f));
    EXPECT_EQ(frames.front().offset, 0u);
    EXPECT_EQ(frames.back().offset, uint64_t{kFrames - 1});
    // From frame 1 on: frame 0 came while the pipeline was still starting the other elements.
    const double periods = static_cast<double>(frames.back().pts - frames[1].pts) /
                           static_cast<double>(GST_SECOND) * frames.back().fps;
    EXPECT_LT(periods / (kFrames - 2), 2.0) << "camera periods per frame";
  }
  EXPECT_EQ(p.next(GST_MESSAGE_EOS), "EOS");
}

TEST(LvtSrc, CameraErrorsReachTheBusWithThePluginsTextAndStopCleanly) {
  // Nothing listens: the bus error is what vyxhost reports for the same opening, followed by
  // what the session knows; ours is the only error, the base class adds none.
  const std::string nowhere = lvtsim::randomLoopbackAddress();
  std::string expected = "no error";
  try {
    vyxhost::Plugin plugin(vyxhost::findPlugin());
    vyxhost::SourceInstance camera(plugin, 9100, nowhere);
  } catch (const vyxhost::CallError& e) {
    expected = e.what();
  }
  ASSERT_EQ(expected.rfind("vyxpInitRawDataPlugin failed: VYX_", 0), 0u) << expected;
  {
    Pipeline p("lvtsrc address=" + nowhere + " ! fakesink");
    EXPECT_EQ(p.set(GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    EXPECT_EQ(p.next(GST_MESSAGE_ERROR).rfind(expected + "; ", 0), 0u);
    EXPECT_EQ(p.next(GST_MESSAGE_ERROR, nullptr, GST_SECOND / 10), "none");
  }
  {  // a setting beyond the camera's range stops the start with the camera's own range
    Pipeline p("lvtsrc simulate=true itime0=9000 ! fakesink");
    EXPECT_EQ(p.set(GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    const std::string error = p.next(GST_MESSAGE_ERROR);
    EXPECT_NE(error.find("of 9000 us is outside the camera's range"), std::string::npos) << error;
    EXPECT_EQ(p.next(GST_MESSAGE_ERROR, nullptr, GST_SECOND / 10), "none");
  }

  // A camera of our own: settings made while playing reach it, one it refuses is kept out, and
  // losing it ends the stream with an error naming the call.
  lvtsim::CameraConfig cfg;
  cfg.realtime = true;
  auto camera = lvtsim::startOnFreeLoopback(cfg);
  Pipeline p("lvtsrc name=src address=" + camera->config().address + " ! appsink name=sink");
  GstElement* src = p["src"];
  ASSERT_NE(p.set(GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
  Frame f;
  ASSERT_TRUE(pullFrame(p["sink"], f));
  guint fps = 0;
  g_object_get(src, "fps", &fps, nullptr);
  EXPECT_EQ(fps, 25u) << "left to the camera, the property reads its rate";

  g_object_set(src, "itime0", 700u, "fps", 10u, nullptr);
  EXPECT_EQ(camera->frontend()[4], 700);
  EXPECT_EQ(camera->frontend()[7], 10);
  for (int i = 0; i < 5 && f.fps != 10; ++i) ASSERT_TRUE(pullFrame(p["sink"], f));
  EXPECT_EQ(f.fps, 10) << "caps follow the camera's new rate";

  double scale = 0;
  g_object_set(src, "scale", -1.0, nullptr);  // refused by the property's range
  g_object_set(src, "scale", std::nan(""), nullptr);
  g_object_get(src, "scale", &scale, nullptr);
  EXPECT_EQ(scale, 1000.0);

  // A rate beyond the camera's 30 is an error that ends the stream; the camera keeps its rate.
  g_object_set(src, "fps", 999u, nullptr);
  GstObject* from = nullptr;
  const std::string refusal = p.next(GST_MESSAGE_ERROR, &from);
  EXPECT_NE(refusal.find("vyxpPlatformCommand failed: VYX_"), std::string::npos) << refusal;
  EXPECT_NE(refusal.find("the camera took 30 frames/s, not 999"), std::string::npos) << refusal;
  EXPECT_EQ(from, GST_OBJECT(src));
  g_object_get(src, "fps", &fps, nullptr);
  EXPECT_EQ(fps, 10u);
  EXPECT_EQ(camera->frontend()[7], 10);
  while (pullFrame(p["sink"], f, GST_SECOND)) {
  }
  EXPECT_TRUE(gst_app_sink_is_eos(GST_APP_SINK(p["sink"]))) << "the stream has ended";

  // Streaming again: losing the camera ends the stream with an error naming the call.
  ASSERT_EQ(p.set(GST_STATE_NULL), GST_STATE_CHANGE_SUCCESS);
  ASSERT_NE(p.set(GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
  ASSERT_TRUE(pullFrame(p["sink"], f));
  camera->stop();
  EXPECT_EQ(p.next(GST_MESSAGE_ERROR).rfind("vyxpUpdate failed: VYX_", 0), 0u);
  EXPECT_EQ(p.set(GST_STATE_NULL), GST_STATE_CHANGE_SUCCESS);
}

// Values no simulated scene has: invalid readings, the ends of the 16-bit range, halves, and a
// count that leaves a tail after the groups of eight the conversion works in.
TEST(LvtSrc, SamplesFollowTheRoundingRuleAtTheEdges) {
  const float inf = std::numeric_limits<float>::infinity();
  std::vector<float> values = {std::nanf(""), -inf,    inf,     -0.001f, -0.0f,
                               0.0f,          0.0004f, 0.0025f, 65.534f, 65.5345f,
                               65.536f,       1e30f,   -1e30f,  2.5f,    3.0005f};
  std::mt19937 random(7);  // NOLINT(cert-msc51-cpp): the same values every run
  std::uniform_real_distribution<float> spread(-2.0f, 70.0f);
  for (int i = 0; i < 1000; ++i) values.push_back(i % 97 == 0 ? std::nanf("") : spread(random));
  // Values whose product with 1000 lies on a half, or a float's step beside it: where rounding in
  // single precision alone would go the wrong way.
  for (int i = 0; i < 400; ++i) {
    const auto half = static_cast<float>((i * 163.0 + 0.5) / 1000.0);
    values.insert(values.end(), {std::nextafter(half, 0.0f), half, std::nextafter(half, 1e9f)});
  }
  for (double scale : {1000.0, 1.0}) {
    std::vector<uint8_t> out(values.size() * 2);
    lvtgst::toSamplesLE(values.data(), values.size(), scale, out.data());
    for (size_t i = 0; i < values.size(); ++i) {
      ASSERT_EQ(out[2 * i] | (out[2 * i + 1] << 8), expectedSample(values[i], scale)) << values[i];
    }
  }
  EXPECT_EQ(lvtgst::toSample(0.0f, 1000), 1) << "0 is kept for no value";
  EXPECT_EQ(lvtgst::toSample(2.5f, 1), 3) << "halves round away from zero";
}

TEST(LvtSrc, PlayingToNullTenTimesLeavesNoDescriptorOpen) {
  auto openDescriptors = [] {
    const std::filesystem::directory_iterator fds("/proc/self/fd");
    return std::distance(begin(fds), end(fds));
  };
  Pipeline p("lvtsrc simulate=true ! appsink name=sink");
  Frame f;
  long before = 0;
  for (int cycle = 0; cycle <= 10; ++cycle) {
    if (cycle == 1) before = openDescriptors();  // GStreamer's own once-only ones are open now
    ASSERT_NE(p.set(GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    ASSERT_TRUE(pullFrame(p["sink"], f));
    ASSERT_EQ(p.set(GST_STATE_NULL), GST_STATE_CHANGE_SUCCESS);
  }
  EXPECT_EQ(openDescriptors(), before);
}

// --- the README's command lines, as gst-launch-1.0 runs them ---

GPid launch(const std::string& pipeline, bool wait) {
  gchar** argv = nullptr;
  EXPECT_TRUE(
      g_shell_parse_argv(("gst-launch-1.0 -q " + pipeline).c_str(), nullptr, &argv, nullptr));
  GPid pid = 0;
  gint status = -1;
  const auto flags = static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD);
  if (wait) {
    EXPECT_TRUE(g_spawn_sync(nullptr, argv, nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, nullptr,
                             nullptr, &status, nullptr));
    EXPECT_TRUE(g_spawn_check_wait_status(status, nullptr)) << pipeline;
  } else {
    EXPECT_TRUE(g_spawn_async(nullptr, argv, nullptr, flags, nullptr, nullptr, &pid, nullptr));
  }
  g_strfreev(argv);
  return pid;
}

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST(LvtSrc, ReadmeCommandLinesWritePngsAVideoAndStreamOverTcp) {
  gchar* made = g_dir_make_tmp("lvtsrc-test-XXXXXX", nullptr);
  const std::filesystem::path dir = made;
  g_free(made);
  launch("lvtsrc simulate=true num-buffers=20 ! videoconvert ! pngenc ! multifilesink location=" +
             (dir / "frame_%05d.png").string(),
         true);
  launch(
      "lvtsrc simulate=true num-buffers=20 ! videoconvert ! vp8enc ! webmmux ! filesink "
      "location=" +
          (dir / "camera.webm").string(),
      true);
  int pngs = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().extension() != ".png") continue;
    ++pngs;  // IHDR: 64 x 50, 16-bit grey
    EXPECT_EQ(readFile(entry.path()).substr(12, 14),
              std::string("IHDR\0\0\0\x40\0\0\0\x32\x10\0", 14))
        << entry.path();
  }
  EXPECT_EQ(pngs, 20);
  {
    Pipeline decode("filesrc location=" + (dir / "camera.webm").string() +
                    " ! matroskademux ! vp8dec ! appsink name=sink");
    ASSERT_NE(decode.set(GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    Frame f;
    int frames = 0;
    while (pullFrame(decode["sink"], f)) frames += f.width == 64 && f.height == 50;
    EXPECT_EQ(frames, 20) << "every frame is in the video";
  }
  std::filesystem::remove_all(dir);

  // The camera's host serves the stream on a free port; the receiving side gets the very frames.
  const std::string host = lvtsim::randomLoopbackAddress();
  sockaddr_in any{};
  any.sin_family = AF_INET;
  inet_pton(AF_INET, host.c_str(), &any.sin_addr);
  socklen_t length = sizeof any;
  const int probe = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(bind(probe, reinterpret_cast<sockaddr*>(&any), length), 0);
  getsockname(probe, reinterpret_cast<sockaddr*>(&any), &length);
  close(probe);
  const std::string port = std::to_string(ntohs(any.sin_port));
  const GPid sender = launch(
      "lvtsrc simulate=true num-buffers=250 ! rtpgstpay config-interval=1 ! rtpstreampay ! "
      "tcpserversink host=" +
          host + " port=" + port,
      false);
  std::vector<Frame> received;
  for (int attempt = 0; attempt < 50 && received.empty(); ++attempt) {
    Pipeline rx("tcpclientsrc host=" + host + " port=" + port +
                " ! application/x-rtp-stream,media=application,clock-rate=90000,"
                "encoding-name=X-GST ! rtpstreamdepay ! rtpgstdepay ! appsink name=sink");
    if (rx.set(GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {  // not listening yet
      g_usleep(100000);
      continue;
    }
    for (Frame f; received.size() < 10 && pullFrame(rx["sink"], f, 5 * GST_SECOND);) {
      received.push_back(f);
    }
  }
  kill(sender, SIGTERM);
  g_spawn_close_pid(sender);
  ASSERT_EQ(received.size(), 10u);
  // The receiver joined somewhere: find that frame among one period of the scene, then match on.
  ReferenceFrames reference;
  size_t invalid = 0;  // distances are filtered by default
  uint64_t first = 0;
  while (first < 120 && reference.filteredDistance(first, 1000, invalid) != received[0].samples) {
    ++first;
  }
  ASSERT_LT(first, 120u) << "the first received frame is none the camera sends";
  for (size_t i = 0; i < received.size(); ++i) {
    EXPECT_EQ(received[i].format, "GRAY16_LE");
    EXPECT_EQ(received[i].samples, reference.filteredDistance(first + i, 1000, invalid)) << i;
  }
}

}  // namespace
}  // namespace lvtgsttest

int main(int argc, char** argv) {
  gst_init(&argc, &argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
