// The whole road of one frame through the host loader, in CPU time of the
// host's thread: vyxpUpdate against a simulated camera, the raw size and copy
// into host memory, the description, and the two conversions (image types 1
// and 2). Each stage is measured on its own and the road in one piece, and
// each next to its physical limit in the same run: a bare socket client
// fetching the same frame from the same camera, memcpy of the raw frame and
// memcpy of one image per conversion. The whole road is also compared with
// its limit in alternating batches (see bench_acquisition for why).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "acquisition_rig.h"
#include "bare_client.h"
#include "benchmark_loops.h"
#include "lvtwire/frame_format.h"
#include "summary_reporter.h"

namespace {

constexpr unsigned kId = 1;
constexpr unsigned kPid = 1;
constexpr size_t kHeaderBytes = lvtwire::kShortHeader.bytes;
constexpr size_t kImageBytes = lvtwire::kImageBytes;
constexpr size_t kFrameBytes = 2 * (kHeaderBytes + kImageBytes);

struct Road {
  Road()
      : camera(kId),
        processing(vyxbench::plugin(), kPid),
        bare(camera.address(), camera.camera->dataPort()),
        raw(camera.instance.rawSize()) {
    camera.instance.rawData(raw);
    description = camera.instance.description();
  }
  vyxbench::CameraRig camera;
  vyxhost::ProcessingInstance processing;
  vyxbench::BareClient bare;
  std::vector<uint8_t> raw;  // host memory for the frame, grown when a frame is larger
  VYXDataDescription description{};
  std::vector<uint8_t> out = std::vector<uint8_t>(kImageBytes);
  std::vector<char> bareFrame = std::vector<char>(kFrameBytes);
  std::vector<char> bareCopy = std::vector<char>(kFrameBytes);
  const vyxhost::EntryPoints& api = vyxbench::plugin().api();

  bool update() { return api.vyxpUpdate(kId) == VYX_OK; }
  bool copyRaw() {
    size_t size = 0;
    if (api.vyxpGetRawDataSize(kId, &size) != VYX_OK) return false;
    if (size > raw.size()) raw.resize(size);
    return api.vyxpGetRawData(kId, raw.data()) == VYX_OK;
  }
  bool describe() { return api.vyxpGetRawDataDescription(kId, &description) == VYX_OK; }
  bool convert(uint32_t type) {
    VYXDataDescription outDesc{};
    outDesc.type = type;
    outDesc.size = kImageBytes;
    void* output = out.data();
    void* input = raw.data();
    return api.vyxpProcess(kPid, 1, &outDesc, &output, 1, &description, &input) == VYX_OK;
  }

  // The limits: the same frame over a bare socket, and plain copies.
  bool bareFetch() {
    char* d = bareFrame.data();
    char* i = d + kHeaderBytes + kImageBytes;
    return bare.exchange('d', d, kHeaderBytes, d + kHeaderBytes, kImageBytes) &&
           bare.exchange('i', i, kHeaderBytes, i + kHeaderBytes, kImageBytes);
  }
  bool copyFrame() {
    std::memcpy(bareCopy.data(), bareFrame.data(), kFrameBytes);
    return true;
  }
  // The pixels of image `index` (0 or 1) of the frame, copied out.
  bool copyImage(int index) {
    const char* pixels = bareCopy.data() + index * (kHeaderBytes + kImageBytes) + kHeaderBytes;
    std::memcpy(out.data(), pixels, kImageBytes);
    return true;
  }
};

Road& road() {
  static Road r;
  return r;
}

template <typename Stage>
void runStage(benchmark::State& state, Stage stage) {
  Road& r = road();
  for (auto _ : state) {
    if (!stage(r)) {
      state.SkipWithError("a call on the road failed");
      break;
    }
    benchmark::ClobberMemory();
  }
}

void BM_Update(benchmark::State& s) {
  runStage(s, [](Road& r) { return r.update(); });
}
void BM_RawSizeAndCopy(benchmark::State& s) {
  runStage(s, [](Road& r) { return r.copyRaw(); });
}
void BM_Description(benchmark::State& s) {
  runStage(s, [](Road& r) { return r.describe(); });
}
void BM_Process10001(benchmark::State& s) {
  runStage(s, [](Road& r) { return r.convert(VYX_TYPE_10001); });
}
void BM_Process10002(benchmark::State& s) {
  runStage(s, [](Road& r) { return r.convert(VYX_TYPE_10002); });
}
void BM_WholeRoad(benchmark::State& s) {
  runStage(s, [](Road& r) {
    return r.update() && r.copyRaw() && r.describe() && r.convert(VYX_TYPE_10001) &&
           r.convert(VYX_TYPE_10002);
  });
}

void BM_LimitBareFrame(benchmark::State& s) {
  runStage(s, [](Road& r) { return r.bareFetch(); });
}
void BM_LimitFrameCopy(benchmark::State& s) {
  runStage(s, [](Road& r) { return r.copyFrame(); });
}
void BM_LimitImageCopy(benchmark::State& s) {
  runStage(s, [](Road& r) { return r.copyImage(1); });
}
void BM_LimitWholeRoad(benchmark::State& s) {
  runStage(s, [](Road& r) {
    return r.bareFetch() && r.copyFrame() && r.copyImage(0) && r.copyImage(1);
  });
}

// The whole road and its limit in alternating batches, so that both meet the
// same machine load: CPU seconds per frame of each, pair by pair.
constexpr int kBatch = 32;
struct Pair {
  vyxbench::PerFrame road, limit;
};
std::vector<Pair> g_pairs;

void BM_PairedWholeRoad(benchmark::State& state) {
  Road& r = road();
  const auto whole = [&r] {
    return r.update() && r.copyRaw() && r.describe() && r.convert(VYX_TYPE_10001) &&
           r.convert(VYX_TYPE_10002);
  };
  const auto limit = [&r] {
    return r.bareFetch() && r.copyFrame() && r.copyImage(0) && r.copyImage(1);
  };
  vyxbench::timePairs(state, kBatch, whole, &Pair::road, limit, &Pair::limit, g_pairs,
                      "a call on the road failed");
}

// Each stage of the road and the limit it is held against ("" for none: the
// description is a 128-byte record with no work to compare with).
struct Stage {
  const char* label;
  const char* benchmark;
  const char* limit;
};
const Stage kStages[] = {
    {"update", "BM_Update", "BM_LimitBareFrame"},
    {"raw size + copy", "BM_RawSizeAndCopy", "BM_LimitFrameCopy"},
    {"description", "BM_Description", ""},
    {"process 0x10001", "BM_Process10001", "BM_LimitImageCopy"},
    {"process 0x10002", "BM_Process10002", "BM_LimitImageCopy"},
};

#define ROAD_BENCHMARK(fn) \
  BENCHMARK(fn)->Unit(benchmark::kMicrosecond)->Apply(vyxbench::fiveRepetitions)
ROAD_BENCHMARK(BM_Update);
ROAD_BENCHMARK(BM_RawSizeAndCopy);
ROAD_BENCHMARK(BM_Description);
ROAD_BENCHMARK(BM_Process10001);
ROAD_BENCHMARK(BM_Process10002);
ROAD_BENCHMARK(BM_WholeRoad);
ROAD_BENCHMARK(BM_LimitBareFrame);
ROAD_BENCHMARK(BM_LimitFrameCopy);
ROAD_BENCHMARK(BM_LimitImageCopy);
ROAD_BENCHMARK(BM_LimitWholeRoad);
BENCHMARK(BM_PairedWholeRoad)->Apply(vyxbench::pairedRepetitions);

void printLine(const char* label, const vyxbench::Figures* f, const vyxbench::Figures* limit) {
  std::printf("  %-16s %9.3f us", label, f->cpuSeconds * 1e6);
  if (limit != nullptr)
    std::printf("   limit %9.3f us   ratio %6.3f", limit->cpuSeconds * 1e6,
                f->cpuSeconds / limit->cpuSeconds);
  std::printf("\n");
}

void printPaired() {
  if (g_pairs.empty()) return;
  std::vector<double> road, limit, ratio;
  for (const Pair& p : g_pairs) {
    road.push_back(p.road.cpu);
    limit.push_back(p.limit.cpu);
    ratio.push_back(p.road.cpu / p.limit.cpu);
  }
  std::printf(
      "paired batches: %zu pairs of %d frames; whole road %.3f us CPU per frame, limit %.3f us, "
      "ratio %.3f [%.3f..%.3f] (medians, quartiles in brackets)\n",
      g_pairs.size(), kBatch, vyxbench::quantile(road, 0.5) * 1e6,
      vyxbench::quantile(limit, 0.5) * 1e6, vyxbench::quantile(ratio, 0.5),
      vyxbench::quantile(ratio, 0.25), vyxbench::quantile(ratio, 0.75));
}

void printSummary(const vyxbench::SummaryReporter& report) {
  printPaired();
  for (const std::string& statistic : vyxbench::summaryStatistics()) {
    double sum = 0;
    bool complete = true, any = false;
    for (const Stage& stage : kStages) {
      const vyxbench::Figures* f = report.find(stage.benchmark, statistic);
      if (f == nullptr) {
        complete = false;
        continue;
      }
      if (!any)
        std::printf(
            "separate runs [%s], CPU per frame on the host thread (limit: same work done "
            "bare):\n",
            statistic.c_str());
      any = true;
      sum += f->cpuSeconds;
      printLine(stage.label, f, report.find(stage.limit, statistic));
    }
    if (complete) std::printf("  %-16s %9.3f us\n", "sum of stages", sum * 1e6);
    if (const vyxbench::Figures* whole = report.find("BM_WholeRoad", statistic))
      printLine("whole road", whole, report.find("BM_LimitWholeRoad", statistic));
  }
}

}  // namespace

int main(int argc, char** argv) { return vyxbench::runWithSummary(argc, argv, printSummary); }
