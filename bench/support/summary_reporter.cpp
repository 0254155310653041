#include "summary_reporter.h"

#include <algorithm>
#include <cstdio>

#include "placement.h"

namespace vyxbench {

double Figures::counter(const std::string& name) const {
  const auto it = counters.find(name);
  return it == counters.end() ? 0.0 : it->second;
}

void SummaryReporter::ReportRuns(const std::vector<Run>& runs) {
  for (const Run& r : runs) {
    if (r.error_occurred) continue;
    std::string name = r.run_name.function_name;
    if (!r.run_name.args.empty()) name += "/" + r.run_name.args;
    const std::string statistic = r.run_type == Run::RT_Aggregate ? r.aggregate_name : "run";
    // Aggregates such as the coefficient of variation carry no time.
    if (r.run_type == Run::RT_Aggregate && r.aggregate_unit != benchmark::kTime) continue;
    const double perSecond = benchmark::GetTimeUnitMultiplier(r.time_unit);
    Figures f;
    f.realSeconds = r.GetAdjustedRealTime() / perSecond;
    f.cpuSeconds = r.GetAdjustedCPUTime() / perSecond;
    for (const auto& c : r.counters) f.counters[c.first] = c.second.value;
    figures_[{name, statistic}] = f;
  }
  ConsoleReporter::ReportRuns(runs);
}

const Figures* SummaryReporter::find(const std::string& name, const std::string& statistic) const {
  const auto it = figures_.find({name, statistic});
  return it == figures_.end() ? nullptr : &it->second;
}

double fastest(const std::vector<double>& values) {
  return values.empty() ? 0.0 : *std::min_element(values.begin(), values.end());
}

const std::vector<std::string>& summaryStatistics() {
  static const std::vector<std::string> statistics{"min", "median", "run"};
  return statistics;
}

int runWithSummary(int argc, char** argv,
                   const std::function<void(const SummaryReporter&)>& summary) {
  // Defaults first: flags given on the command line come later and win.
  std::vector<char*> args(argv, argv + argc);
  static char interleave[] = "--benchmark_enable_random_interleaving=true";
  args.insert(args.begin() + (argc > 0 ? 1 : 0), interleave);
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\n--- summary (%s) ---\n", placementText().c_str());
  summary(reporter);
  std::fflush(stdout);
  benchmark::Shutdown();
  return 0;
}

void fiveRepetitions(benchmark::internal::Benchmark* b) {
  b->Repetitions(5)->ReportAggregatesOnly(true)->ComputeStatistics("min", fastest);
}

void pairedRepetitions(benchmark::internal::Benchmark* b) {
  b->UseRealTime()
      ->Unit(benchmark::kMillisecond)
      ->Iterations(40)
      ->Repetitions(10)
      ->ReportAggregatesOnly(true);
}

}  // namespace vyxbench
