// How fast vyxpProcess turns a raw frame into a float image, measured
// through the host loader, against memcpy of the same 12800 bytes in the
// same run. Prints the throughput ratio after the table.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "rawframe.h"
#include "vyxhost/vyxhost.h"

namespace {

constexpr unsigned kId = 1;

// A 50003 frame as one update delivers it: images of type 1 and 2, 25736
// bytes. The conversion takes the second image, so its search steps once.
struct Fixture {
  Fixture() : plugin(VYX_PLUGIN_PATH), out(vyxtest::kImageBytes) {
    frame.add(1, 1).add(2, 2);
    if (frame.bytes().size() != 25736) throw std::runtime_error("unexpected frame size");
    if (plugin->vyxpInitProcessingPlugin(kId, "") != VYX_OK)
      throw std::runtime_error("cannot open a processing instance");
  }
  vyxtest::RawFrame frame;
  vyxhost::Plugin plugin;
  std::vector<uint8_t> out;
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

void BM_Conversion(benchmark::State& state) {
  Fixture& f = fixture();
  VYXDataDescription in = f.frame.description();
  VYXDataDescription outDesc{};
  void* input = const_cast<uint8_t*>(f.frame.bytes().data());
  void* output = f.out.data();
  for (auto _ : state) {
    outDesc.type = VYX_TYPE_10002;
    outDesc.size = vyxtest::kImageBytes;
    const int code = f.plugin->vyxpProcess(kId, 1, &outDesc, &output, 1, &in, &input);
    if (code != VYX_OK) {
      state.SkipWithError("vyxpProcess failed");
      break;
    }
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * vyxtest::kImageBytes);
}

void BM_Memcpy(benchmark::State& state) {
  Fixture& f = fixture();
  // The same source bytes the conversion reads: the second image's pixels.
  const uint8_t* src =
      f.frame.bytes().data() + 4 * (2 * vyxtest::kShortHeaderWords + vyxtest::kPixelWords);
  uint8_t* dst = f.out.data();
  for (auto _ : state) {
    benchmark::DoNotOptimize(src);
    benchmark::DoNotOptimize(dst);
    std::memcpy(dst, src, vyxtest::kImageBytes);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * vyxtest::kImageBytes);
}

// The machine is shared: other work only ever adds time, so the fastest of
// several repetitions is the steadiest figure, reported beside the median.
// The ratio is taken from CPU time, which time slices lost to other
// processes do not inflate.
double fastest(const std::vector<double>& times) {
  return *std::min_element(times.begin(), times.end());
}

BENCHMARK(BM_Conversion)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true)
    ->ComputeStatistics("min", fastest);
BENCHMARK(BM_Memcpy)->Repetitions(9)->ReportAggregatesOnly(true)->ComputeStatistics("min", fastest);

// The console table as usual, remembering each benchmark's time per frame
// for every statistic over repetitions ("min", "median", ...), or as "run"
// when there is a single run.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.error_occurred) continue;
      const std::string statistic = r.run_type == Run::RT_Aggregate ? r.aggregate_name : "run";
      times_[{r.run_name.function_name, statistic}] = r.GetAdjustedCPUTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }

  // Time of `name` for `statistic`, 0 when it was not measured.
  double timeOf(const std::string& name, const std::string& statistic) const {
    const auto it = times_.find({name, statistic});
    return it == times_.end() ? 0.0 : it->second;
  }

 private:
  std::map<std::pair<std::string, std::string>, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  // Equal bytes per frame, so the throughput ratio is the inverse time ratio.
  bool printed = false;
  for (const char* statistic : {"min", "median", "run"}) {
    const double conversion = reporter.timeOf("BM_Conversion", statistic);
    const double copy = reporter.timeOf("BM_Memcpy", statistic);
    if (conversion <= 0.0 || copy <= 0.0) continue;
    std::printf("conversion/memcpy throughput ratio: %.3f%s%s%s\n", copy / conversion,
                printed ? " (" : "", printed ? statistic : "", printed ? ")" : "");
    printed = true;
  }
  benchmark::Shutdown();
  return 0;
}
