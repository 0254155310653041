// The console table as usual, plus what a closing summary needs: for every
// benchmark (by name, e.g. "BM_Scale/16") and statistic ("min", "median",
// or "run" for a single run) its real and CPU time per iteration in seconds
// and its counters. CPU time is that of the benchmark's own thread.
#ifndef VYX_BENCH_SUMMARY_REPORTER_H
#define VYX_BENCH_SUMMARY_REPORTER_H

#include <benchmark/benchmark.h>

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace vyxbench {

struct Figures {
  double realSeconds = 0;  // per iteration
  double cpuSeconds = 0;   // per iteration, benchmark thread only
  std::map<std::string, double> counters;
  double counter(const std::string& name) const;  // 0 when absent
};

class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override;
  // Null when that benchmark or statistic was not measured (filtered out, failed).
  const Figures* find(const std::string& name, const std::string& statistic) const;

 private:
  std::map<std::pair<std::string, std::string>, Figures> figures_;
};

// The fastest of the repetitions. Other work on a shared machine only ever
// adds time, so this is the steadiest figure; it is reported beside the median.
double fastest(const std::vector<double>& values);

// How the timed benchmarks repeat: five repetitions, aggregates only, the fastest beside them
// (`BENCHMARK(BM_X)->Apply(vyxbench::fiveRepetitions)`).
void fiveRepetitions(benchmark::internal::Benchmark* b);
// How the paired benchmarks repeat: 40 batches of each per repetition, 10 repetitions, aggregates
// only, in milliseconds.
void pairedRepetitions(benchmark::internal::Benchmark* b);

// The statistics a summary looks at, steadiest first.
const std::vector<std::string>& summaryStatistics();

// Runs the registered benchmarks with the summary reporter, then prints a
// "summary" block written by `summary`. Repetitions of different benchmarks
// are interleaved at random unless the command line says otherwise, so that
// a change of machine load hits the figures that are compared alike.
int runWithSummary(int argc, char** argv,
                   const std::function<void(const SummaryReporter&)>& summary);

}  // namespace vyxbench

#endif
