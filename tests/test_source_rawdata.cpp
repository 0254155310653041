// The frame handed to the host: its size, its bytes and its 128-byte
// description, before the first frame, after good frames and after a frame
// that broke off.
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "camera_fixture.h"
#include "lvtwire/frame_format.h"

namespace {

using vyxtest::lastError;

constexpr size_t kImageBytes = lvtwire::kImageBytes;
constexpr size_t kBlock68 = lvtwire::kShortHeader.blockBytes();

VYXDataDescription filled(unsigned char byte) {
  VYXDataDescription d;
  std::memset(&d, byte, sizeof d);
  return d;
}

bool sameBytes(const VYXDataDescription& a, const VYXDataDescription& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// The description of a frame of the first format, every byte spelled out;
// the fields that differ between frames are arguments.
VYXDataDescription expectedDescription(unsigned int pid, uint32_t size, uint32_t subType,
                                       int32_t itime0, int32_t itime1) {
  VYXDataDescription d;
  std::memset(&d, 0, sizeof d);
  d.PID = pid;
  d.DID = 1;
  d.type = VYX_TYPE_50003;
  d.size = size;
  d.subHeaderType = VYX_SUBHEADER_IMAGE;
  d.std.subType = subType;
  d.std.numColumns = 64;
  d.std.numRows = 50;
  d.std.numSubImages = 0;
  const int32_t times[4] = {itime0, itime1, -1, -1};
  const int32_t frequencies[4] = {20000000, 20000000, -1, -1};
  std::memcpy(d.std.integrationTime, times, sizeof times);
  std::memcpy(d.std.modulationFrequency, frequencies, sizeof frequencies);
  d.std.pixelAspectRatio = 1000;
  d.std.pixelOrigin = 1;
  return d;
}

std::vector<uint8_t> joined(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class RawDataTest : public vyxtest::OpenCameraTest {
 protected:
  void open(unsigned int id, lvtsim::CameraConfig cfg = {}) { openCamera(id, std::move(cfg)); }
};

TEST_F(RawDataTest, GoodFrameIsHandedOutWhole) {
  lvtsim::CameraConfig cfg;
  cfg.frontend[4] = 1200;
  cfg.frontend[5] = 3400;
  open(7, cfg);
  ASSERT_EQ((*p)->vyxpUpdate(7), VYX_OK);

  size_t size = 0;
  ASSERT_EQ((*p)->vyxpGetRawDataSize(7, &size), VYX_OK);
  EXPECT_EQ(size, 25736u);

  std::vector<uint8_t> bytes(size + 16, 0xEE);
  ASSERT_EQ((*p)->vyxpGetRawData(7, bytes.data()), VYX_OK);
  const std::vector<uint8_t> copied(bytes.begin(), bytes.begin() + static_cast<long>(size));
  EXPECT_EQ(copied, joined(cam->lastAnswer('d'), cam->lastAnswer('i')));
  for (size_t i = size; i < bytes.size(); ++i) ASSERT_EQ(bytes[i], 0xEE) << "wrote past the frame";

  VYXDataDescription d = filled(0xAB);
  ASSERT_EQ((*p)->vyxpGetRawDataDescription(7, &d), VYX_OK);
  EXPECT_TRUE(sameBytes(d, expectedDescription(7, 25736, 0x6, 1200, 3400)))
      << "type " << std::hex << d.type << " subType " << d.std.subType << std::dec << " size "
      << d.size << " itimes " << d.std.integrationTime[0] << "," << d.std.integrationTime[1]
      << " userData0 " << d.std.userData0;
}

TEST_F(RawDataTest, IntegrationTimesComeFromTheLastHeader) {
  open(2);
  lvtsim::ImageOverride first;
  first.itime0 = 111.0f;
  first.itime1 = 222.0f;
  lvtsim::ImageOverride last;
  last.itime0 = 333.0f;
  last.itime1 = 4444.0f;
  cam->queueImage('d', first);
  cam->queueImage('i', last);
  ASSERT_EQ((*p)->vyxpUpdate(2), VYX_OK);
  const VYXDataDescription d = source->description();
  EXPECT_EQ(d.std.integrationTime[0], 333);
  EXPECT_EQ(d.std.integrationTime[1], 4444);
}

TEST_F(RawDataTest, SecondFormatDescribesLongHeaders) {
  lvtsim::CameraConfig cfg;
  cfg.headerSize = 412;
  open(3, cfg);
  ASSERT_EQ((*p)->vyxpUpdate(3), VYX_OK);
  const VYXDataDescription d = source->description();
  VYXDataDescription expected = expectedDescription(3, 2 * (412 + kImageBytes), 0x6, 1000, 2000);
  expected.type = VYX_TYPE_50004;
  EXPECT_TRUE(sameBytes(d, expected)) << std::hex << d.type;
}

struct TypesCase {
  int d, i;
  uint32_t subType;
};

void PrintTo(const TypesCase& c, std::ostream* os) { *os << "types " << c.d << " and " << c.i; }

class SubTypeTest : public RawDataTest, public ::testing::WithParamInterface<TypesCase> {};

TEST_P(SubTypeTest, HasOneBitPerImageType) {
  lvtsim::CameraConfig cfg;
  cfg.imageTypeFor = {{'d', GetParam().d}, {'i', GetParam().i}};
  open(1, cfg);
  ASSERT_EQ((*p)->vyxpUpdate(1), VYX_OK);
  EXPECT_EQ(source->description().std.subType, GetParam().subType);
}

INSTANTIATE_TEST_SUITE_P(Types, SubTypeTest,
                         ::testing::Values(TypesCase{1, 2, 0x6}, TypesCase{8, 9, 0x300},
                                           TypesCase{9, 10, 0x600}, TypesCase{10, 8, 0x500},
                                           TypesCase{2, 2, 0x4}, TypesCase{31, 1, 0x80000002},
                                           TypesCase{32, 3, 0x9}, TypesCase{33, 1, 0x2},
                                           TypesCase{70, 64, 0x41}));

TEST_F(RawDataTest, DataIdentifierIsOneForEveryFrameAndInstance) {
  open(11);
  auto other = vyxtest::startCamera();
  vyxhost::SourceInstance second(*p, 12, other->config().address);
  for (int round = 0; round < 3; ++round) {
    for (unsigned int id : {11u, 12u}) {
      ASSERT_EQ((*p)->vyxpUpdate(id), VYX_OK);
      VYXDataDescription d = filled(0);
      ASSERT_EQ((*p)->vyxpGetRawDataDescription(id, &d), VYX_OK);
      EXPECT_EQ(d.DID, 1u) << "round " << round << " id " << id;
      EXPECT_EQ(d.PID, id);
      ASSERT_EQ((*p)->vyxpGetRawDataDescription(id, &d), VYX_OK);
      EXPECT_EQ(d.DID, 1u) << "describing the same frame twice";
    }
  }
  EXPECT_EQ(second.close(), VYX_OK);
}

TEST_F(RawDataTest, BeforeTheFirstFrameThereIsNoFormat) {
  open(5);
  size_t size = 99;
  ASSERT_EQ((*p)->vyxpGetRawDataSize(5, &size), VYX_OK);
  EXPECT_EQ(size, 0u);
  unsigned char buffer[4] = {1, 2, 3, 4};
  ASSERT_EQ((*p)->vyxpGetRawData(5, buffer), VYX_OK);
  EXPECT_EQ(buffer[0], 1) << "an empty frame copies nothing";

  VYXDataDescription d = filled(0x5A);
  EXPECT_EQ((*p)->vyxpGetRawDataDescription(5, &d), VYX_NOT_SUPPORTED);
  EXPECT_EQ(lastError(*p, 5), "unknown raw data format");
  EXPECT_TRUE(sameBytes(d, filled(0x5A))) << "the host's record was written";
}

// A frame that broke off is described as far as it came: the complete blocks,
// their types, and the format and integration times of the last header read.
TEST_F(RawDataTest, BrokenFrameDescribesWhatWasLeft) {
  open(8);
  lvtsim::ImageOverride broken;
  broken.headerSize = 412.0f;
  broken.itime0 = 77.0f;
  broken.itime1 = 88.0f;
  broken.closeAfterBytes = 412 + 100;
  cam->queueImage('i', broken);
  ASSERT_EQ((*p)->vyxpUpdate(8), VYX_RUNTIME_ERROR);

  std::vector<uint8_t> bytes;
  source->rawData(bytes);
  EXPECT_EQ(bytes, cam->lastAnswer('d'));
  VYXDataDescription d = filled(0);
  ASSERT_EQ((*p)->vyxpGetRawDataDescription(8, &d), VYX_OK);
  VYXDataDescription expected = expectedDescription(8, kBlock68, 0x2, 77, 88);
  expected.type = VYX_TYPE_50004;
  EXPECT_TRUE(sameBytes(d, expected))
      << std::hex << d.type << " subType " << d.std.subType << std::dec << " size " << d.size;
}

TEST_F(RawDataTest, NullOutputPointersAreRefused) {
  open(9);
  ASSERT_EQ((*p)->vyxpUpdate(9), VYX_OK);
  EXPECT_EQ((*p)->vyxpGetRawDataSize(9, nullptr), VYX_INVALID_VALUE);
  EXPECT_EQ(lastError(*p, 9), "null pointer argument");
  EXPECT_EQ((*p)->vyxpGetRawData(9, nullptr), VYX_INVALID_VALUE);
  EXPECT_EQ((*p)->vyxpGetRawDataDescription(9, nullptr), VYX_INVALID_VALUE);
  EXPECT_EQ(lastError(*p, 9), "null pointer argument");
  EXPECT_EQ(source->rawSize(), 25736u) << "the frame is untouched";
}

TEST_F(RawDataTest, UnknownHandleWritesNothing) {
  open(10);
  ASSERT_EQ((*p)->vyxpUpdate(10), VYX_OK);
  ASSERT_EQ((*p)->vyxpInitRawDataPlugin(10, "127.0.0.1"), VYX_INVALID_VALUE);
  ASSERT_EQ(lastError(*p, 0), "handle already exists");

  size_t size = 12345;
  EXPECT_EQ((*p)->vyxpGetRawDataSize(20, &size), VYX_INVALID_HANDLE);
  EXPECT_EQ(size, 12345u);
  EXPECT_EQ(lastError(*p, 0), "") << "the error slot is emptied";

  std::vector<uint8_t> bytes(64, 0xCD);
  EXPECT_EQ((*p)->vyxpGetRawData(20, bytes.data()), VYX_INVALID_HANDLE);
  EXPECT_EQ(bytes, std::vector<uint8_t>(64, 0xCD));

  VYXDataDescription d = filled(0x77);
  EXPECT_EQ((*p)->vyxpGetRawDataDescription(20, &d), VYX_INVALID_HANDLE);
  EXPECT_TRUE(sameBytes(d, filled(0x77)));
}

}  // namespace
