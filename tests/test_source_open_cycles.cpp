// Many open/update/close cycles against one simulated camera: every cycle
// must give back its descriptors, and resident memory must not grow with the
// number of cycles.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "plugin_fixture.h"
#include "sim_fixture.h"

namespace {

constexpr int kCycles = 10000;
constexpr long kAllowedGrowthBytes = 8L << 20;
#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer keeps freed blocks in quarantine, so resident memory grows
// with the work done; its leak checker at exit covers leaks instead.
constexpr bool kResidentMemoryTellsLeaks = false;
#else
constexpr bool kResidentMemoryTellsLeaks = true;
#endif

// Resident set size of this process, from /proc/self/statm.
long residentBytes() {
  long pages = 0, resident = 0;
  std::ifstream statm("/proc/self/statm");
  if (!(statm >> pages >> resident)) resident = 0;
  return resident * ::sysconf(_SC_PAGESIZE);
}

// The simulated camera lives in this process and closes its ends of finished
// connections on its own threads: give it a bounded while to do so.
int descriptorsSettledAt(int expected) {
  for (int i = 0; i < 500 && vyxtest::openDescriptors() != expected; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return vyxtest::openDescriptors();
}

TEST(OpenCycles, ManyOpenUpdateCloseCyclesKeepDescriptorsAndMemoryFlat) {
  auto cam = vyxtest::startCamera();
  auto p = vyxtest::freshPlugin();
  const auto& api = p->api();
  const char* address = cam->config().address.c_str();

  auto cycle = [&](int n) {
    ASSERT_EQ(api.vyxpInitRawDataPlugin(1, address), VYX_OK) << "cycle " << n;
    ASSERT_EQ(api.vyxpUpdate(1), VYX_OK) << "cycle " << n;
    size_t size = 0;
    ASSERT_EQ(api.vyxpGetRawDataSize(1, &size), VYX_OK);
    ASSERT_EQ(size, 25736u);
    ASSERT_EQ(api.vyxpDeinitPlugin(1), VYX_OK) << "cycle " << n;
    cam->clearLog();  // the camera's own record of calls would grow otherwise
  };

  const int descriptorsBefore = vyxtest::openDescriptors();
  // A few cycles before the memory baseline, so that lazily built state
  // (allocator arenas, the camera's image cache) is already in it.
  for (int n = 0; n < 50; ++n) ASSERT_NO_FATAL_FAILURE(cycle(n));
  const long rssBefore = residentBytes();

  for (int n = 0; n < kCycles; ++n) ASSERT_NO_FATAL_FAILURE(cycle(n));

  ASSERT_TRUE(cam->waitForOpenDataConnections(0, std::chrono::seconds(5)));
  EXPECT_EQ(descriptorsSettledAt(descriptorsBefore), descriptorsBefore);
  const long rssAfter = residentBytes();
  std::printf("resident memory: %ld KiB before, %ld KiB after %d cycles (%+ld KiB)\n",
              rssBefore / 1024, rssAfter / 1024, kCycles, (rssAfter - rssBefore) / 1024);
  ::testing::Test::RecordProperty("rss_before_kib", std::to_string(rssBefore / 1024));
  ::testing::Test::RecordProperty("rss_after_kib", std::to_string(rssAfter / 1024));
  EXPECT_GT(rssBefore, 0) << "could not read /proc/self/statm";
  // Under a user-mode emulator the process's resident memory is mostly the emulator's own code
  // cache, which grows with the code run; the native build checks this.
  if (kResidentMemoryTellsLeaks && std::getenv("VYX_TEST_EMULATED") == nullptr) {
    EXPECT_LT(rssAfter - rssBefore, kAllowedGrowthBytes);
  }
  EXPECT_EQ(cam->connectionsAccepted(), static_cast<size_t>(kCycles + 50));
}

}  // namespace
