// The camera simulator started inside the Python process.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace lvtsim {
class EmbeddedCamera;
}

namespace lvtcam {

class EmbeddedSimulator {
 public:
  EmbeddedSimulator(const std::string& replayDir, bool realtime);
  ~EmbeddedSimulator();
  EmbeddedSimulator(const EmbeddedSimulator&) = delete;
  EmbeddedSimulator& operator=(const EmbeddedSimulator&) = delete;

  const std::string& address() const { return address_; }
  bool running() const;
  // Stops serving: to a camera still open on it this is a pulled cable.
  void stop();
  // Image requests received so far; none once stopped. Any thread, without the GIL.
  std::optional<uint64_t> requestsReceived() const;

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<lvtsim::EmbeddedCamera> camera_;
  std::string address_;
};

}  // namespace lvtcam
