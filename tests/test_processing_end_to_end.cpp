// A frame's way from a (simulated) camera to host floats: the source
// plug-in fetches and describes it, the processing plug-in converts each
// image type present, and every float equals what the camera put on the wire.
#include <map>
#include <vector>

#include "plugin_fixture.h"
#include "rawframe.h"
#include "sim_fixture.h"

namespace {

using vyxtest::hostWords;
using vyxtest::kImageBytes;
using vyxtest::kPixelWords;

// Host-order bit patterns of the pixels in one data-port answer (header
// followed by big-endian image data).
std::vector<uint32_t> wirePixels(const std::vector<uint8_t>& answer, unsigned headerBytes) {
  std::vector<uint32_t> words = hostWords(answer.data() + headerBytes, kPixelWords);
  for (uint32_t& w : words) w = __builtin_bswap32(w);
  return words;
}

struct CameraSetup {
  unsigned headerBytes;
  std::map<char, int> imageTypeFor;
  uint32_t rawType;
  int outputsPresent;  // output types the frame's two image types allow
};

void PrintTo(const CameraSetup& s, std::ostream* os) {
  *os << s.headerBytes << "-byte headers, " << s.imageTypeFor.size() << " image types";
}

class EndToEnd : public testing::TestWithParam<CameraSetup> {};

TEST_P(EndToEnd, EveryTypePresentConvertsToTheFloatsOnTheWire) {
  const CameraSetup& setup = GetParam();
  lvtsim::CameraConfig cfg;
  cfg.headerSize = setup.headerBytes;
  cfg.imageTypeFor = setup.imageTypeFor;
  auto cam = vyxtest::startCamera(cfg);
  auto p = vyxtest::freshPlugin();
  vyxhost::SourceInstance source(*p, 1, cam->config().address);
  // Another number than the source's: for a handle open in both registries
  // the error text read back would be the source instance's.
  vyxhost::ProcessingInstance processing(*p, 2);

  struct Output {
    uint32_t type;
    int imageType;
  };
  const Output outputs[] = {{VYX_TYPE_10001, 1}, {VYX_TYPE_10002, 2}, {VYX_TYPE_10004, 2},
                            {VYX_TYPE_10020, 8}, {VYX_TYPE_10040, 9}, {VYX_TYPE_10080, 10}};
  uint32_t expectedDid = 1;
  for (int frame = 0; frame < 2; ++frame) {
    SCOPED_TRACE(testing::Message() << "frame " << frame);
    source.update();
    std::vector<uint8_t> raw;
    source.rawData(raw);
    const VYXDataDescription desc = source.description();
    ASSERT_EQ(desc.type, setup.rawType);
    ASSERT_EQ(raw.size(), desc.size);
    ASSERT_EQ(raw.size(), 2 * (setup.headerBytes + kImageBytes));

    int converted = 0;
    for (const Output& o : outputs) {
      SCOPED_TRACE(testing::Message() << std::hex << "output 0x" << o.type);
      char request = 0;
      for (const auto& [byte, type] : setup.imageTypeFor)
        if (type == o.imageType) request = byte;

      std::vector<uint8_t> out(kImageBytes, 0xEE);
      if (request == 0) {
        EXPECT_EQ(processing.canProcess(o.type, desc), -1);
        try {
          processing.process(o.type, desc, raw.data(), out.data(), out.size());
          ADD_FAILURE() << "converted an image type the frame does not hold";
        } catch (const vyxhost::CallError& e) {
          EXPECT_EQ(e.code(), VYX_NOT_AVAILABLE);
          EXPECT_EQ(e.text(), "could not find requested data");
        }
        ++expectedDid;  // a failed search spends an identifier too
        continue;
      }
      ASSERT_EQ(processing.canProcess(o.type, desc), int(kImageBytes));
      const VYXDataDescription result =
          processing.process(o.type, desc, raw.data(), out.data(), out.size());
      EXPECT_EQ(result.type, o.type);
      EXPECT_EQ(result.size, kImageBytes);
      EXPECT_EQ(result.DID, expectedDid++);
      EXPECT_EQ(result.std.integrationTime[0], desc.std.integrationTime[0]);
      EXPECT_EQ(hostWords(out.data(), kPixelWords),
                wirePixels(cam->lastAnswer(request), setup.headerBytes));
      ++converted;
    }
    EXPECT_EQ(converted, setup.outputsPresent);
  }
}

INSTANTIATE_TEST_SUITE_P(Cameras, EndToEnd,
                         testing::Values(CameraSetup{68, {{'d', 1}, {'i', 2}}, VYX_TYPE_50003, 3},
                                         CameraSetup{412, {{'d', 1}, {'i', 2}}, VYX_TYPE_50004, 3},
                                         CameraSetup{68, {{'d', 8}, {'i', 10}}, VYX_TYPE_50003, 2},
                                         CameraSetup{412, {{'d', 9}, {'i', 8}}, VYX_TYPE_50004, 2}),
                         [](const testing::TestParamInfo<CameraSetup>& info) {
                           return "Header" + std::to_string(info.param.headerBytes) + "Types" +
                                  std::to_string(info.param.imageTypeFor.at('d')) + "And" +
                                  std::to_string(info.param.imageTypeFor.at('i'));
                         });

}  // namespace
