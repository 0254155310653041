#include "frame_fetcher.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <utility>
#include <vector>

namespace lvtgst {

namespace {

// How long stop() waits for the fetching thread: a grab from an answering camera ends within a
// frame period and its closing within the session's close wait. Beyond that the camera is
// silent and the thread is left to end by itself.
constexpr auto kStopWait = std::chrono::seconds(3);

// Frames fetched and not yet taken, at most. Two let the fetching go straight on to the next
// frame while the streaming thread wakes for the last one, so that the wake-up is off the
// camera's path.
constexpr size_t kAhead = 2;

int64_t monotonicNow() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

// What the fetching thread and the element share; the thread keeps it (and the camera) alive
// until it ends, which may be after the element has let go.
struct FrameFetcher::Shared {
  std::shared_ptr<vyxhost::Camera> camera;
  std::mutex mutex;  // everything below
  std::condition_variable changed;
  std::deque<vyxhost::Frame> ready;
  std::vector<vyxhost::Frame> spare;  // taken frames, their buffers reused
  std::exception_ptr failure;
  bool interrupted = false;
  bool interruptedSinceResume = false;
  int64_t staleBefore = 0;  // frames that arrived before this (monotonic ns) are dropped
  bool stopping = false;
  bool finished = false;

  void run() {
    vyxhost::Frame next;
    for (;;) {
      {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return stopping || ready.size() < kAhead; });
        if (stopping) break;
        if (!spare.empty()) {
          std::swap(next, spare.back());
          spare.pop_back();
        }
      }
      try {
        camera->grab(next);  // the session's own lock only; nothing of the element's
      } catch (const std::exception&) {
        const std::lock_guard<std::mutex> lock(mutex);
        if (!stopping) failure = std::current_exception();
        changed.notify_all();
        break;
      }
      const std::lock_guard<std::mutex> lock(mutex);
      if (stopping) break;
      ready.push_back(std::move(next));
      next = vyxhost::Frame();
      changed.notify_all();
    }
    const std::lock_guard<std::mutex> lock(mutex);
    finished = true;
    changed.notify_all();
  }
};

FrameFetcher::FrameFetcher(std::shared_ptr<vyxhost::Camera> camera, vyxhost::Frame first)
    : shared_(std::make_shared<Shared>()) {
  shared_->camera = std::move(camera);
  shared_->ready.push_back(std::move(first));
  thread_ = std::thread([shared = shared_] { shared->run(); });
}

FrameFetcher::~FrameFetcher() { stop(); }

bool FrameFetcher::take(vyxhost::Frame& frame) {
  Shared& s = *shared_;
  std::unique_lock<std::mutex> lock(s.mutex);
  for (;;) {
    s.changed.wait(lock,
                   [&] { return s.interrupted || s.stopping || !s.ready.empty() || s.failure; });
    if (s.interrupted || s.stopping) return false;
    if (!s.ready.empty()) {
      const bool stale = s.ready.front().monotonicNs < s.staleBefore;
      if (!stale) std::swap(frame, s.ready.front());
      s.spare.push_back(std::move(s.ready.front()));
      s.ready.pop_front();
      s.changed.notify_all();
      if (stale) continue;
      return true;
    }
    std::rethrow_exception(s.failure);
  }
}

void FrameFetcher::interrupt() {
  const std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->interrupted = true;
  shared_->interruptedSinceResume = true;
  shared_->changed.notify_all();
}

void FrameFetcher::resume() {
  const std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->interrupted = false;
  // After a pause or a flush, a frame that waited through it would go out late and out of
  // order; one fetched since is current.
  if (shared_->interruptedSinceResume) shared_->staleBefore = monotonicNow();
  shared_->interruptedSinceResume = false;
}

void FrameFetcher::stop() {
  Shared& s = *shared_;
  {
    const std::lock_guard<std::mutex> lock(s.mutex);
    if (s.stopping) return;
    s.stopping = true;
    s.changed.notify_all();
  }
  s.camera->close();  // returns at once when a grab waits for a silent camera
  std::unique_lock<std::mutex> lock(s.mutex);
  const bool ended = s.changed.wait_for(lock, kStopWait, [&] { return s.finished; });
  lock.unlock();
  if (ended) {
    thread_.join();
  } else {
    thread_.detach();  // holds the camera until its grab has ended and closed it
  }
}

}  // namespace lvtgst
