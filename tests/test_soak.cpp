// Long runs against the simulated camera: many frames through the whole host
// path (update, raw data, description, conversion), and many open/close
// cycles. Before and after each run the test counts open descriptors,
// resident memory and the allocations still alive, and prints the figures.
// Only leaks fail the test: descriptors must come back to where they were and
// memory may grow by a bounded amount; how long anything takes is not judged.
//
// By default a short run for the normal suite; VYX_SOAK=1 runs 100,000 frames
// and 10,000 open/close cycles.
#include <malloc.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <new>
#include <thread>
#include <vector>

#include "lvtsim/scene.h"
#include "plugin_fixture.h"
#include "sim_fixture.h"

// Every allocation of the process that goes through the global operator new,
// the plug-in's included (the executable's definition takes precedence over
// the C++ library's for every loaded object).
namespace {
std::atomic<uint64_t> g_allocations{0};
std::atomic<int64_t> g_liveAllocations{0};

void* countedAlloc(size_t size) {
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  g_liveAllocations.fetch_add(1, std::memory_order_relaxed);
  return p;
}

void countedFree(void* p) noexcept {
  if (p == nullptr) return;
  g_liveAllocations.fetch_sub(1, std::memory_order_relaxed);
  std::free(p);
}
}  // namespace

void* operator new(size_t size) { return countedAlloc(size); }
void* operator new[](size_t size) { return countedAlloc(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  try {
    return countedAlloc(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
void operator delete(void* p) noexcept { countedFree(p); }
void operator delete[](void* p) noexcept { countedFree(p); }
void operator delete(void* p, size_t) noexcept { countedFree(p); }
void operator delete[](void* p, size_t) noexcept { countedFree(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { countedFree(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { countedFree(p); }

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

constexpr unsigned int kSource = 6;
constexpr unsigned int kProcessing = 6;
// Resident memory may move by this much for reasons other than a leak
// (allocator arenas of the camera's threads, pages touched late).
constexpr long kResidentSlackKiB = 16 * 1024;
// Live allocations may differ by a few that belong to the camera's threads
// and containers caught in the middle of their work.
constexpr int64_t kLiveAllocationSlack = 64;

bool longRun() {
  const char* soak = std::getenv("VYX_SOAK");
  return soak != nullptr && std::string(soak) == "1";
}

long residentKiB() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

struct Snapshot {
  int descriptors;
  long residentKiB;
  int64_t liveAllocations;
  uint64_t allocations;
};

Snapshot snapshot() {
  ::malloc_trim(0);  // hand freed arena memory back, so that residency shows what is kept
  return {vyxtest::openDescriptors(), residentKiB(), g_liveAllocations.load(),
          g_allocations.load()};
}

// The camera closes its side of a connection a moment after the plug-in has:
// wait (bounded) for the count of an idle camera before comparing.
int settledDescriptors(int expected) {
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  int now = vyxtest::openDescriptors();
  while (now != expected && std::chrono::steady_clock::now() < giveUp) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    now = vyxtest::openDescriptors();
  }
  return now;
}

void report(const char* what, unsigned long count, const Snapshot& before, const Snapshot& after) {
  std::printf(
      "[ soak     ] %s: %lu; descriptors %d -> %d; resident %ld -> %ld KiB (%+ld); live "
      "allocations %lld -> %lld (%+lld); %.1f allocations per iteration\n",
      what, count, before.descriptors, after.descriptors, before.residentKiB, after.residentKiB,
      after.residentKiB - before.residentKiB, static_cast<long long>(before.liveAllocations),
      static_cast<long long>(after.liveAllocations),
      static_cast<long long>(after.liveAllocations - before.liveAllocations),
      static_cast<double>(after.allocations - before.allocations) / static_cast<double>(count));
  std::fflush(stdout);
}

void expectNoLeak(const Snapshot& before, const Snapshot& after) {
  EXPECT_EQ(after.descriptors, before.descriptors) << "descriptors left open";
  EXPECT_LE(after.liveAllocations - before.liveAllocations, kLiveAllocationSlack)
      << "allocations that were never freed";
  if (!kAddressSanitizer) {  // its quarantine keeps freed memory resident on purpose
    EXPECT_LE(after.residentKiB - before.residentKiB, kResidentSlackKiB) << "resident growth";
  }
}

// One frame as a host takes it: fetch, copy out, describe, convert.
void takeFrame(const vyxhost::Plugin& p, std::vector<uint8_t>& raw, std::vector<float>& image) {
  const vyxhost::EntryPoints& api = p.api();
  ASSERT_EQ(api.vyxpUpdate(kSource), VYX_OK) << vyxtest::lastError(p, kSource);
  size_t size = 0;
  ASSERT_EQ(api.vyxpGetRawDataSize(kSource, &size), VYX_OK);
  raw.resize(size);
  ASSERT_EQ(api.vyxpGetRawData(kSource, raw.data()), VYX_OK);
  VYXDataDescription in{};
  ASSERT_EQ(api.vyxpGetRawDataDescription(kSource, &in), VYX_OK);
  VYXDataDescription out{};
  out.type = VYX_TYPE_10002;
  out.size = static_cast<uint32_t>(image.size() * sizeof(float));
  void* output = image.data();
  void* input = raw.data();
  ASSERT_EQ(api.vyxpProcess(kProcessing, 1, &out, &output, 1, &in, &input), VYX_OK);
}

TEST(Soak, FramesLeaveNoDescriptorOrMemoryBehind) {
  const unsigned long frames = longRun() ? 100000 : 2000;
  auto p = vyxtest::freshPlugin();
  auto cam = vyxtest::startCamera();
  vyxhost::SourceInstance source(*p, kSource, cam->config().address);
  vyxhost::ProcessingInstance processing(*p, kProcessing);
  std::vector<uint8_t> raw;
  std::vector<float> image(64 * 50);

  // Warm up: every image the camera renders is cached after one scene period.
  for (uint64_t i = 0; i < lvtsim::kScenePeriod + 80; ++i) {
    takeFrame(*p, raw, image);
    if (HasFatalFailure()) return;
  }
  cam->clearLog();
  const Snapshot before = snapshot();
  for (unsigned long i = 1; i <= frames; ++i) {
    takeFrame(*p, raw, image);
    if (HasFatalFailure()) return;
    if (i % 1000 == 0) cam->clearLog();  // the camera's request log is not the plug-in's
  }
  cam->clearLog();
  const Snapshot after = snapshot();
  report("frames", frames, before, after);
  expectNoLeak(before, after);
}

TEST(Soak, OpenCloseCyclesLeaveNoDescriptorOrMemoryBehind) {
  const unsigned long cycles = longRun() ? 10000 : 200;
  auto p = vyxtest::freshPlugin();
  auto cam = vyxtest::startCamera();
  const std::string address = cam->config().address;
  const int idleDescriptors = vyxtest::openDescriptors();  // camera up, nothing connected
  const vyxhost::EntryPoints& api = p->api();
  auto cycle = [&] {
    ASSERT_EQ(api.vyxpInitRawDataPlugin(kSource, address.c_str()), VYX_OK)
        << vyxtest::lastError(*p, 0);
    ASSERT_EQ(api.vyxpUpdate(kSource), VYX_OK) << vyxtest::lastError(*p, kSource);
    ASSERT_EQ(api.vyxpDeinitPlugin(kSource), VYX_OK);
  };

  // Warm up, long enough for the camera to have rendered and cached every
  // image of its scene (one per frame for a scene period).
  for (uint64_t i = 0; i < lvtsim::kScenePeriod + 10; ++i) {
    cycle();
    if (HasFatalFailure()) return;
  }
  ASSERT_TRUE(cam->waitForOpenDataConnections(0, std::chrono::seconds(10)));
  cam->clearLog();
  Snapshot before = snapshot();
  before.descriptors = settledDescriptors(idleDescriptors);
  for (unsigned long i = 1; i <= cycles; ++i) {
    cycle();
    if (HasFatalFailure()) return;
    if (i % 100 == 0) cam->clearLog();
  }
  ASSERT_TRUE(cam->waitForOpenDataConnections(0, std::chrono::seconds(10)))
      << "the camera still sees data connections of closed instances";
  cam->clearLog();
  Snapshot after = snapshot();
  after.descriptors = settledDescriptors(idleDescriptors);
  report("open/close cycles", cycles, before, after);
  expectNoLeak(before, after);
}

}  // namespace
