// The plug-in object as the host sees it: its exported symbols, the
// interface version, the text rule and the error slots of both registries.
#include <elf.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <set>

#include "plugin_fixture.h"
#include "temp_dir.h"

namespace {

using vyxtest::freshPlugin;
using vyxtest::lastError;

std::set<std::string> definedDynamicSymbols(const std::string& path) {
  std::set<std::string> names;
  const std::string cmd = "nm -D --defined-only " + path;
  FILE* pipe = ::popen(cmd.c_str(), "r");
  if (pipe == nullptr) return names;
  char line[512];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    char address[64], kind[8], name[400];
    if (std::sscanf(line, "%63s %7s %399s", address, kind, name) == 3) names.insert(name);
  }
  ::pclose(pipe);
  return names;
}

TEST(PluginObject, ExportsExactlyTheEntryPointsAndPidOk) {
  std::set<std::string> expected(vyxhost::entryPointNames().begin(),
                                 vyxhost::entryPointNames().end());
  expected.insert("pidOk");
  EXPECT_EQ(expected.size(), 21u);
  EXPECT_EQ(definedDynamicSymbols(VYX_PLUGIN_PATH), expected);
}

TEST(PluginObject, FileNameAndElfClassMatchTheBuild) {
  const std::string path = VYX_PLUGIN_PATH;
  EXPECT_EQ(path.substr(path.find_last_of('/') + 1), "lvt.L32.vcp");
  std::ifstream f(path, std::ios::binary);
  std::array<unsigned char, 20> ident{};
  f.read(reinterpret_cast<char*>(ident.data()), ident.size());
  ASSERT_TRUE(f);
  EXPECT_EQ(ident[EI_MAG0], ELFMAG0);
  EXPECT_EQ(ident[EI_MAG1], 'E');
  EXPECT_EQ(ident[EI_DATA], ELFDATA2LSB);
  uint16_t machine = static_cast<uint16_t>(ident[18] | (ident[19] << 8));
  if (sizeof(void*) == 4) {
    // The reference platform: a 32-bit i386 object.
    EXPECT_EQ(ident[EI_CLASS], ELFCLASS32);
    EXPECT_EQ(machine, EM_386);
  } else {
    EXPECT_EQ(ident[EI_CLASS], ELFCLASS64);
    EXPECT_EQ(machine, EM_X86_64);
  }
}

TEST(PluginObject, LoaderNamesAMissingFile) {
  try {
    vyxhost::Plugin p("/nonexistent/lvt.L32.vcp");
    FAIL() << "loaded a file that does not exist";
  } catch (const vyxhost::LoadError& e) {
    EXPECT_NE(std::string(e.what()).find("/nonexistent/lvt.L32.vcp"), std::string::npos);
  }
}

TEST(PluginObject, LoaderRefusesACutOrForeignFileBeforeMappingIt) {
  // The system's loader maps a cut object and dies on its first missing page (SIGBUS).
  std::ifstream in(VYX_PLUGIN_PATH, std::ios::binary);
  const std::string whole((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const vyxtest::TempDir dir("cutplugin");
  for (const size_t keep : {size_t{35856}, whole.size() / 2, size_t{40}, size_t{3}}) {
    const std::string cut = dir.path() + "/cut-" + std::to_string(keep) + ".vcp";
    std::ofstream(cut, std::ios::binary) << whole.substr(0, std::min(keep, whole.size() - 1));
    try {
      vyxhost::Plugin p(cut);
      FAIL() << "loaded the first " << keep << " bytes";
    } catch (const vyxhost::LoadError& e) {
      EXPECT_NE(std::string(e.what()).find(cut), std::string::npos) << e.what();
    }
  }
  EXPECT_THROW(vyxhost::Plugin p(dir.path()), vyxhost::LoadError);  // a folder
}

TEST(PluginObject, LoaderRefusesAnObjectWithoutTheEntryPoints) {
  // The C maths library is a real shared object that is not a plug-in.
  const std::string notAPlugin = "libm.so.6";
  try {
    vyxhost::Plugin p(notAPlugin);
    FAIL() << "accepted an object without entry points";
  } catch (const vyxhost::LoadError& e) {
    EXPECT_NE(std::string(e.what()).find("does not export vyxpInterfaceVersion"), std::string::npos)
        << e.what();
  }
}

TEST(CommonEntryPoints, InterfaceVersionBeforeAndAfterInstances) {
  auto p = freshPlugin();
  EXPECT_EQ((*p)->vyxpInterfaceVersion(), 66049u);
  ASSERT_EQ((*p)->vyxpInitProcessingPlugin(3, ""), VYX_OK);
  EXPECT_EQ((*p)->vyxpInterfaceVersion(), 66049u);
  ASSERT_EQ((*p)->vyxpDeinitPlugin(3), VYX_OK);
  EXPECT_EQ((*p)->vyxpInterfaceVersion(), 66049u);
}

TEST(CommonEntryPoints, TextRuleCutsPadsAndRespectsEmptyBuffers) {
  auto p = freshPlugin();
  ASSERT_EQ((*p)->vyxpInitProcessingPlugin(1, ""), VYX_OK);
  ASSERT_EQ((*p)->vyxpConfigureProcess(1, nullptr, 0, "x"), VYX_NOT_SUPPORTED);
  const std::string text = "command not available";  // 21 characters
  ASSERT_EQ(text.size(), 21u);

  char small[8];
  std::memset(small, 'X', sizeof small);
  EXPECT_EQ((*p)->vyxpGetLastError(1, small, sizeof small), VYX_OK);
  EXPECT_EQ(std::string(small), text.substr(0, 7));

  char big[70];
  std::memset(big, 'X', sizeof big);
  EXPECT_EQ((*p)->vyxpGetLastError(1, big, 64), VYX_OK);
  EXPECT_EQ(std::string(big), text);
  for (int i = 21; i < 64; ++i) EXPECT_EQ(big[i], '\0') << "byte " << i;
  EXPECT_EQ(big[64], 'X') << "wrote past maxLen";

  char one[2] = {'X', 'X'};
  EXPECT_EQ((*p)->vyxpGetLastError(1, one, 1), VYX_OK);
  EXPECT_EQ(one[0], '\0');
  EXPECT_EQ(one[1], 'X');

  char untouched[4] = {'X', 'X', 'X', 'X'};
  EXPECT_EQ((*p)->vyxpGetLastError(1, untouched, 0), VYX_OK);
  EXPECT_EQ(untouched[0], 'X');
  EXPECT_EQ((*p)->vyxpGetLastError(1, nullptr, 64), VYX_OK);
}

TEST(ErrorSlots, UnknownHandleEmptiesProcessingSlotAndLeavesBufferAlone) {
  auto p = freshPlugin();
  EXPECT_FALSE((*p)->pidOk(9));
  char buf[8] = {'X', 'X', 'X', 'X', 'X', 'X', 'X', 'X'};
  EXPECT_EQ((*p)->vyxpGetLastError(9, buf, sizeof buf), VYX_INVALID_HANDLE);
  EXPECT_EQ(buf[0], 'X');
  // The processing registry now holds its error slot; the source one does not exist.
  EXPECT_TRUE((*p)->pidOk(0));
  EXPECT_EQ(lastError(*p, 0), "");
  EXPECT_FALSE((*p)->pidOk(9));
}

TEST(ErrorSlots, SourceSlotWinsOverProcessingSlotUnderHandleZero) {
  auto p = freshPlugin();
  ASSERT_EQ((*p)->vyxpInitProcessingPlugin(4, ""), VYX_OK);
  ASSERT_EQ((*p)->vyxpInitProcessingPlugin(4, ""), VYX_INVALID_VALUE);
  EXPECT_EQ(lastError(*p, 0), "handle already exists");
  EXPECT_EQ(lastError(*p, 4), "") << "the open instance is untouched";

  // A source call with an unknown handle creates the source slot (empty).
  size_t size = 0;
  EXPECT_EQ((*p)->vyxpGetRawDataSize(77, &size), VYX_INVALID_HANDLE);
  EXPECT_EQ(lastError(*p, 0), "");
  // Handle 0 is now taken in both registries.
  EXPECT_EQ((*p)->vyxpInitRawDataPlugin(0, "127.0.0.1"), VYX_INVALID_VALUE);
  EXPECT_EQ(lastError(*p, 0), "handle already exists");
  EXPECT_EQ((*p)->vyxpInitProcessingPlugin(0, ""), VYX_INVALID_VALUE);
}

TEST(ErrorSlots, HandleZeroSlotHasNoCameraBehindIt) {
  auto p = freshPlugin();
  size_t size = 1;
  ASSERT_EQ((*p)->vyxpGetRawDataSize(12, &size), VYX_INVALID_HANDLE);  // creates the slot
  // Calls that would need the slot's (missing) socket or client are refused.
  EXPECT_EQ((*p)->vyxpUpdate(0), VYX_INVALID_HANDLE);
  EXPECT_EQ((*p)->vyxpSetIntegrationTime(0, 0, 100), VYX_INVALID_HANDLE);
  char answer[16];
  EXPECT_EQ((*p)->vyxpPlatformCommand(0, answer, sizeof answer, "SetFPS 10"), VYX_INVALID_HANDLE);
  EXPECT_EQ((*p)->vyxpDeinitPlugin(0), VYX_INVALID_HANDLE);
  // Calls that only read the record answer from it.
  EXPECT_EQ((*p)->vyxpGetRawDataSize(0, &size), VYX_OK);
  EXPECT_EQ(size, 0u);
}

TEST(ErrorSlots, DeinitOfUnknownHandleEmptiesSourceSlot) {
  auto p = freshPlugin();
  ASSERT_EQ((*p)->vyxpInitProcessingPlugin(2, ""), VYX_OK);
  ASSERT_EQ((*p)->vyxpInitProcessingPlugin(2, ""), VYX_INVALID_VALUE);
  EXPECT_EQ((*p)->vyxpDeinitPlugin(2), VYX_OK) << "a processing handle is only answered";
  EXPECT_TRUE((*p)->pidOk(2));
  EXPECT_EQ((*p)->vyxpDeinitPlugin(31), VYX_INVALID_HANDLE);
  EXPECT_EQ(lastError(*p, 0), "") << "source slot now exists and is empty";
}

TEST(ErrorSlots, SuccessfulCallLeavesThePreviousText) {
  auto p = freshPlugin();
  ASSERT_EQ((*p)->vyxpInitProcessingPlugin(1, ""), VYX_OK);
  ASSERT_EQ((*p)->vyxpConfigureProcess(1, nullptr, 0, "go"), VYX_NOT_SUPPORTED);
  int bytes = 0;
  ASSERT_EQ((*p)->vyxpCanProcess(1, &bytes, VYX_TYPE_10001, 0, nullptr), VYX_OK);
  EXPECT_EQ(bytes, -1);
  EXPECT_EQ(lastError(*p, 1), "command not available");
  EXPECT_EQ(lastError(*p, 1), "command not available") << "reading does not clear";
}

}  // namespace
