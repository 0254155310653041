// Many cameras open at once, each its own simulator on its own loopback
// address, updated round-robin through one loaded plug-in: frames per second
// per camera and in total for 1, 4 and 16 of them, and how the total holds up
// from 1 camera (the limit measured in the same run) to 16. Bare socket
// clients, one per camera with a frame buffer each, do the same round-robin
// beside it: they show how much of the change comes from the system itself
// (more sockets, threads and buffers in play) rather than from the plug-in.
//
// The figures come from paired batches: the same number of frames taken
// from the first camera, from the first 4 and from all 16, by the plug-in and
// bare, in turn, so that all meet the same machine load; the median of the
// per-batch figures is reported, with quartiles for the ratios. Separate
// runs of each size are in the table for reference.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "acquisition_rig.h"
#include "bare_client.h"
#include "lvtwire/frame_format.h"
#include "paired_batches.h"
#include "summary_reporter.h"

namespace {

constexpr int kMaxCameras = 16;
constexpr int kCounts[] = {1, 4, 16};
constexpr unsigned kFirstId = 1;
constexpr size_t kHeaderBytes = lvtwire::kShortHeader.bytes;
constexpr size_t kImageBytes = lvtwire::kImageBytes;
constexpr int kBatchFrames = 32;  // frames per size and client in one paired batch

struct BareCamera {
  BareCamera(const vyxbench::CameraRig& rig)
      : client(rig.address(), rig.camera->dataPort()), frame(2 * (kHeaderBytes + kImageBytes)) {}
  vyxbench::BareClient client;
  std::vector<char> frame;

  bool fetch() {
    char* d = frame.data();
    char* i = d + kHeaderBytes + kImageBytes;
    return client.exchange('d', d, kHeaderBytes, d + kHeaderBytes, kImageBytes) &&
           client.exchange('i', i, kHeaderBytes, i + kHeaderBytes, kImageBytes);
  }
};

// Sixteen cameras open under handles kFirstId.. , each with a bare client
// too; a size of n uses the first n.
struct Fleet {
  Fleet() {
    for (int k = 0; k < kMaxCameras; ++k) {
      rigs.push_back(std::make_unique<vyxbench::CameraRig>(kFirstId + static_cast<unsigned>(k)));
      bare.push_back(std::make_unique<BareCamera>(*rigs.back()));
    }
  }
  std::vector<std::unique_ptr<vyxbench::CameraRig>> rigs;
  std::vector<std::unique_ptr<BareCamera>> bare;

  // A frame from camera k (0-based) through the plug-in.
  static bool pluginFrame(int k) {
    return vyxbench::plugin()->vyxpUpdate(kFirstId + static_cast<unsigned>(k)) == VYX_OK;
  }
};

Fleet& fleet() {
  static Fleet f;
  return f;
}

// One iteration is one round: each of the first `count` cameras delivers a frame.
void BM_RoundRobin(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  fleet();  // opened before the clock runs
  for (auto _ : state) {
    bool ok = true;
    for (int k = 0; k < count && ok; ++k) ok = Fleet::pluginFrame(k);
    if (!ok) {
      state.SkipWithError("vyxpUpdate failed");
      return;
    }
  }
}

// Seconds per frame in one batch, by client (plug-in: true) and camera count.
using vyxbench::PerFrame;
using Key = std::pair<bool, int>;
std::vector<std::map<Key, PerFrame>> g_batches;

void BM_PairedSizes(benchmark::State& state) {
  const Fleet& f = fleet();
  std::vector<Key> order;
  for (bool plugin : {true, false})
    for (int count : kCounts) order.push_back({plugin, count});
  for (auto _ : state) {
    std::map<Key, PerFrame> batch;
    for (const Key& key : order) {
      // One frame per call, round-robin from the first camera on.
      int next = 0;
      const auto frame = [&] {
        const int k = next;
        next = (next + 1) % key.second;
        return key.first ? f.pluginFrame(k) : f.bare[static_cast<size_t>(k)]->fetch();
      };
      if (!vyxbench::timeFrames(kBatchFrames, frame, batch[key])) {
        state.SkipWithError("a frame failed");
        return;
      }
    }
    g_batches.push_back(batch);
    // Rotate which one goes first, so none always follows another.
    std::rotate(order.begin(), order.begin() + 1, order.end());
  }
}

BENCHMARK(BM_RoundRobin)
    ->Arg(1)
    ->Arg(4)
    ->Arg(16)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond)
    ->Apply(vyxbench::fiveRepetitions);
BENCHMARK(BM_PairedSizes)->Apply(vyxbench::pairedRepetitions);

using vyxbench::quantile;

template <typename F>
std::vector<double> collect(F f) {
  std::vector<double> v;
  v.reserve(g_batches.size());
  for (const auto& b : g_batches) v.push_back(f(b));
  return v;
}

void printRatio(const char* what, const std::vector<double>& ratio, const char* target) {
  std::printf("  %s: %.3f [%.3f..%.3f]%s\n", what, quantile(ratio, 0.5), quantile(ratio, 0.25),
              quantile(ratio, 0.75), target);
}

void printPaired() {
  if (g_batches.empty()) return;
  std::printf("paired batches: %zu batches of %d frames per size and client; medians\n",
              g_batches.size(), kBatchFrames);
  for (bool plugin : {true, false}) {
    for (int count : kCounts) {
      const Key key{plugin, count};
      const double total =
          1.0 / quantile(collect([&](const auto& b) { return b.at(key).wall; }), 0.5);
      const double cpu = quantile(collect([&](const auto& b) { return b.at(key).cpu; }), 0.5);
      std::printf(
          "  %-11s %2d cameras: %7.0f frames/s per camera, %7.0f frames/s total, %6.2f us "
          "client CPU per frame\n",
          plugin ? "plug-in" : "bare socket", count, total / count, total, cpu * 1e6);
    }
  }
  const auto wallRatio = [](Key a, Key b) {
    return collect([=](const auto& m) { return m.at(b).wall / m.at(a).wall; });
  };
  const std::vector<double> plugin = wallRatio({true, 16}, {true, 1});
  const double r = quantile(plugin, 0.5);
  printRatio("plug-in total 16 cameras / 1 camera", plugin,
             r >= 0.9 ? " (target >= 0.9: meets target)" : " (target >= 0.9: MISSES target)");
  printRatio("bare socket total 16 cameras / 1 camera", wallRatio({false, 16}, {false, 1}), "");
  printRatio("plug-in / bare socket, 16 cameras", wallRatio({true, 16}, {false, 16}), "");
}

void printSeparate(const vyxbench::SummaryReporter& report) {
  for (const std::string& statistic : vyxbench::summaryStatistics()) {
    std::map<int, double> total;
    for (int count : kCounts) {
      const vyxbench::Figures* f = report.find("BM_RoundRobin/" + std::to_string(count), statistic);
      if (f != nullptr) total[count] = count / f->realSeconds;  // a round is `count` frames
    }
    if (total.empty()) continue;
    std::printf("separate runs [%s], plug-in frames/s total:", statistic.c_str());
    for (const auto& t : total) std::printf(" %d cameras %.0f;", t.first, t.second);
    if (total.count(1) != 0 && total.count(16) != 0)
      std::printf(" 16/1 ratio %.3f", total[16] / total[1]);
    std::printf("\n");
  }
}

void printSummary(const vyxbench::SummaryReporter& report) {
  printPaired();
  printSeparate(report);
}

}  // namespace

int main(int argc, char** argv) { return vyxbench::runWithSummary(argc, argv, printSummary); }
