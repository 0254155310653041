// What points cost: deprojection plus the default time-of-flight filters for one frame, against
// converting that frame's distance image through the loaded plug-in (VYX_TYPE_10001), which
// runs at about memcpy speed. The summary gives the ratio; the goal is at most 3.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <stdexcept>
#include <vector>

#include "lvtsim/scene.h"
#include "rawframe.h"
#include "summary_reporter.h"
#include "vyxhost/lens.h"
#include "vyxhost/tof_filters.h"
#include "vyxhost/vyxhost.h"

namespace {

constexpr unsigned kId = 1;

// The simulated scene's distance and amplitude images as one raw frame, converted once so the
// filters see real data: a sphere in front of a wall, flying pixels on its rim.
struct Fixture {
  Fixture() : plugin(VYX_PLUGIN_PATH), table(lvtsim::simulatedLens()) {
    const lvtsim::CameraConfig cfg;
    for (int type : {1, 2}) {
      const std::vector<uint8_t> image = lvtsim::renderImage(cfg, type, 0);
      std::vector<uint32_t> pixels(lvtwire::kPixelWords);
      for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = lvtwire::loadBE32(&image[4 * i]);
      frame.add(static_cast<float>(type), pixels);
    }
    if (plugin->vyxpInitProcessingPlugin(kId, "") != VYX_OK)
      throw std::runtime_error("cannot open a processing instance");
    distance = convert(VYX_TYPE_10001);
    amplitude = convert(VYX_TYPE_10002);
  }
  std::vector<float> convert(uint32_t type) {
    VYXDataDescription in = frame.description(), out{};
    out.type = type;
    out.size = lvtwire::kImageBytes;
    std::vector<float> image(lvtwire::kPixelWords);
    void* input = const_cast<uint8_t*>(frame.bytes().data());
    void* output = image.data();
    if (plugin->vyxpProcess(kId, 1, &out, &output, 1, &in, &input) != VYX_OK)
      throw std::runtime_error("conversion failed");
    return image;
  }
  vyxtest::RawFrame frame;
  vyxhost::Plugin plugin;
  vyxhost::RayTable table;
  std::vector<float> distance, amplitude;
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

void BM_ConvertDistance(benchmark::State& state) {
  Fixture& f = fixture();
  VYXDataDescription in = f.frame.description(), out{};
  std::vector<float> image(lvtwire::kPixelWords);
  void* input = const_cast<uint8_t*>(f.frame.bytes().data());
  void* output = image.data();
  for (auto _ : state) {
    out.type = VYX_TYPE_10001;
    out.size = lvtwire::kImageBytes;
    if (f.plugin->vyxpProcess(kId, 1, &out, &output, 1, &in, &input) != VYX_OK) {
      state.SkipWithError("vyxpProcess failed");
      break;
    }
    benchmark::ClobberMemory();
  }
}

void BM_PointsWithDefaultFilters(benchmark::State& state) {
  Fixture& f = fixture();
  vyxhost::TofFilter filter(vyxhost::FilterSettings{}, f.table.width(), f.table.height());
  std::vector<float> distance = f.distance;
  std::vector<uint8_t> valid(f.table.pixels());
  std::vector<float> xyz(3 * f.table.pixels());
  size_t kept = 0;
  for (auto _ : state) {
    kept = filter.apply(distance.data(), f.amplitude.data(), valid.data());
    vyxhost::deproject(f.table, distance.data(), xyz.data(), valid.data());
    benchmark::ClobberMemory();
  }
  state.counters["valid_pixels"] = static_cast<double>(kept);
}

// The two parts on their own, to see where the time goes.
void BM_Deproject(benchmark::State& state) {
  Fixture& f = fixture();
  std::vector<float> xyz(3 * f.table.pixels());
  for (auto _ : state) {
    vyxhost::deproject(f.table, f.distance.data(), xyz.data());
    benchmark::ClobberMemory();
  }
}

void BM_DefaultFilters(benchmark::State& state) {
  Fixture& f = fixture();
  vyxhost::TofFilter filter(vyxhost::FilterSettings{}, f.table.width(), f.table.height());
  std::vector<float> distance = f.distance;
  std::vector<uint8_t> valid(f.table.pixels());
  for (auto _ : state) {
    benchmark::DoNotOptimize(filter.apply(distance.data(), f.amplitude.data(), valid.data()));
    benchmark::ClobberMemory();
  }
}

BENCHMARK(BM_Deproject)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_DefaultFilters)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_ConvertDistance)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true)
    ->ComputeStatistics("min", vyxbench::fastest);
BENCHMARK(BM_PointsWithDefaultFilters)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true)
    ->ComputeStatistics("min", vyxbench::fastest);

void printSummary(const vyxbench::SummaryReporter& report) {
  for (const std::string& statistic : vyxbench::summaryStatistics()) {
    const vyxbench::Figures* convert = report.find("BM_ConvertDistance", statistic);
    const vyxbench::Figures* points = report.find("BM_PointsWithDefaultFilters", statistic);
    if (convert == nullptr || points == nullptr || convert->cpuSeconds <= 0.0) continue;
    std::printf(
        "[%s] conversion %.2f us, points + default filters %.2f us: ratio %.2f (goal <= 3)\n",
        statistic.c_str(), convert->cpuSeconds * 1e6, points->cpuSeconds * 1e6,
        points->cpuSeconds / convert->cpuSeconds);
  }
}

}  // namespace

int main(int argc, char** argv) { return vyxbench::runWithSummary(argc, argv, printSummary); }
