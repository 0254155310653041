// Wall time and the CPU time of the calling thread alone. The simulated
// cameras run in the same process, so process CPU time would charge their
// work to the client too; it is kept beside, for work spread over threads.
#ifndef VYX_BENCH_CLOCKS_H
#define VYX_BENCH_CLOCKS_H

#include <time.h>

namespace vyxbench {

inline double secondsOf(clockid_t clock) {
  timespec ts{};
  ::clock_gettime(clock, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Both clocks at one moment of the calling thread.
struct Stamp {
  double wall = secondsOf(CLOCK_MONOTONIC);
  double cpu = secondsOf(CLOCK_THREAD_CPUTIME_ID);
  double processCpu = secondsOf(CLOCK_PROCESS_CPUTIME_ID);
};

}  // namespace vyxbench

#endif
