// vyxpUpdate against a simulated camera: the requests on the data port, the
// frame buffer built from the answers, the retry rule for images that are not
// usable and what the image headers leave in the frame's description.
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "camera_fixture.h"
#include "lvtwire/frame_format.h"

namespace {

using vyxtest::lastError;

constexpr unsigned int kId = 1;
constexpr size_t kImageBytes = lvtwire::kImageBytes;
constexpr size_t kBlock68 = lvtwire::kShortHeader.blockBytes();

std::string requests(const lvtsim::Camera& cam) {
  const std::vector<uint8_t> r = cam.dataRequests();
  return std::string(r.begin(), r.end());
}

std::vector<uint8_t> joined(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class UpdateTest : public vyxtest::OpenCameraTest {
 protected:
  void open(lvtsim::CameraConfig cfg = {}) { openCamera(kId, std::move(cfg)); }
  void SetUp() override { open(); }

  int update() { return (*p)->vyxpUpdate(kId); }

  std::vector<uint8_t> frame() const {
    std::vector<uint8_t> bytes;
    source->rawData(bytes);
    return bytes;
  }

  // The description, or nullopt with the code when it is refused.
  std::optional<VYXDataDescription> description(int* code = nullptr) const {
    VYXDataDescription d{};
    const int rc = (*p)->vyxpGetRawDataDescription(kId, &d);
    if (code != nullptr) *code = rc;
    if (rc != VYX_OK) return std::nullopt;
    return d;
  }
};

TEST_F(UpdateTest, SendsDThenIAndStoresBothAnswersAsReceived) {
  ASSERT_EQ(update(), VYX_OK);
  EXPECT_EQ(requests(*cam), "di");
  const std::vector<uint8_t> bytes = frame();
  EXPECT_EQ(bytes.size(), 25736u);
  EXPECT_EQ(bytes, joined(cam->lastAnswer('d'), cam->lastAnswer('i')));
  // Each block starts with its own header: word 2 is its image type.
  EXPECT_EQ(lvtwire::getFloatBE(&bytes[8]), 1.0f);
  EXPECT_EQ(lvtwire::getFloatBE(&bytes[kBlock68 + 8]), 2.0f);

  // The second update starts a new frame and the stream stays aligned: had
  // the first sent a byte too many, it would show up here.
  ASSERT_EQ(update(), VYX_OK);
  EXPECT_EQ(requests(*cam), "didi");
  const std::vector<uint8_t> second = frame();
  EXPECT_EQ(second, joined(cam->lastAnswer('d'), cam->lastAnswer('i')));
  EXPECT_EQ(lvtwire::getFloatBE(&second[12]), 1.0f) << "frame counter of the second 'd' answer";
}

struct RetryCase {
  const char* name;
  char request;
  lvtsim::ImageOverride image;
  const char* expectedRequests;
  // Validity word of the stored block of that request.
  float storedValidity;
};

void PrintTo(const RetryCase& c, std::ostream* os) { *os << c.name; }

class UpdateRetryTest : public UpdateTest, public ::testing::WithParamInterface<RetryCase> {};

TEST_P(UpdateRetryTest, FollowsTheRetryRule) {
  const RetryCase& rc = GetParam();
  cam->queueImage(rc.request, rc.image);
  ASSERT_EQ(update(), VYX_OK);
  EXPECT_EQ(requests(*cam), rc.expectedRequests);

  const std::vector<uint8_t> bytes = frame();
  ASSERT_EQ(bytes.size(), 2 * kBlock68) << "a dropped image never reaches the frame";
  EXPECT_EQ(bytes, joined(cam->lastAnswer('d'), cam->lastAnswer('i')));
  const size_t block = rc.request == 'd' ? 0 : kBlock68;
  EXPECT_EQ(lvtwire::getFloatBE(&bytes[block + 60]), rc.storedValidity);
  const auto d = description();
  ASSERT_TRUE(d);
  EXPECT_EQ(d->std.subType, 0x6u) << "types 1 and 2, never the dropped image's";
}

lvtsim::ImageOverride validity(float v) {
  return vyxtest::overriding(&lvtsim::ImageOverride::validity, v);
}

lvtsim::ImageOverride imageTypeZero(float validityWord) {
  lvtsim::ImageOverride o;
  o.imageType = 0.0f;
  o.validity = validityWord;
  return o;
}

INSTANTIATE_TEST_SUITE_P(
    Images, UpdateRetryTest,
    ::testing::Values(
        RetryCase{"FirstInvalidIsDroppedAndResent", 'd', validity(-1.0f), "ddi", 1.0f},
        RetryCase{"FirstHalfNegativeIsValid", 'd', validity(-0.5f), "di", -0.5f},
        RetryCase{"FirstValidityZeroIsValid", 'd', validity(0.0f), "di", 0.0f},
        RetryCase{"SecondInvalidIsAccepted", 'i', validity(-1.0f), "di", -1.0f},
        RetryCase{"FirstTypeZeroIsResent", 'd', imageTypeZero(1.0f), "ddi", 1.0f},
        RetryCase{"SecondTypeZeroIsResent", 'i', imageTypeZero(1.0f), "dii", 1.0f},
        RetryCase{"SecondTypeZeroInvalidIsResent", 'i', imageTypeZero(-1.0f), "dii", 1.0f}),
    [](const ::testing::TestParamInfo<RetryCase>& info) { return info.param.name; });

TEST_F(UpdateTest, SeveralRejectedImagesInARowAreAllSkipped) {
  for (int i = 0; i < 3; ++i) cam->queueImage('d', validity(-1.0f));
  for (int i = 0; i < 2; ++i) cam->queueImage('i', imageTypeZero(1.0f));
  ASSERT_EQ(update(), VYX_OK);
  EXPECT_EQ(requests(*cam), "ddddiii");
  EXPECT_EQ(frame(), joined(cam->lastAnswer('d'), cam->lastAnswer('i')));
}

TEST_F(UpdateTest, LongHeadersGiveTheSecondFormat) {
  lvtsim::CameraConfig cfg;
  cfg.headerSize = 412;
  open(cfg);
  ASSERT_EQ(update(), VYX_OK);
  const std::vector<uint8_t> bytes = frame();
  EXPECT_EQ(bytes.size(), 2 * (412 + kImageBytes));
  EXPECT_EQ(bytes, joined(cam->lastAnswer('d'), cam->lastAnswer('i')));
  const auto d = description();
  ASSERT_TRUE(d);
  EXPECT_EQ(d->type, VYX_TYPE_50004);
  EXPECT_EQ(d->size, 2 * (412 + kImageBytes));
}

TEST_F(UpdateTest, OtherHeaderSizeIsStoredWholeAndKeepsTheFormat) {
  ASSERT_EQ(update(), VYX_OK);  // 68-byte headers: the first format
  lvtsim::ImageOverride o;
  o.headerSize = 100.0f;
  cam->queueImage('d', o);
  cam->queueImage('i', o);
  ASSERT_EQ(update(), VYX_OK);
  const std::vector<uint8_t> bytes = frame();
  EXPECT_EQ(bytes.size(), 2 * (100 + kImageBytes));
  EXPECT_EQ(bytes, joined(cam->lastAnswer('d'), cam->lastAnswer('i')));
  const auto d = description();
  ASSERT_TRUE(d);
  EXPECT_EQ(d->type, VYX_TYPE_50003);
}

TEST_F(UpdateTest, OtherHeaderSizeOnTheFirstFrameLeavesNoFormat) {
  lvtsim::CameraConfig cfg;
  cfg.headerSize = 100;
  open(cfg);
  ASSERT_EQ(update(), VYX_OK);
  EXPECT_EQ(frame().size(), 2 * (100 + kImageBytes));
  int code = 0;
  EXPECT_FALSE(description(&code));
  EXPECT_EQ(code, VYX_NOT_SUPPORTED);
  EXPECT_EQ(lastError(*p, kId), "unknown raw data format");
}

TEST_F(UpdateTest, EmptyImageGivesABlockOfHeaderOnly) {
  lvtsim::ImageOverride o;
  o.size = 0.0f;
  cam->queueImage('d', o);
  ASSERT_EQ(update(), VYX_OK);
  const std::vector<uint8_t> bytes = frame();
  ASSERT_EQ(bytes.size(), 68 + kBlock68);
  EXPECT_EQ(cam->lastAnswer('d').size(), 68u);
  EXPECT_EQ(bytes, joined(cam->lastAnswer('d'), cam->lastAnswer('i')));
  EXPECT_EQ(lvtwire::getFloatBE(&bytes[68 + 8]), 2.0f) << "the 'i' block follows the header";
}

struct ItimeCase {
  float word;
  int32_t stored;
};

void PrintTo(const ItimeCase& c, std::ostream* os) { *os << "word " << c.word; }

class UpdateItimeTest : public UpdateTest, public ::testing::WithParamInterface<ItimeCase> {};

// The integration times of the description are those of the last header read.
TEST_P(UpdateItimeTest, HeaderWordsFiveAndSixBecomeTheIntegrationTimes) {
  lvtsim::ImageOverride o;
  o.itime0 = GetParam().word;
  o.itime1 = GetParam().word;
  cam->queueImage('i', o);
  ASSERT_EQ(update(), VYX_OK);
  const auto d = description();
  ASSERT_TRUE(d);
  EXPECT_EQ(d->std.integrationTime[0], GetParam().stored);
  EXPECT_EQ(d->std.integrationTime[1], GetParam().stored);
}

INSTANTIATE_TEST_SUITE_P(Words, UpdateItimeTest,
                         ::testing::Values(ItimeCase{-1.0f, -1}, ItimeCase{2.9f, 2},
                                           ItimeCase{800.0f, 800}, ItimeCase{0.0f, 0},
                                           ItimeCase{-1.5f, -1}));

TEST_F(UpdateTest, HeaderWordsAreStoredInWireByteOrder) {
  lvtsim::ImageOverride o;
  o.itime0 = 800.0f;
  cam->queueImage('d', o);
  ASSERT_EQ(update(), VYX_OK);
  const std::vector<uint8_t> bytes = frame();
  ASSERT_GE(bytes.size(), 24u);
  EXPECT_EQ(bytes[20], 0x44);
  EXPECT_EQ(bytes[21], 0x48);
  EXPECT_EQ(bytes[22], 0x00);
  EXPECT_EQ(bytes[23], 0x00);
}

TEST_F(UpdateTest, AnswersArrivingOneByteAtATimeAreReassembled) {
  cam->setSplitIntoSingleBytes(true);
  ASSERT_EQ(update(), VYX_OK);
  EXPECT_EQ(requests(*cam), "di");
  EXPECT_EQ(frame(), joined(cam->lastAnswer('d'), cam->lastAnswer('i')));
}

TEST_F(UpdateTest, PeerClosingInTheSecondImageLosesTheConnection) {
  lvtsim::ImageOverride o;
  o.closeAfterBytes = 68 + 100;
  cam->queueImage('i', o);
  EXPECT_EQ(update(), VYX_RUNTIME_ERROR);
  EXPECT_EQ(lastError(*p, kId), "connection lost");
  EXPECT_EQ(frame(), cam->lastAnswer('d')) << "only the complete first block survives";
  EXPECT_EQ(requests(*cam), "di");

  EXPECT_EQ(update(), VYX_RUNTIME_ERROR);
  EXPECT_EQ(lastError(*p, kId), "connection lost");
  EXPECT_EQ(frame().size(), 0u) << "the failed update started a new, empty frame";
  EXPECT_EQ(requests(*cam), "di");
  EXPECT_EQ(cam->connectionsAccepted(), 1u) << "the data port is never reopened";
}

TEST_F(UpdateTest, UnknownHandleSendsNothing) {
  ASSERT_EQ((*p)->vyxpInitRawDataPlugin(5, vyxtest::silentAddress().c_str()), VYX_COULD_NOT_OPEN);
  ASSERT_EQ(lastError(*p, 0), "camera connection");
  EXPECT_EQ((*p)->vyxpUpdate(kId + 1), VYX_INVALID_HANDLE);
  EXPECT_EQ(lastError(*p, 0), "") << "the error slot is emptied";
  EXPECT_EQ(requests(*cam), "");
  EXPECT_EQ(frame().size(), 0u);
}

// Cameras that take their time: one that paces its images at its frame rate,
// and one that stops answering in the middle of a frame, on which the data
// port gives up (after its built-in limit of about ten seconds) instead of
// waiting for ever. Labelled slow.
using SlowCamera = UpdateTest;

TEST_F(SlowCamera, ImagesPacedAtAFewFramesPerSecondArrive) {
  lvtsim::CameraConfig cfg;
  cfg.realtime = true;
  cfg.frontend[lvtwire::frontend::kFps] = 4;
  open(cfg);
  cam->setSplitIntoSingleBytes(true);
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(update(), VYX_OK) << "update " << i;
    EXPECT_EQ(frame(), joined(cam->lastAnswer('d'), cam->lastAnswer('i')));
  }
  EXPECT_EQ(requests(*cam), "dididi");
}

TEST_F(SlowCamera, SilenceInTheMiddleOfAFrameLosesTheConnection) {
  lvtsim::ImageOverride silent;
  silent.silent = true;
  cam->queueImage('i', silent);

  EXPECT_EQ(update(), VYX_RUNTIME_ERROR);
  EXPECT_EQ(lastError(*p, kId), "connection lost");
  EXPECT_EQ(source->rawSize(), kBlock68);
  EXPECT_EQ(requests(*cam), "di");

  // The connection was dropped: the next update fails without a request.
  EXPECT_EQ(update(), VYX_RUNTIME_ERROR);
  EXPECT_EQ(lastError(*p, kId), "connection lost");
  cam->stop();  // releases the silent answer
  EXPECT_EQ(requests(*cam), "di");
}

}  // namespace
