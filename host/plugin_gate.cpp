#include "vyxhost/plugin_gate.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>

namespace vyxhost {

namespace {

// Never destroyed: threads may still wait here while the process ends.
struct Gate {
  std::mutex entry;  // taken briefly by everyone; held by a writer while it waits
  std::shared_mutex registry;
  std::atomic<int> inFlight{0};
};

Gate& gate() {
  static Gate* const g = new Gate;
  return *g;
}

// At exit: with no call inside the plug-in, the gate is taken for good so that none starts while
// the plug-in is torn down, and the process ends as usual. With a call still inside (a closing
// that waits for a silent camera), the plug-in must not be torn down under it: the process ends
// at once with its status, its output flushed.
void atExit(int status, void* /*unused*/) {
  Gate& g = gate();
  if (g.entry.try_lock()) {
    if (g.registry.try_lock()) return;  // both held until the process is gone
    g.entry.unlock();
  }
  ::fflush(nullptr);
  ::_exit(status);
}

void watchExit() {
  static const bool registered = ::on_exit(atExit, nullptr) == 0;
  (void)registered;
}

}  // namespace

unsigned int newHandle() {
  // Handle 0 is the plug-in's error slot; the numbers start well away from the ones a user's
  // own host may pick by hand.
  static std::atomic<unsigned int> next{1000};
  return next.fetch_add(1);
}

template <typename Lock>
PluginGate::Pass<Lock>::Pass() : lock_(gate().registry, std::defer_lock) {
  watchExit();
  {
    const std::lock_guard<std::mutex> entry(gate().entry);
    lock_.lock();
  }
  ++gate().inFlight;
}

template <typename Lock>
PluginGate::Pass<Lock>::~Pass() {
  --gate().inFlight;
}

template class PluginGate::Pass<std::shared_lock<std::shared_mutex>>;
template class PluginGate::Pass<std::unique_lock<std::shared_mutex>>;

std::mutex& PluginGate::openings() {
  static std::mutex* const m = new std::mutex;
  return *m;
}

int PluginGate::callsInFlight() { return gate().inFlight.load(); }

}  // namespace vyxhost
