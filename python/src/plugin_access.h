// One loaded plug-in shared by every camera, processing call and recording
// reader of the process, with the locking that makes calls from several
// Python threads safe.
//
// The plug-in keeps its open handles in process-wide registries without
// locks of its own. Calls that only look up their handle and then work on
// that handle's record (the frame update, reading the frame, its description,
// reading settings) may run at the same time for different handles; they
// take the registry lock shared. Calls that add or remove handles or may
// write the shared error record (opening, closing, settings that talk to the
// camera, commands) take it exclusively. The processing registry is separate
// and has its own lock. Each handle is used by one thread at a time (the
// camera's own lock), so records are never shared between threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "vyxhost/vyxhost.h"

namespace lvtcam {

// An entry point answered something other than VYX_OK.
struct CallFailure {
  std::string call;
  int code;
  std::string text;  // the plug-in's own text, may be empty
};

class PluginAccess {
 public:
  // The plug-in found as every tool finds it (explicit path, LVT_PLUGIN,
  // install location, build tree), loaded once per file for the process.
  static std::shared_ptr<PluginAccess> get(const std::string& explicitPath);

  // At interpreter exit, before threads are stopped: waits for the calls in
  // flight to end, then keeps every loaded plug-in locked, so that a thread
  // still grabbing waits outside the plug-in while its statics are torn down.
  // Closing and releasing then skip the plug-in. Call without the GIL.
  static void shutDownAll();
  bool isShutDown() const { return shutDown_.load(); }

  explicit PluginAccess(const std::string& path);
  ~PluginAccess();
  PluginAccess(const PluginAccess&) = delete;
  PluginAccess& operator=(const PluginAccess&) = delete;

  const vyxhost::EntryPoints& api() const { return plugin_.api(); }
  const std::string& path() const { return plugin_.path(); }

  // A handle no other instance of the process uses, for source and
  // processing instances alike (the plug-in closes by handle alone).
  static unsigned int newHandle();

  // Runs call(api) under the lock its kind needs; on a result other than
  // VYX_OK throws CallFailure with the text stored under textId, read before
  // the lock is given up.
  template <typename Call>
  void shared(const char* name, unsigned int textId, Call&& call) const {
    SharedLock lock(*this);
    check(call(api()), name, textId);
  }
  template <typename Call>
  void exclusive(const char* name, unsigned int textId, Call&& call) const {
    ExclusiveLock lock(*this);
    check(call(api()), name, textId);
  }
  // Returns the result code instead of throwing (closing reports, not fails).
  template <typename Call>
  int exclusiveCode(Call&& call) const {
    ExclusiveLock lock(*this);
    return call(api());
  }

  // The processing instance every conversion uses.
  unsigned int processingHandle() const { return processingId_; }
  // Output bytes the type needs from this frame, or -1 when it holds none.
  int canProcess(uint32_t outputType, const VYXDataDescription& raw) const;
  // Converts straight into out (outBytes of room) when the frame holds that
  // type in exactly outBytes; false, with out untouched, when it holds none.
  bool convert(uint32_t outputType, const VYXDataDescription& raw, const void* rawBytes, void* out,
               size_t outBytes) const;
  // Converts straight into out (outBytes of room).
  void process(uint32_t outputType, const VYXDataDescription& raw, const void* rawBytes, void* out,
               size_t outBytes) const;

  // Writers go first: a writer waiting at the gate stops new readers, so a
  // steady stream of frame updates cannot starve an open or a close.
  struct SharedLock {
    explicit SharedLock(const PluginAccess& a) : rw(a.registry_, std::defer_lock) {
      std::lock_guard<std::mutex> gate(a.gate_);
      rw.lock();
    }
    std::shared_lock<std::shared_mutex> rw;
  };
  struct ExclusiveLock {
    explicit ExclusiveLock(const PluginAccess& a) : rw(a.registry_, std::defer_lock) {
      std::lock_guard<std::mutex> gate(a.gate_);
      rw.lock();
    }
    std::unique_lock<std::shared_mutex> rw;
  };

  // Throws CallFailure unless code is VYX_OK; call it while still holding
  // the lock the call was made under, so that the text is the call's own.
  void check(int code, const char* name, unsigned int textId) const;

 private:
  // The two processing calls, under the registry and processing locks the caller holds.
  int canProcessLocked(uint32_t outputType, const VYXDataDescription& raw) const;
  void processLocked(uint32_t outputType, const VYXDataDescription& raw, const void* rawBytes,
                     void* out, size_t outBytes) const;

  vyxhost::Plugin plugin_;
  mutable std::mutex gate_;
  mutable std::shared_mutex registry_;
  mutable std::mutex processing_;
  unsigned int processingId_ = 0;
  std::atomic<bool> shutDown_{false};
};

}  // namespace lvtcam
