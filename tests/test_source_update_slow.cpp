// vyxpUpdate against cameras that take their time: one that paces its images
// at its frame rate, and one that stops answering in the middle of a frame.
#include <string>
#include <vector>

#include "lvtwire/frame_format.h"
#include "plugin_fixture.h"
#include "sim_fixture.h"

namespace {

using vyxtest::lastError;

constexpr unsigned int kId = 6;
constexpr size_t kBlock68 = lvtwire::kShortHeader.blockBytes();

std::string requests(const lvtsim::Camera& cam) {
  const std::vector<uint8_t> r = cam.dataRequests();
  return std::string(r.begin(), r.end());
}

TEST(SlowCamera, ImagesPacedAtAFewFramesPerSecondArrive) {
  lvtsim::CameraConfig cfg;
  cfg.realtime = true;
  cfg.frontend[7] = 4;
  auto cam = vyxtest::startCamera(cfg);
  auto p = vyxtest::freshPlugin();
  vyxhost::SourceInstance source(*p, kId, cam->config().address);
  cam->setSplitIntoSingleBytes(true);
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ((*p)->vyxpUpdate(kId), VYX_OK) << "update " << i;
    std::vector<uint8_t> frame;
    source.rawData(frame);
    std::vector<uint8_t> expected = cam->lastAnswer('d');
    const std::vector<uint8_t> second = cam->lastAnswer('i');
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(frame, expected);
  }
  EXPECT_EQ(requests(*cam), "dididi");
}

// The data port gives up on a camera that stays silent (after the built-in
// limit of about ten seconds) instead of waiting for ever.
TEST(SlowCamera, SilenceInTheMiddleOfAFrameLosesTheConnection) {
  auto cam = vyxtest::startCamera();
  auto p = vyxtest::freshPlugin();
  vyxhost::SourceInstance source(*p, kId, cam->config().address);
  lvtsim::ImageOverride silent;
  silent.silent = true;
  cam->queueImage('i', silent);

  EXPECT_EQ((*p)->vyxpUpdate(kId), VYX_RUNTIME_ERROR);
  EXPECT_EQ(lastError(*p, kId), "connection lost");
  EXPECT_EQ(source.rawSize(), kBlock68);
  EXPECT_EQ(requests(*cam), "di");

  // The connection was dropped: the next update fails without a request.
  EXPECT_EQ((*p)->vyxpUpdate(kId), VYX_RUNTIME_ERROR);
  EXPECT_EQ(lastError(*p, kId), "connection lost");
  cam->stop();  // releases the silent answer
  EXPECT_EQ(requests(*cam), "di");
}

}  // namespace
