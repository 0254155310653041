#include "replay_loop.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "frame_hub.h"
#include "vyxhost/locate.h"
#include "vyxrec/recording_error.h"

namespace vyxview {

namespace {

// A gap in the recording (a camera that was away) is shown as at most this long a wait.
constexpr auto kLongestWait = std::chrono::seconds(10);
constexpr auto kStatusEvery = std::chrono::milliseconds(500);

// The recording's lens: its camera_info's K and D. Nominal when they are the nominal model's.
vyxhost::LensModel lensOf(const vyxrec::ros2::CameraInfo& info, const std::string& file) {
  vyxhost::LensModel lens = vyxhost::lensFromMatrix(
      static_cast<int>(info.width), static_cast<int>(info.height), info.k.data(), info.d.data(),
      info.d.size(), "the camera_info of " + file);
  vyxhost::checkLens(lens);
  return lens;
}

}  // namespace

ReplayLoop::ReplayLoop(ReplayConfig cfg, FrameHub& hub)
    : cfg_(std::move(cfg)),
      hub_(hub),
      converter_(vyxhost::sharedPlugin(vyxhost::findPlugin(cfg_.pluginPath))),
      status_(cfg_.file) {
  index();
}

ReplayLoop::~ReplayLoop() { stop(); }

// One pass through the file: every frame's stamp, the camera's name and its lens.
void ReplayLoop::index() {
  vyxrec::McapPlayback play(cfg_.file);
  vyxrec::PlaybackFrame f;
  while (play.next(f)) {
    if (camera_.empty()) camera_ = play.cameras()[f.camera];
    if (play.cameras()[f.camera] == camera_) stamps_.push_back(f.stampNs);
  }
  if (!play.complete()) cut_ = play.stopReason();
  if (stamps_.empty()) throw vyxrec::RecordingError(cfg_.file, "holds no camera frame");
  vyxhost::LensModel lens = vyxhost::nominalLens();
  if (cfg_.lens) {
    lens = *cfg_.lens;
  } else {
    const auto it = std::find(play.cameras().begin(), play.cameras().end(), camera_);
    const vyxrec::ros2::CameraInfo* info =
        play.cameraInfo(static_cast<size_t>(it - play.cameras().begin()));
    if (info != nullptr) lens = lensOf(*info, cfg_.file);
  }
  depth_ = std::make_unique<DepthView>(lens, cfg_.filters);
  status_.setDepth(depth_->describe());
  status_.setState("streaming", cut_.empty() ? "" : "the recording ends early: " + cut_);
}

void ReplayLoop::start() {
  thread_ = std::thread([this] { run(); });
}

void ReplayLoop::stop() {
  queue_.stop();
  if (thread_.joinable()) thread_.join();
}

void ReplayLoop::submit(CameraCommand command, Reply reply) {
  queue_.push(std::move(command), std::move(reply));
}

void ReplayLoop::run() {
  show(0);
  due_ = Clock::now();
  Clock::time_point lastStatus{};
  for (;;) {
    if (!runCommands()) break;
    const Clock::time_point now = Clock::now();
    if (playing_ && now >= due_) {
      if (position_ + 1 >= stamps_.size()) {
        playing_ = false;  // the end: the last frame stays on the pages
        status_.setPaused(true);
        publishStatus();
        continue;
      }
      const uint64_t gapNs = stamps_[position_ + 1] > stamps_[position_]
                                 ? stamps_[position_ + 1] - stamps_[position_]
                                 : 0;
      const auto gap = std::min<std::chrono::nanoseconds>(
          std::chrono::nanoseconds(static_cast<int64_t>(static_cast<double>(gapNs) / speed_)),
          kLongestWait);
      show(position_ + 1);
      // Paced from when the frame was due, so the replay keeps the recorded rate on average.
      due_ = std::max(due_ + gap, now - gap);
    }
    if (Clock::now() - lastStatus >= kStatusEvery) {
      lastStatus = Clock::now();
      publishStatus();
    }
    queue_.waitUntil(playing_ ? std::min(due_, lastStatus + kStatusEvery)
                              : lastStatus + kStatusEvery);
  }
}

bool ReplayLoop::runCommands() {
  for (;;) {
    if (queue_.stopping()) return false;
    std::optional<CommandQueue::Pending> p = queue_.take();
    if (!p) return true;
    nlohmann::json answer;
    try {
      answer = execute(p->command);
    } catch (const std::exception& e) {
      answer = {{"ok", false}, {"error", {{"message", e.what()}}}};
    }
    answer["type"] = "reply";
    answer["id"] = p->command.id ? nlohmann::json(*p->command.id) : nlohmann::json(nullptr);
    if (p->reply) p->reply(std::move(answer));
    publishStatus();
  }
}

nlohmann::json ReplayLoop::execute(const CameraCommand& c) {
  using Op = CameraCommand::Op;
  const auto refused = [](const char* why) {
    return nlohmann::json{{"ok", false}, {"error", {{"message", why}}}};
  };
  switch (c.op) {
    case Op::Pause:
    case Op::Resume:
      playing_ = c.op == Op::Resume;
      if (playing_ && position_ + 1 >= stamps_.size()) show(0);  // from the start again
      due_ = Clock::now();
      status_.setPaused(!playing_);
      return {{"ok", true}};
    case Op::Step:
      playing_ = false;
      status_.setPaused(true);
      if (c.by < 0 ? position_ > 0 : position_ + 1 < stamps_.size())
        show(c.by < 0 ? position_ - 1 : position_ + 1);
      return {{"ok", true}};
    case Op::Seek:
      show(std::min<uint64_t>(c.frame, stamps_.size() - 1));
      due_ = Clock::now();
      return {{"ok", true}};
    case Op::Speed:
      speed_ = c.speed;
      return {{"ok", true}};
    case Op::Filters:
      depth_->setFilters(c.filters);
      status_.setDepth(depth_->describe());
      show(position_);  // the frame on the pages through the new filters
      return {{"ok", true}, {"filters", depth_->describe()["filters"]}};
    case Op::Record:
      return refused("a replay is not recorded again; it is a recording already");
    case Op::Set:
      return refused("a replay has no camera to set");
    case Op::Drawn:
    case Op::View3d:
      return {{"ok", true}};
  }
  return {{"ok", true}};
}

void ReplayLoop::readTo(uint64_t index) {
  // Anything but the next frame is a jump: the temporal median must not mix the two places.
  if (index != position_ + 1) depth_->reset();
  if (!play_ || index < nextIndex_) {
    // Back to the first frame with that frame's time, through the file's index.
    play_ = std::make_unique<vyxrec::McapPlayback>(cfg_.file);
    const uint64_t stamp = stamps_[index];
    uint64_t first = index;
    while (first > 0 && stamps_[first - 1] == stamp) --first;
    // Stamps out of order (a clock set back) defeat seeking by time: read from the start.
    if (std::is_sorted(stamps_.begin(), stamps_.begin() + static_cast<ptrdiff_t>(index) + 1)) {
      play_->reader().seek(stamp);
      nextIndex_ = first;
    } else {
      nextIndex_ = 0;
    }
  }
  for (;;) {
    if (!play_->next(read_)) {
      throw vyxrec::RecordingError(cfg_.file,
                                   "frame " + std::to_string(index) + " is no longer there");
    }
    if (play_->cameras()[read_.camera] != camera_) continue;
    if (nextIndex_++ == index) return;
  }
}

void ReplayLoop::show(uint64_t index) {
  try {
    readTo(index);
  } catch (const std::exception& e) {
    // A file damaged past its index: the replay stops at what it could read.
    play_.reset();
    playing_ = false;
    status_.setPaused(true);
    status_.setState("streaming", e.what());
    return;
  }
  position_ = index;
  bool shown = false;
  try {
    if (read_.hasRaw) {
      frame_.raw = read_.raw;
      std::memcpy(&frame_.description, read_.description.data(), sizeof frame_.description);
      frame_.utcNs = static_cast<int64_t>(read_.stampNs);
      shown = depth_->process(converter_, frame_);
    } else if (!read_.distance.empty()) {
      depth_->process(read_.distance, read_.amplitude, read_.height, read_.width);
      shown = true;
    }
  } catch (const std::exception& e) {
    status_.setState("streaming",
                     std::string("frame ") + std::to_string(index) + " not shown: " + e.what());
  }
  status_.frameArrived();
  if (!shown) return;
  FrameHeader h;
  h.number = index;
  h.updateUnixMs = static_cast<double>(read_.stampNs) / 1e6;
  h.itime0 = read_.hasRaw ? frame_.integrationTime(0) : 0;
  h.itime1 = read_.hasRaw ? frame_.integrationTime(1) : 0;
  h.replayFrames = stamps_.size();
  hub_.publishFrame(std::make_shared<const std::string>(depth_->message(h, hub_.pointsWanted())));
}

void ReplayLoop::publishStatus() {
  status_.setReplay({{"file", cfg_.file},
                     {"camera", camera_},
                     {"frames", stamps_.size()},
                     {"position", position_},
                     {"playing", playing_},
                     {"speed", speed_}});
  hub_.publishStatus(status_.message(hub_.clients()));
}

}  // namespace vyxview
