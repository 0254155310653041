// vyxpUpdate against a camera whose data stream is broken: impossible header
// and data sizes, header words that are not numbers, and a camera that never
// sends a usable image.
#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "camera_fixture.h"
#include "lvtwire/frame_format.h"

namespace {

using vyxtest::lastError;

constexpr unsigned int kId = 4;
constexpr size_t kBlock68 = lvtwire::kShortHeader.blockBytes();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

std::string requests(const lvtsim::Camera& cam) {
  const std::vector<uint8_t> r = cam.dataRequests();
  return std::string(r.begin(), r.end());
}

long peakResidentKiB() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

class UpdateFaultTest : public vyxtest::OpenCameraTest {
 protected:
  void SetUp() override { openCamera(kId); }

  int update() { return (*p)->vyxpUpdate(kId); }

  size_t frameSize() const { return source->rawSize(); }
};

struct BrokenHeader {
  const char* name;
  char request;
  lvtsim::ImageOverride image;
};

void PrintTo(const BrokenHeader& c, std::ostream* os) { *os << c.name; }

lvtsim::ImageOverride headerSize(float v) {
  return vyxtest::overriding(&lvtsim::ImageOverride::headerSize, v);
}
lvtsim::ImageOverride dataSize(float v) {
  return vyxtest::overriding(&lvtsim::ImageOverride::size, v);
}

class BrokenHeaderTest : public UpdateFaultTest,
                         public ::testing::WithParamInterface<BrokenHeader> {};

// A size the plug-in cannot take leaves the stream unreadable: the update
// fails, nothing is read past the header words, and the connection is dropped
// so that no later update misreads the rest of the answer.
TEST_P(BrokenHeaderTest, LosesTheConnection) {
  const BrokenHeader& bh = GetParam();
  ASSERT_EQ(update(), VYX_OK);
  const long peakBefore = peakResidentKiB();
  cam->queueImage(bh.request, bh.image);

  EXPECT_EQ(update(), VYX_RUNTIME_ERROR);
  EXPECT_EQ(lastError(*p, kId), "connection lost");
  EXPECT_EQ(frameSize(), bh.request == 'd' ? 0u : kBlock68) << "complete blocks only";
  const std::string sent = bh.request == 'd' ? "did" : "didi";
  EXPECT_EQ(requests(*cam), sent);
  // No buffer of the announced size was made (a 1e9-byte one would be ~1 GB).
  EXPECT_LT(peakResidentKiB() - peakBefore, 256L * 1024);

  EXPECT_TRUE(cam->waitForOpenDataConnections(0, std::chrono::seconds(30)))
      << "the plug-in keeps the data connection open";
  EXPECT_EQ(update(), VYX_RUNTIME_ERROR);
  EXPECT_EQ(lastError(*p, kId), "connection lost");
  EXPECT_EQ(requests(*cam), sent) << "no request after the connection was dropped";
  EXPECT_EQ(cam->connectionsAccepted(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, BrokenHeaderTest,
    ::testing::Values(BrokenHeader{"HeaderShorterThanValidityWord", 'd', headerSize(60.0f)},
                      BrokenHeader{"HeaderOf63Bytes", 'i', headerSize(63.0f)},
                      BrokenHeader{"HeaderShorterThanSizeWords", 'd', headerSize(7.0f)},
                      BrokenHeader{"HeaderSizeZero", 'i', headerSize(0.0f)},
                      BrokenHeader{"HeaderSizeNegative", 'd', headerSize(-68.0f)},
                      BrokenHeader{"HeaderSizeHuge", 'd', headerSize(1e30f)},
                      BrokenHeader{"HeaderSizeNaN", 'i', headerSize(kNaN)},
                      BrokenHeader{"DataSizeHuge", 'd', dataSize(1e9f)},
                      BrokenHeader{"DataSizeJustOver16MiB", 'i', dataSize(16777220.0f)},
                      BrokenHeader{"DataSizeNegative", 'i', dataSize(-1.0f)},
                      BrokenHeader{"DataSizeNaN", 'd', dataSize(kNaN)},
                      BrokenHeader{"DataSizeInfinite", 'd', dataSize(kInf)}),
    [](const ::testing::TestParamInfo<BrokenHeader>& info) { return info.param.name; });

TEST_F(UpdateFaultTest, SizesAtTheLimitsAreAccepted) {
  cam->queueImage('d', headerSize(64.0f));
  ASSERT_EQ(update(), VYX_OK) << "64 bytes hold the validity word";
  EXPECT_EQ(frameSize(), 64 + 12800 + kBlock68);

  cam->queueImage('i', dataSize(16777216.0f));
  ASSERT_EQ(update(), VYX_OK) << "16 MiB of image data";
  EXPECT_EQ(frameSize(), kBlock68 + 68 + 16777216u);
}

struct OddWord {
  const char* name;
  char request;
  lvtsim::ImageOverride image;
  const char* expectedRequests;
};

void PrintTo(const OddWord& c, std::ostream* os) { *os << c.name; }

lvtsim::ImageOverride imageType(float v) {
  return vyxtest::overriding(&lvtsim::ImageOverride::imageType, v);
}
lvtsim::ImageOverride validity(float v) {
  return vyxtest::overriding(&lvtsim::ImageOverride::validity, v);
}

class OddWordTest : public UpdateFaultTest, public ::testing::WithParamInterface<OddWord> {};

// Image type and validity words that hold no usable number: an image whose
// type is not a number is not usable and is asked for again.
TEST_P(OddWordTest, DecidesWhetherTheImageIsResent) {
  cam->queueImage(GetParam().request, GetParam().image);
  ASSERT_EQ(update(), VYX_OK);
  EXPECT_EQ(requests(*cam), GetParam().expectedRequests);
  std::vector<uint8_t> bytes;
  source->rawData(bytes);
  EXPECT_EQ(bytes.size(), 2 * kBlock68);
}

INSTANTIATE_TEST_SUITE_P(
    Words, OddWordTest,
    ::testing::Values(OddWord{"TypeNaN", 'd', imageType(kNaN), "ddi"},
                      OddWord{"TypeInfinite", 'i', imageType(kInf), "dii"},
                      OddWord{"TypeBeyond64Bits", 'd', imageType(1e30f), "ddi"},
                      OddWord{"ValidityNaN", 'd', validity(kNaN), "ddi"},
                      OddWord{"ValidityMinusInfinity", 'd', validity(-kInf), "ddi"},
                      OddWord{"ValidityPlusInfinity", 'd', validity(kInf), "di"},
                      OddWord{"ValidityHuge", 'd', validity(1e30f), "di"},
                      OddWord{"ValidityHugeNegative", 'd', validity(-1e30f), "ddi"}),
    [](const ::testing::TestParamInfo<OddWord>& info) { return info.param.name; });

TEST_F(UpdateFaultTest, IntegrationTimeWordsWithoutANumberReadAsNone) {
  for (float word : {kNaN, kInf, -kInf, 1e30f}) {
    lvtsim::ImageOverride o;
    o.itime0 = word;
    o.itime1 = word;
    cam->queueImage('i', o);
    ASSERT_EQ(update(), VYX_OK) << word;
    VYXDataDescription d{};
    ASSERT_EQ((*p)->vyxpGetRawDataDescription(kId, &d), VYX_OK);
    EXPECT_EQ(d.std.integrationTime[0], -1) << word;
    EXPECT_EQ(d.std.integrationTime[1], -1) << word;
  }
}

// 5000 rejected images in a row end the update; each was read in full, so
// the stream is still aligned and the connection is kept.
TEST_F(UpdateFaultTest, RetriesAreBoundedAndKeepTheConnection) {
  constexpr size_t kBound = 5000;
  for (size_t i = 0; i + 1 < kBound; ++i) cam->queueImage('d', validity(-1.0f));
  ASSERT_EQ(update(), VYX_OK) << "the 5000th attempt may still succeed";
  EXPECT_EQ(requests(*cam), std::string(kBound, 'd') + "i");

  cam->clearLog();
  for (size_t i = 0; i < kBound; ++i) cam->queueImage('d', validity(-1.0f));
  EXPECT_EQ(update(), VYX_RUNTIME_ERROR);
  EXPECT_EQ(lastError(*p, kId), "connection lost");
  EXPECT_EQ(requests(*cam), std::string(kBound, 'd'));
  EXPECT_EQ(frameSize(), 0u);

  cam->clearLog();
  ASSERT_EQ(update(), VYX_OK);
  EXPECT_EQ(requests(*cam), "di");
  EXPECT_EQ(cam->connectionsAccepted(), 1u);
}

TEST_F(UpdateFaultTest, RetryBoundAppliesToTheSecondImageToo) {
  for (size_t i = 0; i < 5000; ++i) cam->queueImage('i', imageType(0.0f));
  EXPECT_EQ(update(), VYX_RUNTIME_ERROR);
  EXPECT_EQ(lastError(*p, kId), "connection lost");
  EXPECT_EQ(requests(*cam), "d" + std::string(5000, 'i'));
  EXPECT_EQ(frameSize(), kBlock68) << "the accepted first block is kept";
  ASSERT_EQ(update(), VYX_OK);
}

}  // namespace
