// The loops of the benchmarks' bodies: a fetch per iteration, or paired batches in turn.
#ifndef VYX_BENCH_BENCHMARK_LOOPS_H
#define VYX_BENCH_BENCHMARK_LOOPS_H

#include <benchmark/benchmark.h>

#include <vector>

#include "paired_batches.h"

namespace vyxbench {

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

}  // namespace vyxbench

#endif
