// lvtsrc through real pipelines: the frames it delivers, its errors, its live settings, state
// cycles, and the command lines the README shows.
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <set>

#include "pipeline_fixture.h"
#include "sample_scaling.h"

namespace lvtgsttest {
namespace {

struct Case {
  const char* image;
  uint32_t type;
  double scale;
};

TEST(LvtSrc, DeliversTheProcessedFramesScaledWithTimeStampsAndFrameNumbers) {
  ReferenceFrames reference;
  for (const Case c :
       {Case{"distance", VYX_TYPE_10001, 1000.0}, Case{"amplitude", VYX_TYPE_10002, 0.25}}) {
    SCOPED_TRACE(c.image);
    Pipeline p(std::string("lvtsrc simulate=true num-buffers=20 image=") + c.image +
               " scale=" + std::to_string(c.scale) + " ! appsink name=sink");
    ASSERT_NE(p.play(), GST_STATE_CHANGE_FAILURE);
    std::vector<Frame> frames;
    Frame f;
    while (pullFrame(p.element("sink"), f)) frames.push_back(f);
    ASSERT_EQ(frames.size(), 20u);
    GstMessage* eos = p.waitFor(GST_MESSAGE_EOS, 5 * GST_SECOND);
    EXPECT_NE(eos, nullptr) << "num-buffers ends the stream with EOS";
    if (eos != nullptr) gst_message_unref(eos);

    size_t valid = 0;
    std::set<uint16_t> distinct;
    for (size_t i = 0; i < frames.size(); ++i) {
      const Frame& fr = frames[i];
      EXPECT_EQ(fr.format, "GRAY16_LE");
      EXPECT_EQ(fr.width, 64);
      EXPECT_EQ(fr.height, 50);
      EXPECT_EQ(fr.fpsN, 25);
      EXPECT_EQ(fr.fpsD, 1);
      ASSERT_TRUE(GST_CLOCK_TIME_IS_VALID(fr.pts));
      if (i > 0) {
        EXPECT_EQ(fr.offset, frames[i - 1].offset + 1) << "offsets count the camera's frames";
        EXPECT_GT(fr.pts, frames[i - 1].pts);
      }
      ASSERT_EQ(fr.samples, reference.samples(c.type, fr.offset, c.scale)) << "frame " << fr.offset;
      for (uint16_t s : fr.samples) {
        valid += s != 0;
        distinct.insert(s);
      }
    }
    EXPECT_GT(valid, frames.size() * 64 * 50 / 2) << "the scene is mostly valid pixels";
    EXPECT_GT(distinct.size(), 100u) << "the scene is not flat";
    // A live source stamps arrival on the pipeline clock: 20 frames at 25/s take about 0.8 s.
    const double span = static_cast<double>(frames.back().pts - frames.front().pts) / GST_SECOND;
    EXPECT_GT(span, 0.4);
    EXPECT_LT(span, 5.0);
  }
}

TEST(LvtSrc, CameraErrorsReachTheBusWithThePluginsTextAndStopCleanly) {
  // Nothing listens: the bus error is exactly what vyxhost reports for the same opening.
  const std::string nowhere = lvtsim::randomLoopbackAddress();
  std::string expected;
  {
    vyxhost::Plugin plugin(vyxhost::findPlugin());
    try {
      vyxhost::SourceInstance cam(plugin, 9100, nowhere);
    } catch (const vyxhost::CallError& e) {
      expected = e.what();
    }
  }
  ASSERT_NE(expected.find("vyxpInitRawDataPlugin failed: VYX_"), std::string::npos) << expected;
  {
    Pipeline p("lvtsrc address=" + nowhere + " ! fakesink");
    EXPECT_EQ(p.play(), GST_STATE_CHANGE_FAILURE);
    GstMessage* error = p.waitFor(GST_MESSAGE_ERROR, 5 * GST_SECOND);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(messageText(error), expected);
    gst_message_unref(error);
  }

  // A camera of our own: settings made while playing reach it, a refused one is kept out, and
  // losing it ends the stream with an error naming the call.
  lvtsim::CameraConfig cfg;
  cfg.realtime = true;
  auto camera = lvtsim::startOnFreeLoopback(cfg);
  Pipeline p("lvtsrc name=src address=" + camera->config().address + " ! appsink name=sink");
  GstElement* src = p.element("src");
  ASSERT_NE(p.play(), GST_STATE_CHANGE_FAILURE);
  Frame f;
  ASSERT_TRUE(pullFrame(p.element("sink"), f));
  EXPECT_EQ(f.fpsN, 25);
  guint fps = 0;
  g_object_get(src, "fps", &fps, nullptr);
  EXPECT_EQ(fps, 25u) << "left to the camera, the property reads its rate";

  g_object_set(src, "itime0", 700u, "fps", 10u, nullptr);
  EXPECT_EQ(camera->frontend()[4], 700);
  EXPECT_EQ(camera->frontend()[7], 10);
  for (int i = 0; i < 5 && f.fpsN != 10; ++i) ASSERT_TRUE(pullFrame(p.element("sink"), f));
  EXPECT_EQ(f.fpsN, 10) << "caps follow the camera's new rate";

  g_object_set(src, "fps", 999u, nullptr);  // beyond the camera's 30
  GstMessage* warning = p.waitFor(GST_MESSAGE_WARNING, 5 * GST_SECOND);
  ASSERT_NE(warning, nullptr);
  EXPECT_EQ(GST_MESSAGE_SRC(warning), GST_OBJECT(src));
  EXPECT_NE(messageText(warning).find("vyxpPlatformCommand failed"), std::string::npos)
      << messageText(warning);
  gst_message_unref(warning);
  g_object_get(src, "fps", &fps, nullptr);
  EXPECT_EQ(fps, 10u);
  EXPECT_EQ(camera->frontend()[7], 10);

  double scale = 0;
  g_object_set(src, "scale", -1.0, nullptr);  // refused by the property's range
  g_object_set(src, "scale", std::nan(""), nullptr);
  g_object_get(src, "scale", &scale, nullptr);
  EXPECT_EQ(scale, 1000.0);

  camera->stop();
  GstMessage* error = p.waitFor(GST_MESSAGE_ERROR, 30 * GST_SECOND);
  ASSERT_NE(error, nullptr);
  EXPECT_NE(messageText(error).find("vyxpUpdate failed: VYX_"), std::string::npos)
      << messageText(error);
  gst_message_unref(error);
  EXPECT_EQ(p.stop(), GST_STATE_CHANGE_SUCCESS);
}

// The values no simulated scene has: invalid readings, the ends of the 16-bit range, exact
// halves, and a count that leaves a tail after the groups of eight the conversion works in.
TEST(LvtSrc, SamplesFollowTheRoundingRuleAtTheEdges) {
  const float nan = std::nanf("");
  const float inf = std::numeric_limits<float>::infinity();
  std::vector<float> values = {nan,     -inf,    inf,     -0.001f, -0.0f,    0.0f,    0.0004f,
                               0.0005f, 0.0015f, 0.0025f, 65.534f, 65.5345f, 65.535f, 65.5355f,
                               65.6f,   1e30f,   -1e30f,  1.0f,    2.5f,     0.75f,   3.0005f};
  std::mt19937 random(7);  // NOLINT(cert-msc51-cpp): the same values every run
  std::uniform_real_distribution<float> spread(-2.0f, 70.0f);
  for (int i = 0; i < 1000; ++i) values.push_back(i % 97 == 0 ? nan : spread(random));
  for (double scale : {1000.0, 1.0, 0.5}) {
    std::vector<uint8_t> out(values.size() * 2);
    lvtgst::toSamplesLE(values.data(), values.size(), scale, out.data());
    for (size_t i = 0; i < values.size(); ++i) {
      const unsigned got = out[2 * i] | (out[2 * i + 1] << 8);
      ASSERT_EQ(got, expectedSample(values[i], scale)) << values[i] << " x " << scale;
    }
  }
  EXPECT_EQ(lvtgst::toSample(nan, 1000), 0);
  EXPECT_EQ(lvtgst::toSample(-0.001f, 1000), 0);
  EXPECT_EQ(lvtgst::toSample(0.0f, 1000), 1) << "0 is kept for no value";
  EXPECT_EQ(lvtgst::toSample(2.5f, 1), 3) << "halves round away from zero";
  EXPECT_EQ(lvtgst::toSample(1e30f, 1000), 65535);
}

size_t openDescriptors() {
  size_t count = 0;
  DIR* dir = opendir("/proc/self/fd");
  while (dirent* entry = readdir(dir)) count += entry->d_name[0] != '.';
  closedir(dir);
  return count;
}

TEST(LvtSrc, PlayingToNullTenTimesLeavesNoDescriptorOpen) {
  Pipeline p("lvtsrc simulate=true ! appsink name=sink");
  Frame f;
  auto cycle = [&] {
    ASSERT_NE(p.play(), GST_STATE_CHANGE_FAILURE);
    ASSERT_TRUE(pullFrame(p.element("sink"), f));
    ASSERT_EQ(p.stop(), GST_STATE_CHANGE_SUCCESS);
  };
  cycle();  // GStreamer's own once-only descriptors (clock, thread pools) open here
  const size_t before = openDescriptors();
  for (int i = 0; i < 10; ++i) cycle();
  EXPECT_EQ(openDescriptors(), before);
}

// --- the README's command lines, run by gst-launch-1.0 as written there ---

pid_t spawnLaunch(const std::string& pipeline) {
  std::vector<std::string> words = {"gst-launch-1.0", "-q"};
  std::string word;
  for (char ch : pipeline + " ") {
    if (ch != ' ')
      word += ch;
    else if (!word.empty())
      words.push_back(std::exchange(word, {}));
  }
  std::vector<char*> argv;
  argv.reserve(words.size() + 1);
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  EXPECT_EQ(posix_spawnp(&pid, "gst-launch-1.0", nullptr, nullptr, argv.data(), environ), 0);
  return pid;
}

int waitExit(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

struct TempDir {
  std::string path;
  TempDir() {
    char name[] = "/tmp/lvtsrc-test-XXXXXX";
    path = mkdtemp(name);
  }
  ~TempDir() { std::filesystem::remove_all(path); }
};

// A TCP port on addr that was free a moment ago.
uint16_t freePort(const std::string& addr) {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  inet_pton(AF_INET, addr.c_str(), &a.sin_addr);
  EXPECT_EQ(bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  socklen_t len = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  close(s);
  return ntohs(a.sin_port);
}

TEST(LvtSrc, ReadmeCommandLinesWritePngsAVideoAndStreamOverTcp) {
  TempDir dir;
  EXPECT_EQ(waitExit(spawnLaunch("lvtsrc simulate=true num-buffers=20 ! videoconvert ! pngenc ! "
                                 "multifilesink location=" +
                                 dir.path + "/frame_%05d.png")),
            0);
  for (int i = 0; i < 21; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "/frame_%05d.png", i);
    const std::string png = readFile(dir.path + name);
    if (i == 20) {
      EXPECT_TRUE(png.empty()) << "exactly 20 frames";
      break;
    }
    ASSERT_GE(png.size(), 26u) << name;
    EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    // IHDR: width 64, height 50, 16 bits, grey.
    EXPECT_EQ(png.substr(16, 10), std::string("\0\0\0\x40\0\0\0\x32\x10\0", 10)) << name;
  }

  EXPECT_EQ(waitExit(spawnLaunch("lvtsrc simulate=true num-buffers=20 ! videoconvert ! vp8enc ! "
                                 "webmmux ! filesink location=" +
                                 dir.path + "/camera.webm")),
            0);
  const std::string webm = readFile(dir.path + "/camera.webm");
  EXPECT_GT(webm.size(), 1000u);
  EXPECT_EQ(webm.substr(0, 4), "\x1a\x45\xdf\xa3") << "a WebM (EBML) file";
  {
    Pipeline decode("filesrc location=" + dir.path +
                    "/camera.webm ! matroskademux ! vp8dec ! appsink name=sink");
    ASSERT_NE(decode.play(), GST_STATE_CHANGE_FAILURE);
    std::vector<Frame> decoded;
    Frame f;
    while (pullFrame(decode.element("sink"), f)) decoded.push_back(f);
    ASSERT_EQ(decoded.size(), 20u) << "every frame is in the video";
    EXPECT_EQ(decoded[0].width, 64);
    EXPECT_EQ(decoded[0].height, 50);
  }

  // The camera's host serves the stream; the receiving side gets the very frames.
  const std::string host = lvtsim::randomLoopbackAddress();
  const std::string port = std::to_string(freePort(host));
  const pid_t sender = spawnLaunch(
      "lvtsrc simulate=true num-buffers=250 ! rtpgstpay config-interval=1 ! rtpstreampay ! "
      "tcpserversink host=" +
      host + " port=" + port);
  std::vector<Frame> received;
  for (int attempt = 0; attempt < 50 && received.empty(); ++attempt) {
    Pipeline rx("tcpclientsrc host=" + host + " port=" + port +
                " ! application/x-rtp-stream,media=application,clock-rate=90000,"
                "encoding-name=X-GST ! rtpstreamdepay ! rtpgstdepay ! appsink name=sink");
    if (rx.play() == GST_STATE_CHANGE_FAILURE) {  // the sender is not listening yet
      g_usleep(100000);
      continue;
    }
    Frame f;
    while (received.size() < 10 && pullFrame(rx.element("sink"), f, 5 * GST_SECOND)) {
      received.push_back(f);
    }
  }
  kill(sender, SIGTERM);
  waitExit(sender);
  ASSERT_EQ(received.size(), 10u);
  // Frames arrive in order from wherever the receiver joined: find that frame, then match on.
  ReferenceFrames reference;
  uint64_t first = 1;
  while (first < 120 && reference.samples(VYX_TYPE_10001, first, 1000) != received[0].samples) {
    ++first;
  }
  ASSERT_LT(first, 120u) << "the first received frame is none the camera sends";
  for (size_t i = 0; i < received.size(); ++i) {
    EXPECT_EQ(received[i].format, "GRAY16_LE");
    EXPECT_EQ(received[i].width, 64);
    EXPECT_EQ(received[i].samples, reference.samples(VYX_TYPE_10001, first + i, 1000)) << i;
  }
}

}  // namespace
}  // namespace lvtgsttest

int main(int argc, char** argv) {
  gst_init(&argc, &argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
