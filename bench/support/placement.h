// Where the benchmark's threads run. A simulated camera serves each data
// connection on a thread of its own, and whether the scheduler puts such a
// thread on the client's CPU or on another one changes the client's cost per
// frame by up to half (waking a thread on another CPU takes an
// inter-processor interrupt) and stays so for a whole run. Two clients
// served by two such threads would then not be compared alike. So the
// simulators' threads go to one CPU and the benchmark thread to another (all
// to one CPU when only one is allowed). VYX_BENCH_NO_PIN=1 leaves placement
// to the scheduler.
#ifndef VYX_BENCH_PLACEMENT_H
#define VYX_BENCH_PLACEMENT_H

#include <string>

namespace vyxbench {

// The calling thread to the simulators' CPU: threads it starts inherit it.
void pinToSimulatorCpu();
// The calling thread to the client's CPU.
void pinToClientCpu();
// One line saying how threads are placed.
std::string placementText();

}  // namespace vyxbench

#endif
