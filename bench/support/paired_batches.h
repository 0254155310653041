// Timing of short batches of frames for paired comparisons: two ways of
// doing the same work run in alternating batches, so that both meet the same
// machine load, and the median of the per-pair figures is reported.
#ifndef VYX_BENCH_PAIRED_BATCHES_H
#define VYX_BENCH_PAIRED_BATCHES_H

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "clocks.h"

namespace vyxbench {

// Seconds per frame of one batch.
struct PerFrame {
  double wall = 0;
  double cpu = 0;         // the calling thread's alone
  double processCpu = 0;  // every thread's, the simulated cameras' included
};

// The body of a plain benchmark: fetch() per iteration; stops it with `failure` when one fails.
template <typename Fetch>
void timeEach(benchmark::State& state, Fetch&& fetch, const char* failure) {
  for (auto _ : state) {
    if (!fetch()) {
      state.SkipWithError(failure);
      break;
    }
  }
}

// Runs fetch() `frames` times and stores the time per frame; false as soon
// as a fetch fails.
template <typename Fetch>
bool timeFrames(int frames, Fetch&& fetch, PerFrame& out) {
  const Stamp start;
  for (int n = 0; n < frames; ++n)
    if (!fetch()) return false;
  const Stamp end;
  out.wall = (end.wall - start.wall) / frames;
  out.cpu = (end.cpu - start.cpu) / frames;
  out.processCpu = (end.processCpu - start.processCpu) / frames;
  return true;
}

// A batch of each, a's first when aFirst: the caller alternates, so that neither always follows
// the other. False as soon as a fetch fails.
template <typename A, typename B>
bool timeInTurn(int frames, bool aFirst, A&& a, PerFrame& outA, B&& b, PerFrame& outB) {
  return aFirst ? timeFrames(frames, a, outA) && timeFrames(frames, b, outB)
                : timeFrames(frames, b, outB) && timeFrames(frames, a, outA);
}

// The body of a paired benchmark: per iteration a batch of each, in turn, into pairs (the fields
// aOut and bOut of a new Pair). Stops the benchmark with `failure` when a fetch fails.
template <typename Pair, typename A, typename B>
void timePairs(benchmark::State& state, int frames, A&& a, PerFrame Pair::*aOut, B&& b,
               PerFrame Pair::*bOut, std::vector<Pair>& pairs, const char* failure) {
  bool aFirst = true;
  for (auto _ : state) {
    Pair p;
    if (!timeInTurn(frames, aFirst, a, p.*aOut, b, p.*bOut)) {
      state.SkipWithError(failure);
      return;
    }
    pairs.push_back(p);
    aFirst = !aFirst;
  }
}

// The value at fraction q (0 to 1) of the sorted values; v must not be empty.
inline double quantile(std::vector<double> v, double q) {
  std::sort(v.begin(), v.end());
  return v[static_cast<size_t>(std::lround(q * static_cast<double>(v.size() - 1)))];
}

}  // namespace vyxbench

#endif
