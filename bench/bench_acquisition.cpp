// Frames per second of vyxpUpdate through the host loader against a
// simulated camera, next to a bare POSIX socket client doing the same
// exchanges against the same camera in the same run: the physical limit of
// the loopback data port. Also the CPU time per frame of both clients (their
// own thread only) and the heap allocations of a steady update.
//
// The ratios come from paired batches: short batches of plug-in frames and
// bare frames alternate, so that both clients meet the same machine load; the
// median of the per-pair ratios is the figure, its quartiles are printed
// beside it.
// The separate runs of each client are in the table for reference.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "acquisition_rig.h"
#include "bare_client.h"
#include "benchmark_loops.h"
#include "counting_allocator.h"
#include "lvtwire/frame_format.h"
#include "summary_reporter.h"

namespace {

constexpr unsigned kId = 1;
constexpr unsigned kProbeId = 77;  // a processing handle for the allocation hook check
constexpr size_t kHeaderBytes = lvtwire::kShortHeader.bytes;
constexpr size_t kImageBytes = lvtwire::kImageBytes;
constexpr int kBatch = 32;  // frames per client before the other takes over
constexpr int kSteadyUpdates = 2000;

// One camera for both clients: the plug-in instance and the bare client each
// hold their own data connection to it.
struct Rig {
  Rig() : camera(kId), bare(camera.address(), camera.camera->dataPort()) {}
  vyxbench::CameraRig camera;
  vyxbench::BareClient bare;
  std::vector<char> bareFrame = std::vector<char>(2 * (kHeaderBytes + kImageBytes));

  bool pluginFrame() { return vyxbench::plugin()->vyxpUpdate(kId) == VYX_OK; }
  // The same two exchanges as one update: 'd', then 'i', each answered by a
  // 68-byte header and a 12800-byte image read with exact-length receives.
  bool bareSocketFrame() {
    char* d = bareFrame.data();
    char* i = d + kHeaderBytes + kImageBytes;
    return bare.exchange('d', d, kHeaderBytes, d + kHeaderBytes, kImageBytes) &&
           bare.exchange('i', i, kHeaderBytes, i + kHeaderBytes, kImageBytes);
  }
};

Rig& rig() {
  static Rig r;
  return r;
}

void BM_PluginUpdate(benchmark::State& state) {
  Rig& r = rig();
  vyxbench::timeEach(
      state, [&r] { return r.pluginFrame(); }, "vyxpUpdate failed");
}

void BM_BareSocket(benchmark::State& state) {
  Rig& r = rig();
  vyxbench::timeEach(
      state, [&r] { return r.bareSocketFrame(); }, "bare exchange failed");
}

// The two clients' batches that ran next to each other.
struct Pair {
  vyxbench::PerFrame plugin, bare;
};
std::vector<Pair> g_pairs;

void BM_PairedFrames(benchmark::State& state) {
  Rig& r = rig();
  const auto plugin = [&r] { return r.pluginFrame(); };
  const auto bare = [&r] { return r.bareSocketFrame(); };
  vyxbench::timePairs(state, kBatch, plugin, &Pair::plugin, bare, &Pair::bare, g_pairs,
                      "a frame failed");
}

// Heap allocations on this thread over many updates after the first frame,
// after checking that the hook sees the plug-in's allocations at all
// (opening a processing instance files a record).
void BM_SteadyStateAllocations(benchmark::State& state) {
  Rig& r = rig();
  const vyxhost::EntryPoints& api = vyxbench::plugin().api();
  uint64_t probe = 0, heap = 0, news = 0;
  bool failed = false;
  for (auto _ : state) {
    {
      vyxbench::AllocationCounter counter;
      failed = api.vyxpInitProcessingPlugin(kProbeId, "") != VYX_OK;
      probe = counter.heapAllocations();
    }
    api.vyxpDeinitPlugin(kProbeId);
    vyxbench::AllocationCounter counter;
    for (int n = 0; n < kSteadyUpdates && !failed; ++n) failed = !r.pluginFrame();
    heap = counter.heapAllocations();
    news = counter.newCalls();
  }
  if (failed) state.SkipWithError("a plug-in call failed");
  if (probe == 0) state.SkipWithError("the allocation hook does not see the plug-in");
  state.counters["probe allocs"] = static_cast<double>(probe);
  state.counters["allocs/update"] = static_cast<double>(heap) / kSteadyUpdates;
  state.counters["new/update"] = static_cast<double>(news) / kSteadyUpdates;
}

BENCHMARK(BM_PluginUpdate)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond)
    ->Apply(vyxbench::fiveRepetitions);
BENCHMARK(BM_BareSocket)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond)
    ->Apply(vyxbench::fiveRepetitions);
BENCHMARK(BM_PairedFrames)->Apply(vyxbench::pairedRepetitions);
BENCHMARK(BM_SteadyStateAllocations)->Iterations(1)->Unit(benchmark::kMillisecond);

const char* verdict(bool met) { return met ? "meets target" : "MISSES target"; }

using vyxbench::quantile;

void printPaired() {
  if (g_pairs.empty()) return;
  std::vector<double> pluginWall, bareWall, pluginCpu, bareCpu, rate, cpu;
  for (const Pair& p : g_pairs) {
    pluginWall.push_back(p.plugin.wall);
    bareWall.push_back(p.bare.wall);
    pluginCpu.push_back(p.plugin.cpu);
    bareCpu.push_back(p.bare.cpu);
    rate.push_back(p.bare.wall / p.plugin.wall);
    cpu.push_back(p.plugin.cpu / p.bare.cpu);
  }
  const double rateRatio = quantile(rate, 0.5), cpuRatio = quantile(cpu, 0.5);
  std::printf("paired batches: %zu pairs of %d frames per client; medians, quartiles in brackets\n",
              g_pairs.size(), kBatch);
  std::printf(
      "  frames/s: plug-in %.0f, bare socket %.0f, ratio %.3f [%.3f..%.3f] (target >= 0.98: "
      "%s)\n",
      1.0 / quantile(pluginWall, 0.5), 1.0 / quantile(bareWall, 0.5), rateRatio,
      quantile(rate, 0.25), quantile(rate, 0.75), verdict(rateRatio >= 0.98));
  std::printf(
      "  client-thread CPU per frame: plug-in %.2f us, bare socket %.2f us, ratio %.3f "
      "[%.3f..%.3f] (target <= 1.05: %s)\n",
      quantile(pluginCpu, 0.5) * 1e6, quantile(bareCpu, 0.5) * 1e6, cpuRatio, quantile(cpu, 0.25),
      quantile(cpu, 0.75), verdict(cpuRatio <= 1.05));
}

void printSeparate(const vyxbench::SummaryReporter& report) {
  for (const std::string& statistic : vyxbench::summaryStatistics()) {
    const vyxbench::Figures* plugin = report.find("BM_PluginUpdate", statistic);
    const vyxbench::Figures* bare = report.find("BM_BareSocket", statistic);
    if (plugin == nullptr || bare == nullptr) continue;
    std::printf(
        "separate runs [%s]: frames/s plug-in %.0f, bare socket %.0f (ratio %.3f); CPU per frame "
        "plug-in %.2f us, bare socket %.2f us (ratio %.3f)\n",
        statistic.c_str(), 1.0 / plugin->realSeconds, 1.0 / bare->realSeconds,
        bare->realSeconds / plugin->realSeconds, plugin->cpuSeconds * 1e6, bare->cpuSeconds * 1e6,
        plugin->cpuSeconds / bare->cpuSeconds);
  }
}

void printSummary(const vyxbench::SummaryReporter& report) {
  printPaired();
  printSeparate(report);
  if (const vyxbench::Figures* a = report.find("BM_SteadyStateAllocations", "run")) {
    std::printf(
        "steady state: %.3f heap allocations per vyxpUpdate over %d updates (goal 0; hook: %s, "
        "saw %.0f for opening a processing instance)\n",
        a->counter("allocs/update"), kSteadyUpdates,
        vyxbench::AllocationCounter::mallocWrapped() ? "malloc, calloc, realloc and new"
                                                     : "operator new only",
        a->counter("probe allocs"));
  }
}

}  // namespace

int main(int argc, char** argv) { return vyxbench::runWithSummary(argc, argv, printSummary); }
