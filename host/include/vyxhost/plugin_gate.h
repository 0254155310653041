// The process-wide rules for calling the plug-in, shared by every door of a process (they all
// load this one library):
//   - handles: one allocator, never 0 (the plug-in's error slot), never reused;
//   - the lock: the plug-in keeps its handles in registries without locks of its own. Calls
//     that add or remove handles (opening, closing, a processing instance) take the gate
//     exclusively; calls on an open handle take it shared, so different cameras grab side by
//     side. A writer waiting at the gate stops new readers, so steady grabbing cannot starve an
//     opening or a closing.
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
  // For calls on an open handle.
  class Shared {
   public:
    Shared();
    ~Shared();
    Shared(const Shared&) = delete;
    Shared& operator=(const Shared&) = delete;

   private:
    std::shared_lock<std::shared_mutex> lock_;
  };
  // For calls that change the registries.
  class Exclusive {
   public:
    Exclusive();
    ~Exclusive();
    Exclusive(const Exclusive&) = delete;
    Exclusive& operator=(const Exclusive&) = delete;

   private:
    std::unique_lock<std::shared_mutex> lock_;
  };
  // Calls inside the plug-in right now (any thread).
  static int callsInFlight();
};

}  // namespace vyxhost

#endif
