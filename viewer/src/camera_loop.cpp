#include "camera_loop.h"

#include <cstdio>
#include <exception>
#include <utility>

#include "frame_encoding.h"
#include "frame_hub.h"

namespace vyxview {

namespace {

using Clock = std::chrono::steady_clock;

// Handles of our instances; the two plug-ins keep separate registries.
constexpr unsigned int kSourceHandle = 1;
constexpr unsigned int kProcessingHandle = 1;
constexpr auto kStatusEvery = std::chrono::milliseconds(500);
constexpr auto kPausedPoll = std::chrono::milliseconds(250);
constexpr auto kRateWindow = std::chrono::seconds(2);

nlohmann::json optionalJson(const std::optional<int64_t>& v) {
  return v ? nlohmann::json(*v) : nlohmann::json(nullptr);
}

nlohmann::json callErrorJson(const vyxhost::CallError& e) {
  return {{"message", e.what()},
          {"code", e.code()},
          {"name", vyxhost::resultName(e.code())},
          {"text", e.text()}};
}

void log(const std::string& line) { std::fprintf(stderr, "vyxview: %s\n", line.c_str()); }

// One image of the frame as floats, or an empty vector when the frame has none.
std::vector<float> convert(const vyxhost::ProcessingInstance& processing, uint32_t type,
                           const VYXDataDescription& desc, const std::vector<uint8_t>& raw,
                           uint32_t& rows, uint32_t& columns) {
  const int bytes = processing.canProcess(type, desc);
  if (bytes <= 0) return {};
  std::vector<float> image(static_cast<size_t>(bytes) / sizeof(float));
  const VYXDataDescription out =
      processing.process(type, desc, raw.data(), image.data(), image.size() * sizeof(float));
  const size_t pixels = size_t{out.std.numRows} * out.std.numColumns;
  if (pixels == 0 || pixels > image.size()) return {};
  image.resize(pixels);
  rows = out.std.numRows;
  columns = out.std.numColumns;
  return image;
}

}  // namespace

CameraLoop::CameraLoop(const vyxhost::Plugin& plugin, CameraLoopConfig cfg, FrameHub& hub)
    : plugin_(plugin),
      cfg_(std::move(cfg)),
      hub_(hub),
      requested_(cfg_.initial),
      recorder_(cfg_.recordRoot) {}

CameraLoop::~CameraLoop() { stop(); }

void CameraLoop::start() {
  thread_ = std::thread([this] { run(); });
}

void CameraLoop::stop() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void CameraLoop::submit(CameraCommand command, Reply reply) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    commands_.push_back({std::move(command), std::move(reply)});
  }
  wake_.notify_all();
}

bool CameraLoop::idle(std::chrono::milliseconds time) {
  std::unique_lock<std::mutex> lock(mutex_);
  wake_.wait_for(lock, time, [this] { return stopping_ || !commands_.empty(); });
  return !stopping_;
}

void CameraLoop::run() {
  try {
    processing_ = std::make_unique<vyxhost::ProcessingInstance>(plugin_, kProcessingHandle);
  } catch (const vyxhost::CallError& e) {
    log(std::string("no images can be shown: ") + e.what());
  }
  for (;;) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) break;
    }
    runCommands();
    const Clock::time_point now = Clock::now();
    if (source_ && !paused_) {
      grab();
    } else if (source_) {
      idle(kPausedPoll);
    } else if (now >= nextAttempt_) {
      reconnect();
    } else {
      idle(std::chrono::duration_cast<std::chrono::milliseconds>(nextAttempt_ - now) +
           std::chrono::milliseconds(1));
    }
    if (Clock::now() - lastStatus_ >= kStatusEvery) publishStatus();
  }

  try {
    recorder_.stop();
  } catch (const std::exception& e) {
    log(e.what());
  }
  for (auto* instance : {&source_, &lost_}) {
    if (*instance && (*instance)->close() != VYX_OK) {
      log("the camera at " + cfg_.address + " did not answer the disconnect");
    }
    instance->reset();
  }
  processing_.reset();
}

void CameraLoop::runCommands() {
  for (;;) {
    Pending p;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (commands_.empty()) return;
      p = std::move(commands_.front());
      commands_.pop_front();
    }
    nlohmann::json answer = execute(p.command);
    answer["type"] = "reply";
    answer["id"] = p.command.id ? nlohmann::json(*p.command.id) : nlohmann::json(nullptr);
    if (p.reply) p.reply(std::move(answer));
    publishStatus();
  }
}

nlohmann::json CameraLoop::execute(const CameraCommand& c) {
  using Op = CameraCommand::Op;
  switch (c.op) {
    case Op::Pause:
    case Op::Resume:
      paused_ = c.op == Op::Pause;
      return {{"ok", true}};
    case Op::Record:
      try {
        if (c.on && !recorder_.active()) {
          recordError_.clear();
          log("recording into " + recorder_.start(runInfo()));
        } else if (!c.on && recorder_.active()) {
          recorder_.stop();
          log("recorded " + std::to_string(recorder_.frames()) + " frames into " + recorder_.dir());
        }
        return {{"ok", true}, {"dir", recorder_.dir()}};
      } catch (const std::exception& e) {
        recordError_ = e.what();
        return {{"ok", false}, {"error", {{"message", e.what()}}}};
      }
    case Op::Set:
      break;
    case Op::Drawn:  // the page's connection handles these
      return {{"ok", true}};
  }
  if (!source_) {
    return {{"ok", false},
            {"error", {{"message", "the camera is not connected; the setting was not sent"}}}};
  }
  nlohmann::json answer = {{"ok", true}};
  try {
    if (c.name == "fps") {
      requested_.fps = c.value;
      source_->command("SetFPS " + std::to_string(c.value));
    } else {
      (c.name == "itime0" ? requested_.itime0 : requested_.itime1) = c.value;
      source_->setIntegrationTime(c.name == "itime0" ? 0 : 1, c.value);
    }
  } catch (const vyxhost::CallError& e) {
    answer = {{"ok", false}, {"error", callErrorJson(e)}};
  }
  readSettings();
  answer["settings"] = {{"itime0", optionalJson(itime0_)},
                        {"itime1", optionalJson(itime1_)},
                        {"fps", optionalJson(fps_)}};
  return answer;
}

void CameraLoop::readSettings() {
  itime0_.reset();
  itime1_.reset();
  fps_.reset();
  if (!source_) return;
  try {
    itime0_ = source_->integrationTime(0);
    itime1_ = source_->integrationTime(1);
    fps_ = std::stoll(source_->info("FPS"));
  } catch (const std::exception& e) {
    log(std::string("reading the settings back: ") + e.what());
  }
  recorder_.setReadBack({itime0_, itime1_, fps_});
}

void CameraLoop::markLost(const std::string& why) {
  log("camera lost: " + why);
  lost_ = std::move(source_);
  problem_ = why;
  state_ = State::Lost;
  recent_.clear();
  nextAttempt_ = Clock::now() + cfg_.reconnectInterval;
  publishStatus();
}

void CameraLoop::reconnect() {
  state_ = State::Reconnecting;
  publishStatus();
  nextAttempt_ = Clock::now() + cfg_.reconnectInterval;
  if (lost_) {
    const int code = lost_->close();
    if (code != VYX_OK) {
      state_ = State::Lost;
      problem_ = "the camera at " + cfg_.address +
                 " does not answer (closing the lost connection: " + vyxhost::resultName(code) +
                 ")";
      publishStatus();
      return;
    }
    lost_.reset();
  }
  try {
    source_ = std::make_unique<vyxhost::SourceInstance>(plugin_, kSourceHandle, cfg_.address);
  } catch (const vyxhost::CallError& e) {
    if (problem_ != e.what()) log("cannot open the camera: " + std::string(e.what()));
    state_ = State::Lost;
    problem_ = e.what();
    publishStatus();
    return;
  }
  // The settings asked for on the command line or in the page; a camera that
  // restarted has forgotten them.
  try {
    if (requested_.itime0)
      source_->setIntegrationTime(0, static_cast<unsigned>(*requested_.itime0));
    if (requested_.itime1)
      source_->setIntegrationTime(1, static_cast<unsigned>(*requested_.itime1));
    if (requested_.fps) source_->command("SetFPS " + std::to_string(*requested_.fps));
  } catch (const vyxhost::CallError& e) {
    log(std::string("setting the camera up again: ") + e.what());
  }
  readSettings();
  log("streaming from the camera at " + cfg_.address);
  problem_.clear();
  state_ = State::Open;
  publishStatus();
}

void CameraLoop::grab() {
  VYXDataDescription desc{};
  vyxrec::Stamp stamp;
  double unixMs = 0;
  try {
    source_->update();
    stamp = vyxrec::stampNow();
    unixMs = std::chrono::duration<double, std::milli>(
                 std::chrono::system_clock::now().time_since_epoch())
                 .count();
    source_->rawData(raw_);
    desc = source_->description();
  } catch (const vyxhost::CallError& e) {
    markLost(e.what());
    return;
  }
  const Clock::time_point now = Clock::now();
  recent_.push_back(now);
  while (now - recent_.front() > kRateWindow) recent_.pop_front();

  if (recorder_.active()) {
    try {
      recorder_.add(raw_, desc, stamp);
    } catch (const std::exception& e) {
      recordError_ = e.what();
      log("recording stopped: " + recordError_);
      try {
        recorder_.stop();
      } catch (const std::exception&) {  // the same fault again; already reported
      }
      publishStatus();
    }
  }

  ViewFrame f;
  f.number = frames_++;
  f.updateUnixMs = unixMs;
  f.itime0 = static_cast<uint32_t>(desc.std.integrationTime[0]);
  f.itime1 = static_cast<uint32_t>(desc.std.integrationTime[1]);
  if (!processing_) return;
  try {
    uint32_t rows = 0, columns = 0, aRows = 0, aColumns = 0;
    f.distance = convert(*processing_, VYX_TYPE_10001, desc, raw_, rows, columns);
    f.amplitude = convert(*processing_, VYX_TYPE_10002, desc, raw_, aRows, aColumns);
    if (f.distance.empty()) return;  // nothing to show in this frame
    if (f.amplitude.empty() || aRows != rows || aColumns != columns) {
      f.amplitude.assign(f.distance.size(), 0.0f);
    }
    f.rows = rows;
    f.columns = columns;
    hub_.publishFrame(std::make_shared<const std::string>(encodeFrame(f)));
  } catch (const vyxhost::CallError& e) {
    // Once per kind of failure, not 30 times a second.
    if (convertError_ != e.what()) log(std::string("frames not shown: ") + e.what());
    convertError_ = e.what();
  }
}

void CameraLoop::publishStatus() {
  lastStatus_ = Clock::now();
  double rate = 0;
  if (recent_.size() >= 2) {
    const double span = std::chrono::duration<double>(recent_.back() - recent_.front()).count();
    if (span > 0) rate = static_cast<double>(recent_.size() - 1) / span;
  }
  const char* state = "lost";
  if (source_) {
    state = paused_ ? "paused" : "streaming";
  } else if (state_ == State::Reconnecting) {
    state = "reconnecting";
  }
  nlohmann::json status = {{"type", "status"},
                           {"state", state},
                           {"address", cfg_.address},
                           {"problem", problem_},
                           {"frames", frames_},
                           {"camera_fps", rate},
                           {"settings",
                            {{"itime0", optionalJson(itime0_)},
                             {"itime1", optionalJson(itime1_)},
                             {"fps", optionalJson(fps_)}}},
                           {"recording",
                            {{"on", recorder_.active()},
                             {"dir", recorder_.dir()},
                             {"frames", recorder_.frames()},
                             {"error", recordError_}}},
                           {"clients", hub_.clients()}};
  hub_.publishStatus(std::move(status));
}

vyxrec::RunInfo CameraLoop::runInfo() const {
  vyxrec::RunInfo r;
  r.tool = "vyxview";
  r.toolVersion = VYXVIEW_VERSION;
  r.pluginPath = plugin_.path();
  r.interfaceVersion = static_cast<int>(plugin_->vyxpInterfaceVersion());
  r.address = cfg_.address;
  r.simulated = cfg_.simulated;
  r.replay = cfg_.replay;
  r.requested = requested_;
  r.readBack = {itime0_, itime1_, fps_};
  return r;
}

}  // namespace vyxview
