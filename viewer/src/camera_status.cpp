#include "camera_status.h"

#include <utility>

namespace vyxview {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kRateWindow = std::chrono::seconds(2);

nlohmann::json optionalJson(const std::optional<int64_t>& v) {
  return v ? nlohmann::json(*v) : nlohmann::json(nullptr);
}

nlohmann::json rangeJson(const std::optional<vyxhost::ValueRange>& r) {
  if (!r) return nullptr;
  return {{"min", r->min}, {"max", r->max}};
}

}  // namespace

CameraStatus::CameraStatus(std::string address, size_t index, std::string name)
    : address_(std::move(address)), index_(index), name_(std::move(name)) {}

void CameraStatus::setState(const std::string& state, const std::string& problem,
                            const std::string& problemKind) {
  const std::lock_guard<std::mutex> lock(mutex_);
  state_ = state;
  problem_ = problem;
  problemKind_ = problemKind;
  if (state != "streaming") recent_.clear();  // the rate starts afresh with the next frame
}

void CameraStatus::setPaused(bool paused) {
  const std::lock_guard<std::mutex> lock(mutex_);
  paused_ = paused;
  recent_.clear();
}

void CameraStatus::frameArrived() {
  const std::lock_guard<std::mutex> lock(mutex_);
  ++frames_;
  const Clock::time_point now = Clock::now();
  recent_.push_back(now);
  while (now - recent_.front() > kRateWindow) recent_.pop_front();
}

void CameraStatus::setSettings(const vyxrec::Settings& readBack, const SettingRanges& ranges) {
  const std::lock_guard<std::mutex> lock(mutex_);
  settings_ = readBack;
  ranges_ = ranges;
}

void CameraStatus::setRecording(RecordingStatus recording) {
  const std::lock_guard<std::mutex> lock(mutex_);
  recording_ = std::move(recording);
}

void CameraStatus::setCounters(const vyxhost::Counters& counters) {
  const std::lock_guard<std::mutex> lock(mutex_);
  counters_ = counters;
}

vyxhost::Counters CameraStatus::counters() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return counters_.value_or(vyxhost::Counters{});
}

void CameraStatus::setDepth(nlohmann::json depth) {
  const std::lock_guard<std::mutex> lock(mutex_);
  depth_ = std::move(depth);
}

void CameraStatus::setReplay(nlohmann::json replay) {
  const std::lock_guard<std::mutex> lock(mutex_);
  replay_ = std::move(replay);
}

// Frames per second over the frames of the last window; 0 once none arrived in it, so a
// camera that stopped shows 0 at once rather than its last rate.
double CameraStatus::rate(Clock::time_point now) const {
  if (state_ != "streaming" || paused_ || recent_.size() < 2) return 0;
  if (now - recent_.back() > kRateWindow) return 0;
  const double span = std::chrono::duration<double>(recent_.back() - recent_.front()).count();
  return span > 0 ? static_cast<double>(recent_.size() - 1) / span : 0;
}

nlohmann::json CameraStatus::message(size_t clients) const {
  const std::lock_guard<std::mutex> lock(mutex_);
  const bool showPaused = paused_ && state_ == "streaming";
  nlohmann::json counters = nullptr;
  if (counters_) {
    counters = {
        {"frames", counters_->frames},
        {"retried_images", counters_->retriedImages ? nlohmann::json(*counters_->retriedImages)
                                                    : nlohmann::json(nullptr)},
        {"stalls", counters_->stalls},
        {"losses", counters_->losses},
        {"reconnects", counters_->reconnects},
        {"latency_seconds", counters_->lastLatencySeconds}};
  }
  return {{"type", "status"},
          {"camera", index_},
          {"name", name_},
          {"state", showPaused ? std::string("paused") : state_},
          {"address", address_},
          {"problem", problem_},
          {"problem_kind", problemKind_},
          {"frames", frames_},
          {"camera_fps", rate(Clock::now())},
          {"settings",
           {{"itime0", optionalJson(settings_.itime0)},
            {"itime1", optionalJson(settings_.itime1)},
            {"fps", optionalJson(settings_.fps)}}},
          {"ranges",
           {{"itime0", rangeJson(ranges_.itime0)},
            {"itime1", rangeJson(ranges_.itime1)},
            {"fps", rangeJson(ranges_.fps)}}},
          {"recording",
           {{"on", recording_.on},
            {"file", recording_.file},
            {"frames", recording_.frames},
            {"error", recording_.error}}},
          {"counters", counters},
          {"depth", depth_},
          {"replay", replay_},
          {"clients", clients}};
}

}  // namespace vyxview
