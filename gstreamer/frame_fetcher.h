// Fetches a camera's frames on a thread of its own, up to two frames ahead of the element's
// streaming thread. The streaming thread then only waits on a condition it can wake (unlock(): a
// pause, a flush, going to NULL) instead of inside the plug-in, where a silent camera holds a call
// for the plug-in's whole bound; and fetching the next frame overlaps converting and pushing this
// one.
#pragma once

#include <memory>
#include <thread>

#include "vyxhost/camera.h"

namespace lvtgst {

class FrameFetcher {
 public:
  // first is the camera's frame 0, already fetched: the first one handed out.
  FrameFetcher(std::shared_ptr<vyxhost::Camera> camera, vyxhost::Frame first);
  ~FrameFetcher();  // stop()
  FrameFetcher(const FrameFetcher&) = delete;
  FrameFetcher& operator=(const FrameFetcher&) = delete;

  // Waits for the next frame and swaps it into frame. Returns false when interrupt() came
  // first; rethrows the camera's failure (the fetching has ended then).
  bool take(vyxhost::Frame& frame);
  // Wakes take() and keeps it from waiting until resume(). A frame fetched before the
  // interruption is stale afterwards and dropped.
  void interrupt();
  void resume();
  // Closes the camera and ends the fetching: waits for the thread while it finishes at once,
  // otherwise (a grab waiting for a silent camera) leaves it to end within the plug-in's bound.
  void stop();

 private:
  struct Shared;
  std::shared_ptr<Shared> shared_;
  std::thread thread_;
};

}  // namespace lvtgst
