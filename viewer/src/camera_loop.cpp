#include "camera_loop.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <utility>
#include <vector>

#include "frame_encoding.h"
#include "frame_hub.h"
#include "vyxhost/locate.h"

namespace vyxview {

namespace {

using Clock = std::chrono::steady_clock;
using vyxhost::CameraError;
using vyxhost::CameraState;

constexpr auto kStatusEvery = std::chrono::milliseconds(500);
constexpr auto kPausedPoll = std::chrono::milliseconds(250);

nlohmann::json errorJson(const std::exception& e) {
  nlohmann::json j = {{"message", e.what()}};
  if (const auto* c = dynamic_cast<const CameraError*>(&e)) {
    j["code"] = c->code();
    j["name"] = vyxhost::resultName(c->code());
    j["text"] = c->text();
    j["kind"] = vyxhost::failureName(c->kind());
  }
  return j;
}

nlohmann::json settingsJson(const vyxrec::Settings& s) {
  auto one = [](const std::optional<int64_t>& v) {
    return v ? nlohmann::json(*v) : nlohmann::json(nullptr);
  };
  return {{"itime0", one(s.itime0)}, {"itime1", one(s.itime1)}, {"fps", one(s.fps)}};
}

void log(const std::string& line) { std::fprintf(stderr, "vyxview: %s\n", line.c_str()); }

// The message for a command-line value outside the camera's range.
std::string outside(const std::string& option, int64_t value, const vyxhost::ValueRange& r,
                    const char* unit) {
  return option + " " + std::to_string(value) + " is outside the camera's range " +
         std::to_string(r.min) + " to " + std::to_string(r.max) + " " + unit +
         "; nothing was written to the camera";
}

}  // namespace

CameraLoop::CameraLoop(CameraLoopConfig cfg, FrameHub& hub, Recorder& recorder)
    : cfg_(std::move(cfg)),
      hub_(hub),
      plugin_(vyxhost::sharedPlugin(vyxhost::findPlugin(cfg_.pluginPath))),
      status_(cfg_.address, cfg_.index, cfg_.cameraName),
      relay_(std::make_shared<StateRelay>()),
      recorder_(recorder),
      depth_(cfg_.lens ? *cfg_.lens : vyxhost::nominalLens(), cfg_.filters) {
  status_.setDepth(depth_.describe());
  relay_->loop = this;
  takeSnapshot();
}

CameraLoop::~CameraLoop() {
  stop();
  closeCamera();  // when the thread never ran
}

void CameraLoop::open(const vyxrec::Settings& initial) {
  pending_ = initial;
  if (!tryOpen()) {
    if (openFailure_ && openFailure_->kind() == vyxhost::FailureKind::InvalidAddress)
      throw vyxhost::CameraError(*openFailure_);  // a copy: the member stays for the page
    return;                                       // the camera thread tries again
  }
  // Every value is checked before the first is written, as the grabber does.
  const struct {
    const char* option;
    const std::optional<int64_t>& value;
    unsigned idx;
  } itimes[] = {{"--itime0", initial.itime0, 0}, {"--itime1", initial.itime1, 1}};
  for (const auto& t : itimes) {
    if (!t.value) continue;
    const vyxhost::ValueRange r = camera_->integrationTimeRange(t.idx);
    if (*t.value < 0 || !r.contains(static_cast<unsigned>(*t.value)))
      throw SettingsRefused(outside(t.option, *t.value, r, "us"));
  }
  const vyxhost::ValueRange fps = camera_->frameRateRange();
  if (initial.fps && (*initial.fps < 1 || !fps.contains(static_cast<unsigned>(*initial.fps))))
    throw SettingsRefused(outside("--fps", *initial.fps, fps, "frames/s"));
  pending_ = {};
  try {
    if (initial.itime0) camera_->setIntegrationTime(0, static_cast<unsigned>(*initial.itime0));
    if (initial.itime1) camera_->setIntegrationTime(1, static_cast<unsigned>(*initial.itime1));
    if (initial.fps) camera_->setFrameRate(static_cast<unsigned>(*initial.fps));
  } catch (const CameraError& e) {
    if (e.kind() != vyxhost::FailureKind::Refused) throw;
    throw SettingsRefused(e.what());
  }
  readSettings();
}

void CameraLoop::start() {
  thread_ = std::thread([this] { run(); });
}

void CameraLoop::stop() {
  queue_.stop();
  if (thread_.joinable()) thread_.join();
}

void CameraLoop::submit(CameraCommand command, Reply reply) {
  queue_.push(std::move(command), std::move(reply));
}

bool CameraLoop::stopping() { return queue_.stopping(); }

void CameraLoop::idle(std::chrono::milliseconds time) { queue_.waitUntil(Clock::now() + time); }

void CameraLoop::idleUntil(Clock::time_point t) {
  const Clock::time_point now = Clock::now();
  if (t > now) {
    idle(std::chrono::duration_cast<std::chrono::milliseconds>(t - now) +
         std::chrono::milliseconds(1));
  }
}

void CameraLoop::run() {
  while (!stopping()) {
    runCommands();
    if (!camera_) {
      if (Clock::now() >= nextOpen_) {
        if (tryOpen()) applyPending();
      } else {
        idleUntil(nextOpen_);
      }
    } else if (camera_->state() == CameraState::Lost) {
      reconnect();
    } else if (paused_) {
      idle(kPausedPoll);
    } else {
      grab();
    }
    if (Clock::now() - lastStatus_ >= kStatusEvery) publishStatus();
  }
  closeCamera();
}

void CameraLoop::closeCamera() {
  // Closes at once; a camera that stopped answering is closed in the background.
  camera_.reset();
  const std::lock_guard<std::mutex> lock(relay_->mutex);
  relay_->loop = nullptr;  // the session's watch may still report; nobody listens now
}

bool CameraLoop::tryOpen() {
  nextOpen_ = Clock::now() + cfg_.reconnectInterval;
  status_.setState("reconnecting", openFailure_ ? openFailure_->what() : "");
  publishStatus();
  vyxhost::CameraOptions o;
  o.address = cfg_.address;
  o.pluginPath = plugin_->path();
  o.reconnectInterval = cfg_.reconnectInterval;
  o.lens = cfg_.lens;
  o.onState = [relay = relay_](CameraState state, const std::string& why) {
    const std::lock_guard<std::mutex> lock(relay->mutex);
    if (relay->loop != nullptr) relay->loop->onState(state, why);
  };
  try {
    camera_ = std::make_unique<vyxhost::Camera>(std::move(o));
  } catch (const CameraError& e) {
    // An address that cannot name a camera ends the viewer at start, which says so.
    const bool invalid = e.kind() == vyxhost::FailureKind::InvalidAddress;
    if (!invalid && (!openFailure_ || openFailure_->what() != std::string(e.what())))
      log("cannot open the camera: " + std::string(e.what()));
    openFailure_ = e;
    status_.setState("lost", e.what(), vyxhost::failureName(e.kind()));
    publishStatus();
    return false;
  }
  openFailure_.reset();
  log("streaming from the camera " + cfg_.cameraName + " at " + cfg_.address);
  status_.setState("streaming", "");
  readSettings();
  publishStatus();
  return true;
}

// The command line's settings, when the camera was not there at start: each on its own, and
// one the camera refuses is reported and not asked for again.
void CameraLoop::applyPending() {
  std::vector<std::string> failed;
  auto attempt = [&](const char* what, const std::optional<int64_t>& v, auto&& set) {
    if (!v) return;
    try {
      set(static_cast<unsigned>(*v));
    } catch (const CameraError& e) {
      failed.push_back(std::string(what) + ": " + e.what());
    }
  };
  attempt("--itime0", pending_.itime0, [&](unsigned v) { camera_->setIntegrationTime(0, v); });
  attempt("--itime1", pending_.itime1, [&](unsigned v) { camera_->setIntegrationTime(1, v); });
  attempt("--fps", pending_.fps, [&](unsigned v) { camera_->setFrameRate(v); });
  pending_ = {};
  readSettings();
  if (failed.empty()) return;
  std::string problem = "settings refused:";
  for (const std::string& f : failed) problem += " " + f;
  log(problem);
  status_.setState("streaming", problem, vyxhost::failureName(vyxhost::FailureKind::Refused));
  publishStatus();
}

void CameraLoop::reconnect() {
  if (Clock::now() < camera_->nextAttempt()) {
    idleUntil(camera_->nextAttempt());
    return;
  }
  std::vector<std::string> failed;
  if (!camera_->reconnect(&failed)) return;  // the session told the page why
  log("streaming again from the camera " + cfg_.cameraName + " at " + cfg_.address);
  depth_.reset();
  readSettings();
  if (!failed.empty()) {
    std::string problem = "settings not restored:";
    for (const std::string& f : failed) problem += " " + f;
    log(problem);
    status_.setState("streaming", problem, vyxhost::failureName(vyxhost::FailureKind::Refused));
  }
  publishStatus();
}

void CameraLoop::onState(CameraState state, const std::string& why) {
  if (state == CameraState::Closed) return;  // the viewer is stopping; the page keeps the last
  const bool fine = state == CameraState::Streaming;
  if (state == CameraState::Lost) log("camera " + cfg_.cameraName + " lost: " + why);
  const char* kind = state == CameraState::Stalled
                         ? vyxhost::failureName(vyxhost::FailureKind::Stalled)
                     : fine ? ""
                            : vyxhost::failureName(vyxhost::FailureKind::Lost);
  status_.setState(vyxhost::stateName(state), fine ? "" : why, kind);
  sendStatus();
}

void CameraLoop::runCommands() {
  while (std::optional<CommandQueue::Pending> p = queue_.take()) {
    nlohmann::json answer = execute(p->command);
    answer["type"] = "reply";
    answer["id"] = p->command.id ? nlohmann::json(*p->command.id) : nlohmann::json(nullptr);
    if (p->reply) p->reply(std::move(answer));
    publishStatus();
  }
}

nlohmann::json CameraLoop::execute(const CameraCommand& c) {
  using Op = CameraCommand::Op;
  switch (c.op) {
    case Op::Pause:
    case Op::Resume:
      paused_ = c.op == Op::Pause;
      status_.setPaused(paused_);
      return {{"ok", true}};
    case Op::Record:  // the viewer records all its cameras at once (Rig)
      return {{"ok", false}, {"error", {{"message", "recording is the viewer's, not a camera's"}}}};
    case Op::Set:
      return set(c.name, c.value);
    case Op::Filters:
      return filters(c.filters);
    case Op::Step:
    case Op::Seek:
    case Op::Speed:
      return {{"ok", false},
              {"error", {{"message", "only a replay steps, seeks or changes speed"}}}};
    case Op::Drawn:  // the page's connection handles these
    case Op::View3d:
      return {{"ok", true}};
  }
  return {{"ok", true}};
}

nlohmann::json CameraLoop::filters(const nlohmann::json& fields) {
  try {
    depth_.setFilters(fields);
  } catch (const std::exception& e) {
    return {{"ok", false}, {"error", {{"message", e.what()}}}};
  }
  status_.setDepth(depth_.describe());
  takeSnapshot();
  return {{"ok", true}, {"filters", depth_.describe()["filters"]}};
}

void CameraLoop::failRecording(const std::string& reason) {
  log("recording stopped: " + reason);
  if (camera_) status_.setCounters(camera_->counters());
  recorder_.fail(reason);
}

nlohmann::json CameraLoop::set(const std::string& name, uint32_t value) {
  if (!camera_ || camera_->state() == CameraState::Lost) {
    return {{"ok", false},
            {"error", {{"message", "the camera is not connected; the setting was not sent"}}}};
  }
  nlohmann::json answer = {{"ok", true}};
  try {
    if (name == "fps") {
      camera_->setFrameRate(value);
    } else {
      camera_->setIntegrationTime(name == "itime0" ? 0 : 1, value);
    }
  } catch (const CameraError& e) {
    answer = {{"ok", false}, {"error", errorJson(e)}};
  }
  readSettings();
  answer["settings"] = settingsJson(readBack_);
  return answer;
}

void CameraLoop::readSettings() {
  readBack_ = {};
  SettingRanges ranges;
  if (camera_) {
    try {
      readBack_.itime0 = camera_->integrationTime(0);
      readBack_.itime1 = camera_->integrationTime(1);
      readBack_.fps = camera_->frameRate();
      ranges.itime0 = camera_->integrationTimeRange(0);
      ranges.itime1 = camera_->integrationTimeRange(1);
      ranges.fps = camera_->frameRateRange();
    } catch (const std::exception& e) {
      log(std::string("reading the settings back: ") + e.what());
    }
  }
  status_.setSettings(readBack_, ranges);
  takeSnapshot();
}

void CameraLoop::grab() {
  try {
    camera_->grab(frame_);
  } catch (const CameraError& e) {
    // The camera is lost now; the session said so, the failure says which way. A recording
    // ends here, closed properly and saying why.
    status_.setState(vyxhost::stateName(camera_->state()), e.what(),
                     vyxhost::failureName(e.kind()));
    status_.setCounters(camera_->counters());
    if (recorder_.active()) {
      if (cfg_.alone) {
        failRecording(std::string("camera lost: ") + e.what());
      } else {
        log("camera " + cfg_.cameraName + " lost while recording; the other cameras go on");
      }
    }
    publishStatus();
    return;
  }
  ++frames_;
  status_.frameArrived();
  status_.setCounters(camera_->counters());
  bool shown = false;
  try {
    shown = depth_.process(camera_->converter(), frame_);
  } catch (const std::exception& e) {
    // Once per kind of failure, not 30 times a second.
    if (convertError_ != e.what()) log(std::string("frames not shown: ") + e.what());
    convertError_ = e.what();
  }
  try {
    // A frame the page cannot show is still recorded raw (nothing when not recording).
    recorder_.add(cfg_.index, frame_, shown ? depth_.images() : vyxhost::DepthImages{});
  } catch (const std::exception& e) {
    failRecording(e.what());
  }
  if (shown) showFrame();
}

void CameraLoop::showFrame() {
  FrameHeader h;
  h.number = frames_ - 1;
  h.updateUnixMs = static_cast<double>(frame_.utcNs) / 1e6;
  h.itime0 = frame_.integrationTime(0);
  h.itime1 = frame_.integrationTime(1);
  hub_.publishFrame(std::make_shared<const std::string>(depth_.message(h, hub_.pointsWanted())));
}

void CameraLoop::publishStatus() {
  lastStatus_ = Clock::now();
  if (camera_) status_.setCounters(camera_->counters());
  sendStatus();
}

void CameraLoop::sendStatus() {
  status_.setRecording(recorder_.status());
  hub_.publishStatus(status_.message(hub_.clients()));
}

CameraLoop::Snapshot CameraLoop::snapshot() const {
  const std::lock_guard<std::mutex> lock(snapshotMutex_);
  return snapshot_;
}

void CameraLoop::takeSnapshot() {
  nlohmann::json manifest = nlohmann::json::parse(vyxrec::runInfoJson(runInfo()));
  manifest.update(depth_.describe());
  const std::lock_guard<std::mutex> lock(snapshotMutex_);
  snapshot_ = {std::move(manifest), depth_.lens()};
}

vyxrec::RunInfo CameraLoop::runInfo() const {
  vyxrec::RunInfo r;
  r.tool = "vyxview";
  r.toolVersion = VYXVIEW_VERSION;
  r.pluginPath = plugin_->path();
  r.interfaceVersion = static_cast<int>((*plugin_)->vyxpInterfaceVersion());
  r.address = cfg_.address;
  r.simulated = cfg_.simulated;
  r.replay = cfg_.replay;
  // Asked for and taken: a refused value is not what the recording was made with.
  if (camera_) {
    const vyxhost::AcceptedSettings a = camera_->accepted();
    if (a.itime0) r.requested.itime0 = *a.itime0;
    if (a.itime1) r.requested.itime1 = *a.itime1;
    if (a.fps) r.requested.fps = *a.fps;
  }
  r.readBack = readBack_;
  return r;
}

}  // namespace vyxview
