// Frames of several cameras taken at the same instant, told by their host time stamps.
//
// Each camera hands over its frames in the order it took them, from any thread the caller
// serialises; the matcher emits one tuple per instant, one frame of every camera, whose stamps
// all lie within half a frame period of each other (the newest minus the oldest is less than
// half a period). A frame that can no longer find partners is counted for its camera, never
// dropped silently:
//   - the oldest waiting frame of one camera is unmatched as soon as another camera's oldest
//     waiting frame is half a period or more younger (that camera's later frames are younger
//     still), e.g. a frame the other camera dropped, or frames before a camera started;
//   - a camera holding more than maxPending frames while another delivers none gives up its
//     oldest, so a camera that went silent costs bounded memory.
// Cameras that run at the same rate but in unrelated phases match when their phases differ by
// less than half a period; frames of a faster camera beyond the slower's rate stay unmatched.
//
//   vyxhost::FrameMatcher<Frame> matcher(2, 40'000'000);
//   matcher.add(0, frameA.utcNs, std::move(frameA));
//   matcher.add(1, frameB.utcNs, std::move(frameB));
//   while (auto pair = matcher.next()) use((*pair)[0], (*pair)[1]);
//   matcher.unmatched();  // per camera
#ifndef VYXHOST_FRAME_MATCHER_H
#define VYXHOST_FRAME_MATCHER_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

namespace vyxhost {

// The decision on the oldest waiting frame of every camera (stamps in nanoseconds, one per
// camera): none when they match, else the camera whose frame can find no partner (the oldest;
// of equal stamps the first camera's).
std::optional<size_t> unmatchedHead(const std::vector<int64_t>& headStamps, int64_t periodNs);

template <typename Payload>
class FrameMatcher {
 public:
  // Throws std::invalid_argument for no cameras, a period that is not positive or maxPending 0.
  FrameMatcher(size_t cameras, int64_t periodNs, size_t maxPending = 64)
      : waiting_(cameras), unmatched_(cameras, 0), period_(periodNs), maxPending_(maxPending) {
    if (cameras == 0) throw std::invalid_argument("frame matching needs at least one camera");
    if (periodNs <= 0) throw std::invalid_argument("the frame period must be positive");
    if (maxPending == 0) throw std::invalid_argument("maxPending must be at least 1");
  }

  // The period may change between frames (a camera's rate was set); it applies from the next
  // decision on.
  void setPeriod(int64_t periodNs) {
    if (periodNs <= 0) throw std::invalid_argument("the frame period must be positive");
    period_ = periodNs;
  }
  int64_t periodNs() const { return period_; }

  // The camera's next frame, taken at utcNs. Throws std::out_of_range for no such camera.
  void add(size_t camera, int64_t utcNs, Payload frame) {
    std::deque<Entry>& queue = waiting_.at(camera);
    queue.push_back(Entry{utcNs, std::move(frame)});
    if (queue.size() > maxPending_) {
      queue.pop_front();
      ++unmatched_[camera];
    }
    decide();
  }

  // The oldest tuple completed and not yet taken: one frame per camera, in camera order.
  std::optional<std::vector<Payload>> next() {
    if (ready_.empty()) return std::nullopt;
    std::vector<Payload> tuple = std::move(ready_.front());
    ready_.pop_front();
    return tuple;
  }
  size_t readyCount() const { return ready_.size(); }

  // Frames per camera that found no partner, since the start.
  const std::vector<uint64_t>& unmatched() const { return unmatched_; }
  // Frames of the camera still waiting for partners.
  size_t waiting(size_t camera) const { return waiting_.at(camera).size(); }

 private:
  struct Entry {
    int64_t utcNs;
    Payload frame;
  };

  void decide() {
    std::vector<int64_t> heads(waiting_.size());
    for (;;) {
      for (size_t i = 0; i < waiting_.size(); ++i) {
        if (waiting_[i].empty()) return;  // a camera has yet to speak for this instant
        heads[i] = waiting_[i].front().utcNs;
      }
      if (const std::optional<size_t> stale = unmatchedHead(heads, period_)) {
        waiting_[*stale].pop_front();
        ++unmatched_[*stale];
        continue;
      }
      std::vector<Payload> tuple;
      tuple.reserve(waiting_.size());
      for (std::deque<Entry>& queue : waiting_) {
        tuple.push_back(std::move(queue.front().frame));
        queue.pop_front();
      }
      ready_.push_back(std::move(tuple));
    }
  }

  std::vector<std::deque<Entry>> waiting_;
  std::deque<std::vector<Payload>> ready_;
  std::vector<uint64_t> unmatched_;
  int64_t period_;
  size_t maxPending_;
};

}  // namespace vyxhost

#endif
