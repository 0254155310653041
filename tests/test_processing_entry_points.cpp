// The processing plug-in's entry points besides the conversion: opening,
// the command entry point that knows no command, and the question which
// output a set of input descriptions allows and how large it is.
#include <vector>

#include "plugin_fixture.h"
#include "rawframe.h"

namespace {

using vyxtest::floatBlockDescription;
using vyxtest::freshPlugin;
using vyxtest::lastError;

constexpr unsigned kId = 3;

VYXDataDescription rawDescription(uint32_t type, uint32_t subType, uint32_t columns = 64,
                                  uint32_t rows = 50) {
  VYXDataDescription d = floatBlockDescription(type, subType);
  d.std.numColumns = columns;
  d.std.numRows = rows;
  d.std.numSubImages = 0;
  return d;
}

// Runs vyxpCanProcess on an open instance; the result starts at a value no
// answer can have, so an untouched result is visible.
int canProcess(const vyxhost::Plugin& p, uint32_t type, std::vector<VYXDataDescription> fmt,
               int* code = nullptr) {
  int result = -12345;
  const int c = p->vyxpCanProcess(kId, &result, type, unsigned(fmt.size()),
                                  fmt.empty() ? nullptr : fmt.data());
  if (code != nullptr) *code = c;
  return result;
}

TEST(ProcessingOpen, ConfigureDeclinesEveryCommandWithoutTouchingTheBuffer) {
  auto p = freshPlugin();
  ASSERT_EQ((*p)->vyxpInitProcessingPlugin(kId, nullptr), VYX_OK) << "param is not read";
  for (const char* cmd : {"", "SetFPS 10", "anything", static_cast<const char*>(nullptr)}) {
    char buf[16] = "untouched";
    EXPECT_EQ((*p)->vyxpConfigureProcess(kId, buf, sizeof buf, cmd), VYX_NOT_SUPPORTED);
    EXPECT_STREQ(buf, "untouched");
    EXPECT_EQ(lastError(*p, kId), "command not available");
  }
}

TEST(ProcessingOpen, SecondOpeningLeavesTheFirstInstanceAlone) {
  auto p = freshPlugin();
  ASSERT_EQ((*p)->vyxpInitProcessingPlugin(kId, ""), VYX_OK);
  ASSERT_EQ((*p)->vyxpConfigureProcess(kId, nullptr, 0, "x"), VYX_NOT_SUPPORTED);
  EXPECT_EQ((*p)->vyxpInitProcessingPlugin(kId, ""), VYX_INVALID_VALUE);
  EXPECT_EQ(lastError(*p, 0), "handle already exists");
  EXPECT_EQ(lastError(*p, kId), "command not available") << "the instance keeps its own text";
}

TEST(ProcessingOpen, UnknownHandleEmptiesTheSlotAndWritesNothing) {
  auto p = freshPlugin();
  ASSERT_EQ((*p)->vyxpInitProcessingPlugin(kId, ""), VYX_OK);
  auto failOpening = [&] {
    ASSERT_EQ((*p)->vyxpInitProcessingPlugin(kId, ""), VYX_INVALID_VALUE);
    ASSERT_EQ(lastError(*p, 0), "handle already exists");
  };

  failOpening();
  char buf[8] = "keep";
  EXPECT_EQ((*p)->vyxpConfigureProcess(9, buf, sizeof buf, "x"), VYX_INVALID_HANDLE);
  EXPECT_STREQ(buf, "keep");
  EXPECT_EQ(lastError(*p, 0), "");

  failOpening();
  int result = 77;
  VYXDataDescription raw = rawDescription(VYX_TYPE_50003, 0x4);
  EXPECT_EQ((*p)->vyxpCanProcess(9, &result, VYX_TYPE_10002, 1, &raw), VYX_INVALID_HANDLE);
  EXPECT_EQ(result, 77);
  EXPECT_EQ(lastError(*p, 0), "");
  EXPECT_FALSE((*p)->pidOk(9));
}

// Each output type against a raw frame holding only its own camera image
// type, and against one holding every other type.
TEST(CanProcess, EachOutputTypeNeedsItsOwnImageTypeBit) {
  struct Row {
    uint32_t output;
    uint32_t bit;
  };
  const Row rows[] = {{VYX_TYPE_10001, 0x2},   {VYX_TYPE_10002, 0x4},   {VYX_TYPE_10004, 0x4},
                      {VYX_TYPE_10020, 0x100}, {VYX_TYPE_10040, 0x200}, {VYX_TYPE_10080, 0x400}};
  auto p = freshPlugin();
  ASSERT_EQ((*p)->vyxpInitProcessingPlugin(kId, ""), VYX_OK);
  for (const Row& r : rows) {
    for (uint32_t raw : {VYX_TYPE_50003, VYX_TYPE_50004}) {
      SCOPED_TRACE(testing::Message() << std::hex << "output 0x" << r.output << " raw 0x" << raw);
      EXPECT_EQ(canProcess(*p, r.output, {rawDescription(raw, r.bit)}), 12800);
      EXPECT_EQ(canProcess(*p, r.output, {rawDescription(raw, ~r.bit)}), -1);
    }
  }
}

TEST(CanProcess, ChoosesTheFirstRawDescriptionThatCarriesTheType) {
  using vyxtest::floatBlockDescription;
  struct Row {
    const char* what;
    uint32_t output;
    std::vector<VYXDataDescription> fmt;
    int expected;
  };
  const VYXDataDescription frame106 = rawDescription(VYX_TYPE_50003, 0x106);
  const Row rows[] = {
      {"image type 8 present", VYX_TYPE_10020, {frame106}, 12800},
      {"image type 10 absent", VYX_TYPE_10080, {frame106}, -1},
      {"no such output type", 0x10003, {rawDescription(VYX_TYPE_50003, 0xFFFFFFFF)}, -1},
      {"raw frame as output type", VYX_TYPE_50003, {frame106}, -1},
      {"no descriptions", VYX_TYPE_10002, {}, -1},
      {"first without the bit, second with it",
       VYX_TYPE_10020,
       {rawDescription(VYX_TYPE_50003, 0x6), rawDescription(VYX_TYPE_50004, 0x100, 32, 10)},
       1280},
      {"both with the bit: the first wins",
       VYX_TYPE_10002,
       {rawDescription(VYX_TYPE_50004, 0x4, 16, 2), rawDescription(VYX_TYPE_50003, 0x4)},
       128},
      {"a float block is skipped whatever its bits",
       VYX_TYPE_10002,
       {floatBlockDescription(VYX_TYPE_10001, 0xFFFFFFFF),
        rawDescription(VYX_TYPE_50003, 0x4, 8, 8)},
       256},
      {"float blocks only", VYX_TYPE_10002, {floatBlockDescription(VYX_TYPE_10002, 0x4)}, -1},
      // A size the int result cannot hold cannot be produced; products that
      // wrap in 32 or in 64 bits must not pass for small sizes.
      {"size beyond int", VYX_TYPE_10002, {rawDescription(VYX_TYPE_50003, 0x4, 65536, 65536)}, -1},
      {"size wrapping 64 bits",
       VYX_TYPE_10002,
       {rawDescription(VYX_TYPE_50003, 0x4, 0x80000000u, 0x80000000u)},
       -1},
  };
  auto p = freshPlugin();
  ASSERT_EQ((*p)->vyxpInitProcessingPlugin(kId, ""), VYX_OK);
  ASSERT_EQ((*p)->vyxpConfigureProcess(kId, nullptr, 0, "x"), VYX_NOT_SUPPORTED);
  for (const Row& r : rows) {
    int code = -1;
    EXPECT_EQ(canProcess(*p, r.output, r.fmt, &code), r.expected) << r.what;
    EXPECT_EQ(code, VYX_OK) << r.what;
  }
  EXPECT_EQ(lastError(*p, kId), "command not available") << "answers leave the text alone";
}

TEST(CanProcess, RefusesMissingPointersWithoutWriting) {
  auto p = freshPlugin();
  ASSERT_EQ((*p)->vyxpInitProcessingPlugin(kId, ""), VYX_OK);
  VYXDataDescription raw = rawDescription(VYX_TYPE_50003, 0x4);
  EXPECT_EQ((*p)->vyxpCanProcess(kId, nullptr, VYX_TYPE_10002, 1, &raw), VYX_INVALID_VALUE);
  EXPECT_EQ(lastError(*p, kId), "null pointer argument");

  int result = 77;
  EXPECT_EQ((*p)->vyxpCanProcess(kId, &result, VYX_TYPE_10002, 1, nullptr), VYX_INVALID_VALUE);
  EXPECT_EQ(result, 77);
  // No descriptions at all need no pointer to them.
  EXPECT_EQ((*p)->vyxpCanProcess(kId, &result, VYX_TYPE_10002, 0, nullptr), VYX_OK);
  EXPECT_EQ(result, -1);
}

}  // namespace
