#include "placement.h"

#include <sched.h>

#include <cstdlib>
#include <cstring>

namespace vyxbench {
namespace {

struct Layout {
  bool pinned = false;
  int clientCpu = -1, simulatorCpu = -1;

  Layout() {
    const char* off = std::getenv("VYX_BENCH_NO_PIN");
    if (off != nullptr && std::strcmp(off, "0") != 0) return;
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (::sched_getaffinity(0, sizeof allowed, &allowed) != 0) return;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
      if (!CPU_ISSET(cpu, &allowed)) continue;
      if (clientCpu < 0) {
        clientCpu = simulatorCpu = cpu;
      } else {
        simulatorCpu = cpu;
        break;
      }
    }
    pinned = clientCpu >= 0;
  }
};

const Layout& layout() {
  static const Layout l;
  return l;
}

void pinTo(int cpu) {
  if (!layout().pinned) return;
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  ::sched_setaffinity(0, sizeof set, &set);
}

}  // namespace

void pinToSimulatorCpu() { pinTo(layout().simulatorCpu); }
void pinToClientCpu() { pinTo(layout().clientCpu); }

std::string placementText() {
  const Layout& l = layout();
  if (!l.pinned) return "threads placed by the scheduler";
  return "simulator threads on CPU " + std::to_string(l.simulatorCpu) +
         ", benchmark thread on CPU " + std::to_string(l.clientCpu);
}

}  // namespace vyxbench
