// The camera simulator started inside the Python process.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "vyxhost/lens.h"

namespace lvtsim {
class EmbeddedCamera;
}

namespace lvtcam {

class EmbeddedSimulator {
 public:
  // lens: the lens to render through (none: the simulator's own).
  EmbeddedSimulator(const std::string& replayDir, bool realtime,
                    std::optional<vyxhost::LensModel> lens);
  ~EmbeddedSimulator();
  EmbeddedSimulator(const EmbeddedSimulator&) = delete;
  EmbeddedSimulator& operator=(const EmbeddedSimulator&) = delete;

  const std::string& address() const { return address_; }
  bool running() const;
  // Stops serving: to a camera still open on it this is a pulled cable.
  void stop();
  // Image requests received so far; none once stopped. Any thread, without the GIL.
  std::optional<uint64_t> requestsReceived() const;
  // The lens the camera renders through; none once stopped.
  std::optional<vyxhost::LensModel> lens() const;

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<lvtsim::EmbeddedCamera> camera_;
  std::string address_;
};

}  // namespace lvtcam
