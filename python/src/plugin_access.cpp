#include "plugin_access.h"

#include <atomic>
#include <climits>
#include <cstdlib>
#include <map>

#include "vyxhost/locate.h"

namespace lvtcam {

namespace {

// Every plug-in object loaded, by real path. Never destroyed: threads may
// still be about when static destructors run at exit.
struct Loaded {
  std::mutex mutex;
  std::map<std::string, std::weak_ptr<PluginAccess>> byPath;
  bool shutDown = false;
};
Loaded& loaded() {
  static auto* all = new Loaded;
  return *all;
}

}  // namespace

std::shared_ptr<PluginAccess> PluginAccess::get(const std::string& explicitPath) {
  const std::string path = vyxhost::findPlugin(explicitPath);
  // One PluginAccess per object file: dlopen shares the object's registries
  // between every load of the same file, so the locks must be shared as well.
  char resolved[PATH_MAX];
  const std::string key = ::realpath(path.c_str(), resolved) != nullptr ? resolved : path;
  Loaded& all = loaded();
  std::lock_guard<std::mutex> lock(all.mutex);
  if (all.shutDown) throw vyxhost::LoadError("the interpreter is shutting down");
  std::shared_ptr<PluginAccess> access = all.byPath[key].lock();
  if (!access) {
    access = std::make_shared<PluginAccess>(path);
    all.byPath[key] = access;
  }
  return access;
}

void PluginAccess::shutDownAll() {
  Loaded& all = loaded();
  std::lock_guard<std::mutex> lock(all.mutex);
  all.shutDown = true;
  for (auto& entry : all.byPath) {
    std::shared_ptr<PluginAccess> access = entry.second.lock();
    if (!access || access->shutDown_) continue;
    new ExclusiveLock(*access);  // held until the process ends
    access->shutDown_ = true;
  }
}

unsigned int PluginAccess::newHandle() {
  static std::atomic<unsigned int> next{1};  // 0 is the plug-in's error slot
  return next++;
}

PluginAccess::PluginAccess(const std::string& path) : plugin_(path) {
  const unsigned int id = newHandle();
  SharedLock registry(*this);
  std::lock_guard<std::mutex> lock(processing_);
  check(api().vyxpInitProcessingPlugin(id, ""), "vyxpInitProcessingPlugin", 0);
  processingId_ = id;
}

PluginAccess::~PluginAccess() {
  if (shutDown_) return;  // locked for good; the plug-in goes with the process
  SharedLock registry(*this);
  std::lock_guard<std::mutex> lock(processing_);
  api().vyxpDeinitPlugin(processingId_);
}

void PluginAccess::check(int code, const char* name, unsigned int textId) const {
  if (code != VYX_OK) throw CallFailure{name, code, plugin_.lastError(textId)};
}

int PluginAccess::canProcessLocked(uint32_t outputType, const VYXDataDescription& raw) const {
  int bytes = -1;
  VYXDataDescription in = raw;
  check(api().vyxpCanProcess(processingId_, &bytes, outputType, 1, &in), "vyxpCanProcess",
        processingId_);
  return bytes;
}

void PluginAccess::processLocked(uint32_t outputType, const VYXDataDescription& raw,
                                 const void* rawBytes, void* out, size_t outBytes) const {
  VYXDataDescription in = raw;
  VYXDataDescription result{};
  result.type = outputType;
  result.size = static_cast<uint32_t>(outBytes);
  void* input = const_cast<void*>(rawBytes);
  check(api().vyxpProcess(processingId_, 1, &result, &out, 1, &in, &input), "vyxpProcess",
        processingId_);
}

int PluginAccess::canProcess(uint32_t outputType, const VYXDataDescription& raw) const {
  SharedLock registry(*this);
  std::lock_guard<std::mutex> lock(processing_);
  return canProcessLocked(outputType, raw);
}

bool PluginAccess::convert(uint32_t outputType, const VYXDataDescription& raw, const void* rawBytes,
                           void* out, size_t outBytes) const {
  SharedLock registry(*this);
  std::lock_guard<std::mutex> lock(processing_);
  const int bytes = canProcessLocked(outputType, raw);
  if (bytes < 0 || static_cast<size_t>(bytes) != outBytes) return false;
  processLocked(outputType, raw, rawBytes, out, outBytes);
  return true;
}

void PluginAccess::process(uint32_t outputType, const VYXDataDescription& raw, const void* rawBytes,
                           void* out, size_t outBytes) const {
  SharedLock registry(*this);
  std::lock_guard<std::mutex> lock(processing_);
  processLocked(outputType, raw, rawBytes, out, outBytes);
}

}  // namespace lvtcam
