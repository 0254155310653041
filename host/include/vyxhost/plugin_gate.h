// The process-wide rules for calling the plug-in, shared by every door of a process (they all
// load this one library):
//   - handles: one allocator, never 0 (the plug-in's error slot), never reused;
//   - the gate: every call into the plug-in passes it. The plug-in guards its own registries, so
//     calls on different handles run side by side (a camera that keeps one call waiting ten
//     seconds holds up no other camera); the gate is taken shared for all of them. Exclusive
//     use waits until no call is inside the plug-in and keeps new ones out; a writer waiting at
//     the gate stops new readers, so steady grabbing cannot starve it. Openings are also one at
//     a time among themselves, so that a failed opening's text (kept under handle 0) is its own.
//   - the exit: a process that ends while a call is still inside the plug-in (a closing that
//     waits for a silent camera) must not tear the plug-in down under it; it then ends at once
//     without running the plug-in's destructors.
//
// Lock order: the gate is always the last lock taken and is never held while waiting for
// anything else (an interpreter lock, a page, a pipeline).
#ifndef VYXHOST_PLUGIN_GATE_H
#define VYXHOST_PLUGIN_GATE_H

#include <mutex>
#include <shared_mutex>

namespace vyxhost {

// A handle no other instance of the process uses.
unsigned int newHandle();

class PluginGate {
 public:
  // Passes the gate in the way Lock takes a shared_mutex; counted as a call in flight.
  template <typename Lock>
  class Pass {
   public:
    Pass();
    ~Pass();
    Pass(const Pass&) = delete;
    Pass& operator=(const Pass&) = delete;

   private:
    Lock lock_;
  };
  // For every call into the plug-in.
  using Shared = Pass<std::shared_lock<std::shared_mutex>>;
  // The plug-in to oneself: no other call is inside it meanwhile.
  using Exclusive = Pass<std::unique_lock<std::shared_mutex>>;
  // Held around an opening, inside the gate.
  static std::mutex& openings();
  // Calls inside the plug-in right now (any thread).
  static int callsInFlight();
};

}  // namespace vyxhost

#endif
