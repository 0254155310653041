// Timing of short batches of frames for paired comparisons: two ways of
// doing the same work run in alternating batches, so that both meet the same
// machine load, and the median of the per-pair figures is reported.
#ifndef VYX_BENCH_PAIRED_BATCHES_H
#define VYX_BENCH_PAIRED_BATCHES_H

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

// The value at fraction q (0 to 1) of the sorted values; v must not be empty.
inline double quantile(std::vector<double> v, double q) {
  std::sort(v.begin(), v.end());
  return v[static_cast<size_t>(std::lround(q * static_cast<double>(v.size() - 1)))];
}

}  // namespace vyxbench

#endif
