// vyxpProcess: choosing the input block, finding the requested image in a
// raw frame at the header stride, converting its pixels bit for bit, the
// output description and data identifiers, and every refusal in its order.
#include <algorithm>
#include <cmath>
#include <functional>
#include <iterator>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "plugin_fixture.h"
#include "rawframe.h"

namespace {

using vyxtest::freshPlugin;
using vyxtest::hostWords;
using vyxtest::kImageBytes;
using vyxtest::kLongHeaderWords;
using vyxtest::kPixelWords;
using vyxtest::kShortHeaderWords;
using vyxtest::lastError;
using vyxtest::patternPixels;
using vyxtest::RawFrame;

constexpr unsigned kId = 5;
constexpr uint8_t kUntouchedByte = 0xEE;

// The arguments of one vyxpProcess call, editable before it is made. The
// output buffer holds exactly `capacity` bytes, so ASan sees any write past it.
struct Call {
  explicit Call(uint32_t outputType, uint32_t capacity = kImageBytes)
      : outBuf(capacity, kUntouchedByte) {
    VYXDataDescription d;
    std::memset(&d, 0xAB, sizeof d);
    d.type = outputType;
    d.size = capacity;
    fmtOut = {d, d};
    output = {outBuf.data(), outBuf.data()};
    before = d;
  }
  Call& in(const VYXDataDescription& d, const void* data) {
    fmtIn.push_back(d);
    input.push_back(const_cast<void*>(data));
    return *this;
  }
  Call& in(const RawFrame& f) { return in(f.description(), f.bytes().data()); }

  int run(const vyxhost::Plugin& p, unsigned id = kId) {
    return p->vyxpProcess(id, numOut, nullFmtOut ? nullptr : fmtOut.data(),
                          nullOutput ? nullptr : output.data(), unsigned(fmtIn.size()),
                          nullFmtIn ? nullptr : fmtIn.data(), nullInput ? nullptr : input.data());
  }

  const VYXDataDescription& out() const { return fmtOut[0]; }
  std::vector<uint32_t> pixels() const { return hostWords(outBuf.data(), outBuf.size() / 4); }
  bool descriptionUntouched() const { return std::memcmp(&fmtOut[0], &before, sizeof before) == 0; }
  bool outputUntouched() const {
    for (uint8_t b : outBuf)
      if (b != kUntouchedByte) return false;
    return true;
  }

  std::vector<VYXDataDescription> fmtIn, fmtOut;
  std::vector<void*> input, output;
  std::vector<uint8_t> outBuf;
  VYXDataDescription before;
  unsigned numOut = 1;
  bool nullFmtOut = false, nullOutput = false, nullFmtIn = false, nullInput = false;
};

// The description a successful conversion of `in` must leave behind.
VYXDataDescription expectedOutput(const VYXDataDescription& in, uint32_t type, unsigned id,
                                  uint32_t did) {
  VYXDataDescription e = in;
  e.size = in.std.numColumns * in.std.numRows * 4;
  e.type = type;
  e.PID = id;
  e.DID = did;
  e.subHeaderType = VYX_SUBHEADER_IMAGE;
  e.std.subType = 0;
  e.std.numSubImages = 1;
  return e;
}

void expectSameDescription(const VYXDataDescription& actual, const VYXDataDescription& expected) {
  const auto* a = reinterpret_cast<const uint8_t*>(&actual);
  const auto* e = reinterpret_cast<const uint8_t*>(&expected);
  for (size_t i = 0; i < sizeof actual; ++i)
    EXPECT_EQ(int(a[i]), int(e[i])) << "description byte " << i;
}

std::unique_ptr<vyxhost::Plugin> pluginWithInstances(std::initializer_list<unsigned> ids) {
  auto p = freshPlugin();
  for (unsigned id : ids) EXPECT_EQ((*p)->vyxpInitProcessingPlugin(id, ""), VYX_OK);
  return p;
}

// ---------------------------------------------------------------------------
// Finding the image

TEST(ProcessSearch, FindsTheFirstImageWithinHalfATypeAtTheHeaderStride) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct Row {
    unsigned headerWords;
    std::vector<float> types;
    uint32_t output;
    int expectedImage;  // -1: not in the frame
  };
  const Row rows[] = {
      {kShortHeaderWords, {1, 2, 8}, VYX_TYPE_10001, 0},
      {kShortHeaderWords, {1, 2, 8}, VYX_TYPE_10002, 1},
      {kShortHeaderWords, {1, 2, 8}, VYX_TYPE_10020, 2},  // ends exactly at the block's end
      {kShortHeaderWords, {1, 2, 8}, VYX_TYPE_10080, -1},
      {kLongHeaderWords, {1, 2, 8}, VYX_TYPE_10001, 0},
      {kLongHeaderWords, {1, 2, 8}, VYX_TYPE_10002, 1},
      {kLongHeaderWords, {1, 2, 8}, VYX_TYPE_10020, 2},
      {kLongHeaderWords, {1, 2, 8}, VYX_TYPE_10040, -1},
      {kShortHeaderWords, {10, 9, 1}, VYX_TYPE_10040, 1},
      {kShortHeaderWords, {10, 9, 1}, VYX_TYPE_10080, 0},
      {kShortHeaderWords, {2, 2}, VYX_TYPE_10004, 0},
      {kShortHeaderWords, {8.6f, 8}, VYX_TYPE_10020, 1},
      {kShortHeaderWords, {8.5f, 8}, VYX_TYPE_10020, 0},
      {kShortHeaderWords, {8.4f, 8}, VYX_TYPE_10020, 0},
      {kShortHeaderWords, {7.5f, 8}, VYX_TYPE_10020, 0},
      {kLongHeaderWords, {8.6f}, VYX_TYPE_10020, -1},
      {kShortHeaderWords, {nan, 8}, VYX_TYPE_10020, 0},  // not a number: never "too far"
      {kLongHeaderWords, {2, nan}, VYX_TYPE_10001, 1},
  };
  auto p = pluginWithInstances({kId});
  for (const Row& r : rows) {
    testing::Message what;
    what << r.headerWords << "-word headers, types";
    for (float t : r.types) what << ' ' << t;
    what << ", output 0x" << std::hex << r.output;
    SCOPED_TRACE(what);

    RawFrame frame(r.headerWords);
    for (size_t i = 0; i < r.types.size(); ++i) frame.add(r.types[i], unsigned(i + 1));
    Call call(r.output);
    call.in(frame);
    const int code = call.run(*p);
    if (r.expectedImage < 0) {
      EXPECT_EQ(code, VYX_NOT_AVAILABLE);
      EXPECT_EQ(lastError(*p, kId), "could not find requested data");
      EXPECT_TRUE(call.outputUntouched());
    } else {
      ASSERT_EQ(code, VYX_OK) << lastError(*p, kId);
      EXPECT_EQ(call.pixels(), patternPixels(unsigned(r.expectedImage + 1)));
    }
  }
}

TEST(ProcessSearch, Types10002And10004TakeTheSameImage) {
  auto p = pluginWithInstances({kId});
  RawFrame frame;
  frame.add(1, 1).add(2, 2).add(8, 3);
  Call a(VYX_TYPE_10002), b(VYX_TYPE_10004);
  ASSERT_EQ(a.in(frame).run(*p), VYX_OK);
  ASSERT_EQ(b.in(frame).run(*p), VYX_OK);
  EXPECT_EQ(a.pixels(), patternPixels(2));
  EXPECT_EQ(a.outBuf, b.outBuf);
  EXPECT_EQ(a.out().type, VYX_TYPE_10002);
  EXPECT_EQ(b.out().type, VYX_TYPE_10004);
}

TEST(ProcessSearch, WorksOnTheLastRawInputWhateverItsBits) {
  auto p = pluginWithInstances({kId});
  RawFrame a, b;
  a.add(8, 1);
  b.add(1, 2).add(8, 3);
  VYXDataDescription bDesc = b.description();
  bDesc.std.integrationTime[0] = 333;  // tells B's description from A's
  const std::vector<uint32_t> floats = patternPixels(9);
  const VYXDataDescription floatDesc = vyxtest::floatBlockDescription(VYX_TYPE_10020, 0x100);

  Call floatThenRaw(VYX_TYPE_10020);
  ASSERT_EQ(floatThenRaw.in(floatDesc, floats.data()).in(a).run(*p), VYX_OK);
  EXPECT_EQ(floatThenRaw.pixels(), patternPixels(1));

  Call rawThenRaw(VYX_TYPE_10020);
  ASSERT_EQ(rawThenRaw.in(a).in(bDesc, b.bytes().data()).run(*p), VYX_OK);
  EXPECT_EQ(rawThenRaw.pixels(), patternPixels(3));
  EXPECT_EQ(rawThenRaw.out().std.integrationTime[0], 333);

  Call rawThenFloat(VYX_TYPE_10020);
  ASSERT_EQ(rawThenFloat.in(a).in(floatDesc, floats.data()).run(*p), VYX_OK);
  EXPECT_EQ(rawThenFloat.pixels(), patternPixels(1));

  // The first raw block holds the type, the last does not: the last decides.
  RawFrame without;
  without.add(1, 4);
  Call lastLacksIt(VYX_TYPE_10020);
  EXPECT_EQ(lastLacksIt.in(a).in(without).run(*p), VYX_NOT_AVAILABLE);
}

// ---------------------------------------------------------------------------
// The pixels and the output description

TEST(ProcessOutput, PixelsArriveBitForBitNaNsIncluded) {
  std::vector<uint32_t> pixels(kPixelWords);
  std::mt19937 rng(7);
  for (uint32_t& w : pixels) w = rng();
  const uint32_t special[] = {
      0x7FC00000u,               // quiet NaN
      0x7F800001u,               // signalling NaN: a float load on x87 would quiet it
      0xFFBFFFFFu,               // negative signalling NaN with payload
      0xFFFFFFFFu,               // negative quiet NaN, all payload bits
      0x7F800000u, 0xFF800000u,  // infinities
      0x80000000u,               // negative zero
      0x00000001u,               // smallest subnormal
  };
  std::copy(std::begin(special), std::end(special), pixels.begin());
  std::copy(std::begin(special), std::end(special), pixels.end() - std::size(special));

  auto p = pluginWithInstances({kId});
  for (unsigned headerWords : {kShortHeaderWords, kLongHeaderWords}) {
    RawFrame frame(headerWords);
    frame.add(1, 3).add(2, pixels);
    // The host's block need not be aligned.
    for (size_t misalign : {0, 1, 3}) {
      SCOPED_TRACE(testing::Message() << headerWords << " header words, offset " << misalign);
      std::vector<uint8_t> block(misalign);
      block.insert(block.end(), frame.bytes().begin(), frame.bytes().end());
      Call call(VYX_TYPE_10002);
      ASSERT_EQ(call.in(frame.description(), block.data() + misalign).run(*p), VYX_OK);
      EXPECT_EQ(call.pixels(), pixels);
      // And as bytes: each word of the frame, reversed.
      const uint8_t* src = frame.bytes().data() + 4 * (2 * headerWords + kPixelWords);
      for (size_t i = 0; i < kImageBytes; ++i)
        ASSERT_EQ(call.outBuf[i], src[(i & ~size_t{3}) + 3 - (i & 3)]) << "byte " << i;
    }
  }
}

TEST(ProcessOutput, DescriptionIsTheInputsWithTheResultFields) {
  auto p = pluginWithInstances({kId});
  ASSERT_EQ((*p)->vyxpConfigureProcess(kId, nullptr, 0, "x"), VYX_NOT_SUPPORTED);
  RawFrame frame(kLongHeaderWords);
  frame.add(1, 1).add(8, 2);

  Call call(VYX_TYPE_10020);
  ASSERT_EQ(call.in(frame).run(*p), VYX_OK);
  expectSameDescription(call.out(), expectedOutput(frame.description(), VYX_TYPE_10020, kId, 1));
  EXPECT_EQ(lastError(*p, kId), "command not available") << "success leaves the text";

  // The pixel count comes from the description, the stride stays 3200
  // words; 117 pixels also take every path of a blockwise copy.
  VYXDataDescription small = frame.description();
  small.std.numColumns = 13;
  small.std.numRows = 9;
  Call part(VYX_TYPE_10020, 117 * 4);
  ASSERT_EQ(part.in(small, frame.bytes().data()).run(*p), VYX_OK);
  EXPECT_EQ(part.out().size, 117u * 4);
  const std::vector<uint32_t> image = patternPixels(2);
  EXPECT_EQ(part.pixels(), std::vector<uint32_t>(image.begin(), image.begin() + 117));
}

TEST(ProcessOutput, DataIdentifiersCountOverInstancesAndFailedSearches) {
  auto p = pluginWithInstances({1, 2});
  RawFrame frame;
  frame.add(1, 1).add(2, 2);
  auto convert = [&](unsigned id, uint32_t type, uint32_t capacity, int code) {
    Call call(type, capacity);
    EXPECT_EQ(call.in(frame).run(*p, id), code);
    return call;
  };

  EXPECT_EQ(convert(1, VYX_TYPE_10001, kImageBytes, VYX_OK).out().DID, 1u);
  const Call missing = convert(2, VYX_TYPE_10020, kImageBytes, VYX_NOT_AVAILABLE);
  // A failed search leaves the rewritten description and the spent identifier.
  expectSameDescription(missing.out(), expectedOutput(frame.description(), VYX_TYPE_10020, 2, 2));
  EXPECT_TRUE(missing.outputUntouched());
  // A refusal before the rewrite spends none.
  EXPECT_TRUE(
      convert(1, VYX_TYPE_10001, kImageBytes - 1, VYX_BUFFER_TOO_SMALL).descriptionUntouched());
  const Call second = convert(2, VYX_TYPE_10002, kImageBytes, VYX_OK);
  EXPECT_EQ(second.out().DID, 3u);
  EXPECT_EQ(second.out().PID, 2u);
  const Call first = convert(1, VYX_TYPE_10004, kImageBytes, VYX_OK);
  EXPECT_EQ(first.out().DID, 4u);
  EXPECT_EQ(first.out().PID, 1u);
}

// ---------------------------------------------------------------------------
// Refusals

TEST(ProcessRefusal, EachCheckInItsOrder) {
  RawFrame frame;
  frame.add(1, 1).add(2, 2);
  RawFrame other;
  other.add(2, 3);
  const std::vector<uint32_t> floats = patternPixels(9);
  const VYXDataDescription floatDesc = vyxtest::floatBlockDescription(VYX_TYPE_10002, 0x4);

  enum Writes { kNothing, kDescription, kBoth };
  struct Row {
    const char* what;
    uint32_t output;
    uint32_t capacity;
    std::function<void(Call&)> setUp;  // after the frame has been added as input 0
    int code;
    const char* text;
    Writes writes;
  };
  auto onlyFloat = [&](Call& c) {
    c.fmtIn.clear();
    c.input.clear();
    c.in(floatDesc, floats.data());
  };
  auto dims = [](uint32_t columns, uint32_t rows) {
    return [=](Call& c) {
      c.fmtIn[0].std.numColumns = columns;
      c.fmtIn[0].std.numRows = rows;
    };
  };
  const char* const kNull = "null pointer argument";
  const Row rows[] = {
      {"no input, bad output type, two outputs", 0x10003, 0,
       [](Call& c) {
         c.fmtIn.clear();
         c.input.clear();
         c.numOut = 2;
       },
       VYX_NOT_SUPPORTED, "need at least one input data block", kNothing},
      {"float input only, bad output type, two outputs", 0x10003, 0,
       [&](Call& c) {
         onlyFloat(c);
         c.numOut = 2;
       },
       VYX_NOT_SUPPORTED, "input data type not supported", kNothing},
      {"bad output type, two outputs, no room", 0x10003, 0, [](Call& c) { c.numOut = 2; },
       VYX_NOT_SUPPORTED, "output data type not supported", kNothing},
      {"raw frame type as output", VYX_TYPE_50003, kImageBytes, nullptr, VYX_NOT_SUPPORTED,
       "output data type not supported", kNothing},
      {"two outputs, no room", VYX_TYPE_10002, 0, [](Call& c) { c.numOut = 2; }, VYX_NOT_SUPPORTED,
       "need exactly one output data block", kNothing},
      {"one byte short, type absent", VYX_TYPE_10080, kImageBytes - 1, nullptr,
       VYX_BUFFER_TOO_SMALL, "not enough memory provided", kNothing},
      {"size wraps in 32 bits", VYX_TYPE_10002, kImageBytes, dims(65536, 16384),
       VYX_BUFFER_TOO_SMALL, "not enough memory provided", kNothing},
      {"size wraps in 64 bits", VYX_TYPE_10002, kImageBytes, dims(0x80000000u, 0x80000000u),
       VYX_BUFFER_TOO_SMALL, "not enough memory provided", kNothing},
      {"type absent", VYX_TYPE_10020, kImageBytes, nullptr, VYX_NOT_AVAILABLE,
       "could not find requested data", kDescription},
      {"exactly enough room", VYX_TYPE_10002, kImageBytes, nullptr, VYX_OK, nullptr, kBoth},
      // Missing pointers fail cleanly before anything is written.
      {"no output description", VYX_TYPE_10002, kImageBytes, [](Call& c) { c.numOut = 0; },
       VYX_NOT_SUPPORTED, "need exactly one output data block", kNothing},
      {"null output descriptions", VYX_TYPE_10002, kImageBytes,
       [](Call& c) { c.nullFmtOut = true; }, VYX_NOT_SUPPORTED,
       "need exactly one output data block", kNothing},
      {"null output list", VYX_TYPE_10002, kImageBytes, [](Call& c) { c.nullOutput = true; },
       VYX_INVALID_VALUE, kNull, kNothing},
      {"null output block", VYX_TYPE_10002, kImageBytes, [](Call& c) { c.output[0] = nullptr; },
       VYX_INVALID_VALUE, kNull, kNothing},
      {"null input descriptions", VYX_TYPE_10002, kImageBytes, [](Call& c) { c.nullFmtIn = true; },
       VYX_INVALID_VALUE, kNull, kNothing},
      {"null input list", VYX_TYPE_10002, kImageBytes, [](Call& c) { c.nullInput = true; },
       VYX_INVALID_VALUE, kNull, kNothing},
      {"null chosen input block", VYX_TYPE_10002, kImageBytes,
       [&](Call& c) {
         c.in(other);
         c.input[1] = nullptr;
       },
       VYX_INVALID_VALUE, kNull, kNothing},
  };

  auto p = pluginWithInstances({kId});
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    ASSERT_EQ((*p)->vyxpConfigureProcess(kId, nullptr, 0, "x"), VYX_NOT_SUPPORTED);
    Call call(r.output, r.capacity);
    call.in(frame);
    if (r.setUp) r.setUp(call);
    EXPECT_EQ(call.run(*p), r.code);
    EXPECT_EQ(lastError(*p, kId), r.text ? r.text : "command not available");
    EXPECT_EQ(call.descriptionUntouched(), r.writes == kNothing);
    EXPECT_EQ(call.outputUntouched(), r.writes != kBoth);
  }
}

TEST(ProcessRefusal, UnknownHandleEmptiesTheSlotAndWritesNothing) {
  auto p = pluginWithInstances({kId});
  ASSERT_EQ((*p)->vyxpInitProcessingPlugin(kId, ""), VYX_INVALID_VALUE);
  ASSERT_EQ(lastError(*p, 0), "handle already exists");
  RawFrame frame;
  frame.add(2, 1);
  Call call(VYX_TYPE_10002);
  EXPECT_EQ(call.in(frame).run(*p, kId + 1), VYX_INVALID_HANDLE);
  EXPECT_EQ(lastError(*p, 0), "");
  EXPECT_TRUE(call.descriptionUntouched());
  EXPECT_TRUE(call.outputUntouched());
  EXPECT_FALSE((*p)->pidOk(kId + 1));
}

// A matched image whose pixels would run past the block's end is not there;
// each frame sits at the very end of an exactly sized allocation, so a read
// beyond it is caught under ASan.
TEST(ProcessRefusal, ImageCutShortByTheBlockIsNotFound) {
  RawFrame frame;
  frame.add(1, 1).add(8, 2);
  const uint32_t full = uint32_t(frame.bytes().size());
  struct Row {
    const char* what;
    uint32_t size;
    uint32_t rows;
  };
  const Row cuts[] = {
      {"one pixel short", full - 4, 50},
      {"one byte short", full - 1, 50},
      {"header only", full - kImageBytes, 50},
      {"type word is the last word", full - kImageBytes - 4 * (kShortHeaderWords - 3), 50},
      {"whole frame, one row too many", full, 51},
  };
  auto p = pluginWithInstances({kId});
  for (const Row& r : cuts) {
    SCOPED_TRACE(r.what);
    std::unique_ptr<uint8_t[]> exact(new uint8_t[r.size]);
    std::memcpy(exact.get(), frame.bytes().data(), r.size);
    VYXDataDescription d = frame.description();
    d.size = r.size;
    d.std.numRows = r.rows;

    Call cut(VYX_TYPE_10020, 64 * r.rows * 4);
    EXPECT_EQ(cut.in(d, exact.get()).run(*p), VYX_NOT_AVAILABLE);
    EXPECT_EQ(lastError(*p, kId), "could not find requested data");
    EXPECT_TRUE(cut.outputUntouched());
    if (r.rows == 50) {
      // The complete image before the cut is still there.
      Call whole(VYX_TYPE_10001);
      ASSERT_EQ(whole.in(d, exact.get()).run(*p), VYX_OK);
      EXPECT_EQ(whole.pixels(), patternPixels(1));
    }
  }
}

}  // namespace
