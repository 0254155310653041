#include "vyxhost/camera.h"

#include <arpa/inet.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <thread>

#include "background_close.h"
#include "lvtwire/frame_blocks.h"
#include "vyxhost/locate.h"
#include "vyxhost/plugin_gate.h"

namespace vyxhost {

namespace {

using Clock = std::chrono::steady_clock;

// A failed call that waited at least this long was a wait that ran out, not a refusal.
constexpr double kStallSeconds = 1.0;
// How long close() waits for an answering camera before leaving the closing to the background.
constexpr auto kCloseWait = std::chrono::seconds(1);

double since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

std::string seconds(double s) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", s);
  return text;
}

int64_t nanos(std::chrono::nanoseconds d) { return static_cast<int64_t>(d.count()); }

// Dotted numbers must be an IPv4 address; anything else must look like a host name.
bool plausibleAddress(const std::string& a) {
  if (a.empty() || a.size() > 253) return false;
  const bool dotted = std::all_of(a.begin(), a.end(), [](char c) {
    return std::isdigit(static_cast<unsigned char>(c)) || c == '.';
  });
  if (dotted) {
    in_addr out{};
    return ::inet_pton(AF_INET, a.c_str(), &out) == 1;
  }
  return std::all_of(a.begin(), a.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == ':';
  });
}

// The text the plug-in stored under id, read in the same gate as the failed call.
std::string textOf(const Plugin& p, unsigned int id) { return p.lastError(id); }

struct PluginCache {
  std::mutex mutex;
  std::map<std::string, std::weak_ptr<const Plugin>> loaded;
};

PluginCache& pluginCache() {
  static PluginCache* const cache = new PluginCache;  // never destroyed: used until the end
  return *cache;
}

}  // namespace

// In the order of the enumerations.
const char* stateName(CameraState state) {
  static const char* const names[] = {"streaming", "stalled", "lost", "reconnecting", "closed"};
  const auto i = static_cast<size_t>(state);
  return i < std::size(names) ? names[i] : "unknown";
}

const char* failureName(FailureKind kind) {
  static const char* const names[] = {"stalled", "lost", "refused", "invalid address", "failed"};
  const auto i = static_cast<size_t>(kind);
  return i < std::size(names) ? names[i] : "failed";
}

CameraError::CameraError(FailureKind kind, const std::string& call, int code, std::string text,
                         const std::string& context, double waitedSeconds)
    : CallError(call, code, std::move(text), context),
      kind_(kind),
      call_(call),
      waited_(waitedSeconds) {}

unsigned Frame::integrationTime(unsigned idx) const {
  if (idx > 1) return 0;
  return static_cast<unsigned>(std::max(0, description.std.integrationTime[idx]));
}

std::shared_ptr<const Plugin> sharedPlugin(const std::string& path) {
  PluginCache& cache = pluginCache();
  const std::lock_guard<std::mutex> lock(cache.mutex);
  std::shared_ptr<const Plugin> plugin = cache.loaded[path].lock();
  if (!plugin) {
    plugin = std::make_shared<const Plugin>(path);
    cache.loaded[path] = plugin;
  }
  return plugin;
}

// ---------------------------------------------------------------------------------------------
// FrameConverter

FrameConverter::FrameConverter(std::shared_ptr<const Plugin> plugin)
    : plugin_(std::move(plugin)), id_(newHandle()) {
  const PluginGate::Shared gate;
  const std::lock_guard<std::mutex> opening(PluginGate::openings());
  plugin_->check(plugin_->api().vyxpInitProcessingPlugin(id_, ""), "vyxpInitProcessingPlugin", 0);
}

// A processing instance holds nothing to release; the plug-in keeps the handle registered and
// the allocator never hands it out again.
FrameConverter::~FrameConverter() = default;

int FrameConverter::imageBytes(uint32_t outputType, const VYXDataDescription& raw) const {
  const std::lock_guard<std::mutex> lock(mutex_);
  const PluginGate::Shared gate;
  int bytes = -1;
  VYXDataDescription in = raw;
  const int code = plugin_->api().vyxpCanProcess(id_, &bytes, outputType, 1, &in);
  if (code != VYX_OK)
    throw CameraError(FailureKind::Refused, "vyxpCanProcess", code, textOf(*plugin_, id_), "");
  return bytes;
}

bool FrameConverter::convert(uint32_t outputType, const VYXDataDescription& raw,
                             const void* rawBytes, void* out, size_t outBytes,
                             ImageShape* shape) const {
  const std::lock_guard<std::mutex> lock(mutex_);
  const PluginGate::Shared gate;
  const EntryPoints& api = plugin_->api();
  VYXDataDescription in = raw;
  int bytes = -1;
  int code = api.vyxpCanProcess(id_, &bytes, outputType, 1, &in);
  if (code != VYX_OK)
    throw CameraError(FailureKind::Refused, "vyxpCanProcess", code, textOf(*plugin_, id_), "");
  if (bytes <= 0 || static_cast<size_t>(bytes) > outBytes) return false;
  VYXDataDescription result{};
  result.type = outputType;
  result.size = static_cast<uint32_t>(outBytes);
  void* input = const_cast<void*>(rawBytes);
  code = api.vyxpProcess(id_, 1, &result, &out, 1, &in, &input);
  if (code != VYX_OK)
    throw CameraError(FailureKind::Refused, "vyxpProcess", code, textOf(*plugin_, id_), "");
  if (shape != nullptr) *shape = {result.std.numRows, result.std.numColumns};
  return true;
}

// ---------------------------------------------------------------------------------------------
// Camera

struct Camera::Impl {
  CameraOptions options;
  std::shared_ptr<const Plugin> plugin;
  std::unique_ptr<FrameConverter> converter;

  std::mutex use;                      // grabbing and settings: one caller at a time
  std::atomic<int> waitingForTurn{0};  // callers other than grab() waiting for `use`

  // `use` for anything but a grab, announced so that a grab loop lets it in first.
  class Turn {
   public:
    explicit Turn(Impl& m) : m_(m) {
      ++m_.waitingForTurn;
      m_.use.lock();
      --m_.waitingForTurn;
    }
    ~Turn() { m_.use.unlock(); }
    Turn(const Turn&) = delete;
    Turn& operator=(const Turn&) = delete;

   private:
    Impl& m_;
  };

  mutable std::mutex mutex;  // everything below
  std::condition_variable watchWake;
  unsigned int source = 0;  // the open instance's handle; 0 when none
  unsigned int lost = 0;    // an instance whose camera went, still to be closed
  CameraState state = CameraState::Closed;
  Counters counters;
  AcceptedSettings accepted;
  unsigned fps = 0;         // as last read back, for the stall watch
  unsigned highestFps = 0;  // the highest rate the camera showed it takes; 0 = not known yet
  uint64_t sequence = 0;
  bool inUpdate = false;
  Clock::time_point lastFrameAt{};
  Clock::time_point nextAttempt{};
  bool closing = false;   // close() asked while a grab was under way
  std::string closeNote;  // what the last close() left to the background
  // Instances whose closing the plug-in refused (their camera was gone, so it could not be
  // told): still open, closed again at the next attempt to reopen and at close(). Shared with
  // the closing threads, which may finish after the session.
  struct Unclosed {
    std::mutex mutex;
    std::vector<unsigned int> ids;
  };
  std::shared_ptr<Unclosed> unclosed = std::make_shared<Unclosed>();
  bool watchStop = false;

  void setState(CameraState s, const std::string& why) {
    std::function<void(CameraState, const std::string&)> tell;
    {
      const std::lock_guard<std::mutex> lock(mutex);
      if (state == s) return;
      state = s;
      tell = options.onState;
    }
    watchWake.notify_all();
    if (tell) tell(s, why);
  }

  CameraError failure(const char* call, int code, unsigned int textId, FailureKind kind,
                      const std::string& context, double waited = 0) const {
    return CameraError(kind, call, code, textOf(*plugin, textId), context, waited);
  }

  // Opens a new instance; throws CameraError.
  unsigned int open() {
    const std::string& a = options.address;
    if (!plausibleAddress(a)) {
      throw CameraError(
          FailureKind::InvalidAddress, "vyxpInitRawDataPlugin", VYX_INVALID_VALUE, "",
          "\"" + a +
              "\" is not a camera address (an IPv4 address such as 192.168.0.69 or a host name)");
    }
    const unsigned int id = newHandle();
    const Clock::time_point start = Clock::now();
    int code = VYX_OK;
    std::string text;
    {
      const PluginGate::Shared gate;
      const std::lock_guard<std::mutex> opening(PluginGate::openings());
      code = plugin->api().vyxpInitRawDataPlugin(id, a.c_str());
      if (code != VYX_OK) text = textOf(*plugin, 0);  // a failed opening leaves its text under 0
    }
    if (code != VYX_OK) {
      const double waited = since(start);
      const std::string where = a + " port " + std::to_string(kControlPort);
      if (waited >= kStallSeconds)
        throw CameraError(FailureKind::Stalled, "vyxpInitRawDataPlugin", code, text,
                          "no answer from the camera at " + where + " within " + seconds(waited),
                          waited);
      throw CameraError(FailureKind::Lost, "vyxpInitRawDataPlugin", code, text,
                        "camera control at " + where + ", failed after " + seconds(waited), waited);
    }
    return id;
  }

  std::string infoOf(unsigned int id, const std::string& key) const {
    char answer[256] = {};
    const PluginGate::Shared gate;
    const int code = plugin->api().vyxpGetInfo(id, answer, sizeof answer, key.c_str());
    if (code != VYX_OK) throw failure("vyxpGetInfo", code, id, FailureKind::Other, "");
    return answer;
  }

  unsigned readFps(unsigned int id) const {
    const std::string text = infoOf(id, "FPS");
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    return end != text.c_str() && v > 0 ? static_cast<unsigned>(v) : 0;
  }

  std::string commandOn(unsigned int id, const std::string& text, int* codeOut) const {
    char answer[256] = {};
    const PluginGate::Shared gate;
    const int code = plugin->api().vyxpPlatformCommand(id, answer, sizeof answer, text.c_str());
    *codeOut = code;
    if (code != VYX_OK) {
      // Some refusals answer in the buffer rather than in the stored text.
      const std::string stored = textOf(*plugin, id);
      return stored.empty() ? answer : stored;
    }
    return answer;
  }

  unsigned int requireOpen() const {
    const std::lock_guard<std::mutex> lock(mutex);
    if (source == 0) {
      const char* why =
          state == CameraState::Closed ? "is closed" : "is not connected (it was lost)";
      throw CameraError(FailureKind::Lost, "vyxhost::Camera", VYX_INVALID_HANDLE, "",
                        "the camera at " + options.address + " " + why);
    }
    return source;
  }

  ValueRange itimeRange(unsigned int id, unsigned idx) const {
    ValueRange r;
    const PluginGate::Shared gate;
    const EntryPoints& api = plugin->api();
    int code = api.vyxpGetValidIntegrationTime(id, &r.min, idx, AtLeast, 0);
    if (code == VYX_OK) code = api.vyxpGetValidIntegrationTime(id, &r.max, idx, AtMost, UINT_MAX);
    if (code != VYX_OK)
      throw failure("vyxpGetValidIntegrationTime", code, id, FailureKind::Refused, "");
    return r;
  }

  void setItime(unsigned int id, unsigned idx, unsigned us) {
    const ValueRange r = itimeRange(id, idx);
    if (!r.contains(us)) {
      throw CameraError(FailureKind::Refused, "vyxpSetIntegrationTime", VYX_INVALID_VALUE, "",
                        "integration time " + std::to_string(idx) + " of " + std::to_string(us) +
                            " us is outside the camera's range " + std::to_string(r.min) + " to " +
                            std::to_string(r.max) + " us; the camera keeps its setting");
    }
    int code = VYX_OK;
    {
      const PluginGate::Shared gate;
      code = plugin->api().vyxpSetIntegrationTime(id, idx, us);
      if (code != VYX_OK)
        throw failure("vyxpSetIntegrationTime", code, id, FailureKind::Refused, "");
    }
    const std::lock_guard<std::mutex> lock(mutex);
    (idx == 0 ? accepted.itime0 : accepted.itime1) = us;
  }

  void setFps(unsigned int id, unsigned fpsWanted) {
    unsigned highest = 0;
    {
      const std::lock_guard<std::mutex> lock(mutex);
      highest = highestFps;
    }
    if (fpsWanted < 1 || (highest != 0 && fpsWanted > highest)) {
      throw CameraError(FailureKind::Refused, "vyxpPlatformCommand", VYX_INVALID_VALUE, "",
                        "a frame rate of " + std::to_string(fpsWanted) +
                            " frames/s is outside the camera's range 1 to " +
                            (highest != 0 ? std::to_string(highest) : std::string("its limit")) +
                            " frames/s; the camera keeps its rate");
    }
    const unsigned before = readFps(id);
    int code = VYX_OK;
    const std::string answer = commandOn(id, "SetFPS " + std::to_string(fpsWanted), &code);
    if (code == VYX_OK) {
      const std::lock_guard<std::mutex> lock(mutex);
      accepted.fps = fpsWanted;
      fps = fpsWanted;
      return;
    }
    // The camera answered another rate: that is its limit. Put the old rate back, so that a
    // refused value leaves the camera as it was.
    const unsigned took = readFps(id);
    std::string context;
    if (took != 0 && took != fpsWanted) {
      {
        const std::lock_guard<std::mutex> lock(mutex);
        if (took < fpsWanted) highestFps = took;
      }
      context =
          "the camera took " + std::to_string(took) + " frames/s, not " + std::to_string(fpsWanted);
      if (before != 0 && took != before) {
        int restoreCode = VYX_OK;
        commandOn(id, "SetFPS " + std::to_string(before), &restoreCode);
        context += restoreCode == VYX_OK
                       ? "; the rate is back at " + std::to_string(before) + " frames/s"
                       : "; putting back " + std::to_string(before) + " frames/s failed too";
      }
    }
    {
      const std::lock_guard<std::mutex> lock(mutex);
      fps = readFpsNoThrow(id);
    }
    throw CameraError(FailureKind::Refused, "vyxpPlatformCommand", code, answer, context);
  }

  unsigned readFpsNoThrow(unsigned int id) const {
    try {
      return readFps(id);
    } catch (const CallError&) {
      return 0;
    }
  }

  // Applies every accepted setting again, each on its own.
  void reapply(unsigned int id, const AcceptedSettings& s, std::vector<std::string>* failed) {
    auto attempt = [&](const char* what, auto&& body) {
      try {
        body();
      } catch (const CallError& e) {
        if (failed != nullptr) failed->push_back(std::string(what) + ": " + e.what());
      }
    };
    if (s.itime0) attempt("itime0", [&] { setItime(id, 0, *s.itime0); });
    if (s.itime1) attempt("itime1", [&] { setItime(id, 1, *s.itime1); });
    if (s.fps) attempt("fps", [&] { setFps(id, *s.fps); });
  }

  // The watch holds the session alive until it has seen watchStop.
  static void startWatch(const std::shared_ptr<Impl>& self) {
    if (!self->options.onState) return;
    std::thread([self] { self->watchLoop(); }).detach();
  }

  // Notices a grab that has waited three frame periods.
  void watchLoop() {
    std::unique_lock<std::mutex> lock(mutex);
    while (!watchStop) {
      if (state != CameraState::Streaming || !inUpdate || fps == 0) {
        watchWake.wait_for(lock, std::chrono::milliseconds(200));
        continue;
      }
      const auto limit =
          std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(3.0 / fps));
      const Clock::time_point deadline = lastFrameAt + limit;
      if (Clock::now() < deadline) {
        watchWake.wait_until(lock, deadline);
        continue;
      }
      ++counters.stalls;
      const double waited = since(lastFrameAt);
      lock.unlock();
      setState(CameraState::Stalled, "no frame for " + seconds(waited));
      lock.lock();
    }
  }

  void stopWatch() {
    {
      const std::lock_guard<std::mutex> lock(mutex);
      watchStop = true;
    }
    watchWake.notify_all();
  }

  // Hands an instance to the background closer and waits up to `wait` for it. Returns whether
  // it is closed.
  bool closeInstance(unsigned int id, std::chrono::milliseconds wait) {
    if (id == 0) return true;
    return closeInBackground(plugin, id, options.address, wait,
                             [list = unclosed](unsigned int failed) {
                               const std::lock_guard<std::mutex> lock(list->mutex);
                               list->ids.push_back(failed);
                             });
  }

  // The instances whose closing failed before, handed to the closer once more.
  void closeUnclosed() {
    std::vector<unsigned int> ids;
    {
      const std::lock_guard<std::mutex> lock(unclosed->mutex);
      ids.swap(unclosed->ids);
    }
    for (const unsigned int id : ids) closeInstance(id, std::chrono::milliseconds(0));
  }
};

Camera::Camera(CameraOptions options) : impl_(std::make_shared<Impl>()) {
  Impl& m = *impl_;
  m.options = std::move(options);
  if (!m.options.lens) m.options.lens = nominalLens();
  m.plugin = sharedPlugin(findPlugin(m.options.pluginPath));
  m.converter = std::make_unique<FrameConverter>(m.plugin);
  const unsigned int id = m.open();
  m.source = id;
  m.fps = m.readFpsNoThrow(id);
  m.lastFrameAt = Clock::now();
  m.state = CameraState::Streaming;
  Impl::startWatch(impl_);
}

Camera::~Camera() { close(); }

const std::string& Camera::address() const { return impl_->options.address; }
const Plugin& Camera::plugin() const { return *impl_->plugin; }
const FrameConverter& Camera::converter() const { return *impl_->converter; }
const LensModel& Camera::lens() const { return *impl_->options.lens; }

CameraState Camera::state() const {
  const std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->state;
}

Counters Camera::counters() const {
  Counters c;
  {
    const std::lock_guard<std::mutex> lock(impl_->mutex);
    c = impl_->counters;
  }
  if (impl_->options.requestsReceived) {
    const std::optional<uint64_t> requests = impl_->options.requestsReceived();
    if (requests) c.retriedImages = *requests > c.imageBlocks ? *requests - c.imageBlocks : 0;
  }
  return c;
}

AcceptedSettings Camera::accepted() const {
  const std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->accepted;
}

void Camera::grab(Frame& frame) {
  Impl& m = *impl_;
  // A setting or a reconnect waiting for its turn goes first: a grab loop that takes the lock
  // again at once would otherwise keep it out for many frames (the mutex is not fair).
  while (m.waitingForTurn.load() > 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
  std::unique_lock<std::mutex> use(m.use);
  const unsigned int id = m.requireOpen();
  const Clock::time_point asked = Clock::now();
  {
    const std::lock_guard<std::mutex> lock(m.mutex);
    m.inUpdate = true;
  }
  m.watchWake.notify_all();
  int code = VYX_OK;
  const char* call = "vyxpUpdate";
  std::string text;
  {
    const PluginGate::Shared gate;
    const EntryPoints& api = m.plugin->api();
    code = api.vyxpUpdate(id);
    if (code == VYX_OK) {
      const auto utc = std::chrono::system_clock::now().time_since_epoch();
      const Clock::time_point now = Clock::now();
      frame.utcNs = nanos(utc);
      frame.monotonicNs = nanos(now.time_since_epoch());
      frame.latencySeconds = std::chrono::duration<double>(now - asked).count();
      size_t size = 0;
      code = api.vyxpGetRawDataSize(id, &size);
      call = "vyxpGetRawDataSize";
      if (code == VYX_OK) {
        frame.raw.resize(size);
        code = size == 0 ? VYX_OK : api.vyxpGetRawData(id, frame.raw.data());
        call = "vyxpGetRawData";
      }
      if (code == VYX_OK) {
        code = api.vyxpGetRawDataDescription(id, &frame.description);
        call = "vyxpGetRawDataDescription";
      }
    }
    if (code != VYX_OK) text = textOf(*m.plugin, id);
  }
  const double waited = since(asked);
  bool closeNow = false;
  {
    const std::lock_guard<std::mutex> lock(m.mutex);
    m.inUpdate = false;
    closeNow = m.closing;
    if (code == VYX_OK) {
      frame.sequence = m.sequence++;
      ++m.counters.frames;
      m.counters.imageBlocks += lvtwire::imageBlockCount(frame.raw);
      m.counters.lastLatencySeconds = frame.latencySeconds;
      m.lastFrameAt = Clock::now();
    } else if (!closeNow) {
      ++m.counters.losses;
      m.lost = m.source;
      m.source = 0;
      m.nextAttempt = Clock::now() + m.options.reconnectInterval;
    }
  }
  if (closeNow) {
    use.unlock();
    close();
    if (code != VYX_OK)
      throw CameraError(FailureKind::Lost, call, code, text, "the camera was closed");
    return;
  }
  if (code == VYX_OK) {
    m.setState(CameraState::Streaming, "");
    return;
  }
  const std::string& a = m.options.address;
  if (waited >= kStallSeconds) {
    const std::string why =
        "the camera at " + a + " stopped answering: no image for " + seconds(waited);
    m.setState(CameraState::Lost, why);
    throw CameraError(FailureKind::Stalled, call, code, text, why, waited);
  }
  const std::string why =
      "the connection to the camera at " + a + " was lost after " + seconds(waited);
  m.setState(CameraState::Lost, why);
  throw CameraError(FailureKind::Lost, call, code, text, why, waited);
}

bool Camera::reconnect(std::vector<std::string>* failedSettings) {
  Impl& m = *impl_;
  const Impl::Turn use(m);
  unsigned int lost = 0;
  AcceptedSettings settings;
  {
    const std::lock_guard<std::mutex> lock(m.mutex);
    if (m.source != 0) return true;
    if (m.state == CameraState::Closed) return false;
    if (Clock::now() < m.nextAttempt) return false;
    m.nextAttempt = Clock::now() + m.options.reconnectInterval;
    lost = m.lost;
    m.lost = 0;
    settings = m.accepted;
  }
  // The lost instance is closed once, in the background: a camera that is gone cannot answer.
  // One whose closing failed before (its camera was gone) is tried again.
  m.closeUnclosed();
  m.closeInstance(lost, std::chrono::milliseconds(0));
  m.setState(CameraState::Reconnecting, "reopening the camera at " + m.options.address);
  unsigned int id = 0;
  try {
    id = m.open();
  } catch (const CameraError& e) {
    m.setState(CameraState::Lost, e.what());
    return false;
  }
  m.reapply(id, settings, failedSettings);
  {
    const std::lock_guard<std::mutex> lock(m.mutex);
    m.source = id;
    m.fps = m.readFpsNoThrow(id);
    m.lastFrameAt = Clock::now();
    ++m.counters.reconnects;
  }
  m.setState(CameraState::Streaming, "streaming again from the camera at " + m.options.address);
  return true;
}

Clock::time_point Camera::nextAttempt() const {
  const std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->nextAttempt;
}

int Camera::imageBytes(uint32_t outputType, const Frame& frame) const {
  return impl_->converter->imageBytes(outputType, frame.description);
}

bool Camera::convert(uint32_t outputType, const Frame& frame, void* out, size_t outBytes,
                     ImageShape* shape) const {
  return impl_->converter->convert(outputType, frame.description, frame.raw.data(), out, outBytes,
                                   shape);
}

ValueRange Camera::integrationTimeRange(unsigned idx) {
  const Impl::Turn use(*impl_);
  return impl_->itimeRange(impl_->requireOpen(), idx);
}

unsigned Camera::integrationTime(unsigned idx) {
  Impl& m = *impl_;
  const Impl::Turn use(m);
  const unsigned int id = m.requireOpen();
  unsigned us = 0;
  const PluginGate::Shared gate;
  const int code = m.plugin->api().vyxpGetIntegrationTime(id, &us, idx);
  if (code != VYX_OK) throw m.failure("vyxpGetIntegrationTime", code, id, FailureKind::Refused, "");
  return us;
}

void Camera::setIntegrationTime(unsigned idx, unsigned microseconds) {
  const Impl::Turn use(*impl_);
  impl_->setItime(impl_->requireOpen(), idx, microseconds);
}

ValueRange Camera::frameRateRange() const {
  const std::lock_guard<std::mutex> lock(impl_->mutex);
  return {1, impl_->highestFps != 0 ? impl_->highestFps : static_cast<unsigned>(INT32_MAX)};
}

unsigned Camera::frameRate() {
  const Impl::Turn use(*impl_);
  return impl_->readFps(impl_->requireOpen());
}

void Camera::setFrameRate(unsigned fps) {
  const Impl::Turn use(*impl_);
  impl_->setFps(impl_->requireOpen(), fps);
}

unsigned Camera::modulationFrequency() {
  Impl& m = *impl_;
  const Impl::Turn use(m);
  const unsigned int id = m.requireOpen();
  unsigned hz = 0;
  const PluginGate::Shared gate;
  const int code = m.plugin->api().vyxpGetModulationFrequency(id, &hz, 0);
  if (code != VYX_OK)
    throw m.failure("vyxpGetModulationFrequency", code, id, FailureKind::Refused, "");
  return hz;
}

void Camera::setModulationFrequency(unsigned hz) {
  Impl& m = *impl_;
  const Impl::Turn use(m);
  const unsigned int id = m.requireOpen();
  const PluginGate::Shared gate;
  const int code = m.plugin->api().vyxpSetModulationFrequency(id, 0, hz);
  if (code != VYX_OK)
    throw m.failure("vyxpSetModulationFrequency", code, id, FailureKind::Refused, "");
}

std::string Camera::info(const std::string& key) {
  const Impl::Turn use(*impl_);
  return impl_->infoOf(impl_->requireOpen(), key);
}

std::string Camera::command(const std::string& text) {
  Impl& m = *impl_;
  const Impl::Turn use(m);
  const unsigned int id = m.requireOpen();
  int code = VYX_OK;
  std::string answer = m.commandOn(id, text, &code);
  if (code != VYX_OK)
    throw CameraError(FailureKind::Refused, "vyxpPlatformCommand", code, answer, "");
  return answer;
}

void Camera::close() {
  Impl& m = *impl_;
  std::unique_lock<std::mutex> use(m.use, std::defer_lock);
  while (!use.try_lock()) {
    {
      const std::lock_guard<std::mutex> lock(m.mutex);
      if (m.inUpdate) {
        // A grab is waiting for the camera on another thread: it closes when that wait ends,
        // which the plug-in bounds.
        m.closing = true;
        m.watchStop = true;
        m.closeNote = "a grab still waits for the camera at " + m.options.address +
                      "; the camera is closed when that wait ends, within the plug-in's bound";
        return;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  unsigned int source = 0, lost = 0;
  bool answering = false;
  {
    const std::lock_guard<std::mutex> lock(m.mutex);
    if (m.state == CameraState::Closed && m.source == 0 && m.lost == 0) return;
    source = m.source;
    lost = m.lost;
    answering = m.state == CameraState::Streaming;
    m.source = 0;
    m.lost = 0;
  }
  m.stopWatch();
  m.closeUnclosed();
  const bool lostClosed = m.closeInstance(lost, std::chrono::milliseconds(0));
  const bool sourceClosed = m.closeInstance(
      source, answering ? std::chrono::duration_cast<std::chrono::milliseconds>(kCloseWait)
                        : std::chrono::milliseconds(0));
  {
    const std::lock_guard<std::mutex> lock(m.mutex);
    m.closeNote = lostClosed && sourceClosed
                      ? std::string()
                      : "the camera at " + m.options.address +
                            " no longer answered; it is closed in the background, within the "
                            "plug-in's bound, and nothing waits for it";
  }
  m.setState(CameraState::Closed, "closed");
}

std::string Camera::closeNote() const {
  const std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->closeNote;
}

}  // namespace vyxhost
