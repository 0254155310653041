#include "frame_hub.h"

#include <algorithm>
#include <utility>

namespace vyxview {

void FrameHub::subscribe(const std::shared_ptr<FrameSink>& sink) {
  std::shared_ptr<const std::string> frame;
  std::shared_ptr<const nlohmann::json> status;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    sinks_.push_back(sink);
    frame = frame_;
    status = status_;
  }
  if (status) sink->sendStatus(status);
  if (frame) sink->sendFrame(frame);
}

std::vector<std::shared_ptr<FrameSink>> FrameHub::liveSinks() {
  // Called with the lock held; forgets the pages that have gone.
  std::vector<std::shared_ptr<FrameSink>> live;
  sinks_.erase(std::remove_if(sinks_.begin(), sinks_.end(),
                              [&](const std::weak_ptr<FrameSink>& w) {
                                auto s = w.lock();
                                if (!s) return true;
                                live.push_back(std::move(s));
                                return false;
                              }),
               sinks_.end());
  return live;
}

void FrameHub::publishFrame(const std::shared_ptr<const std::string>& message) {
  std::vector<std::shared_ptr<FrameSink>> sinks;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    frame_ = message;
    sinks = liveSinks();
  }
  for (const auto& s : sinks) s->sendFrame(message);
}

void FrameHub::publishStatus(nlohmann::json status) {
  auto shared = std::make_shared<const nlohmann::json>(std::move(status));
  std::vector<std::shared_ptr<FrameSink>> sinks;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    status_ = shared;
    sinks = liveSinks();
  }
  for (const auto& s : sinks) s->sendStatus(shared);
}

size_t FrameHub::clients() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<size_t>(
      std::count_if(sinks_.begin(), sinks_.end(), [](const auto& w) { return !w.expired(); }));
}

bool FrameHub::pointsWanted() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return std::any_of(sinks_.begin(), sinks_.end(), [](const auto& w) {
    const auto s = w.lock();
    return s && s->wantsPoints();
  });
}

}  // namespace vyxview
