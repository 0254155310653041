// Everything the two servers share: the camera's settings, the fault knobs and the logs, all
// behind one mutex. The servers hold a reference; the Camera object owns it.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "answer.h"
#include "image_cache.h"
#include "lvtsim/camera.h"

namespace lvtsim::detail {

using Frontend = std::array<int32_t, lvtwire::kFrontendWords>;

class CameraState {
 public:
  explicit CameraState(CameraConfig config);

  const CameraConfig cfg;

  // --- lifecycle: stopping releases every wait below ---
  void setStopping(bool stopping);
  bool stopping() const;
  void waitForStop() const;
  // Sleeps until `deadline`; false if the camera is stopping.
  bool sleepUntil(std::chrono::steady_clock::time_point deadline) const;

  // --- control channel ---
  void setRpcFault(const std::string& method, RpcFault fault, int count);
  RpcFault takeRpcFault(const std::string& method);  // uses up one planned fault
  void logCall(RpcCall call);
  void setAnnouncedPort(std::optional<uint32_t> port);
  uint32_t announcedPort() const;
  void setBoundDataPort(uint16_t port);
  uint16_t boundDataPort() const;
  Frontend frontend() const;
  // Stores written front-end values as the camera takes them: frame rate clamped to the fps
  // range, integration times to 1..5000, then the extra adjustment. Returns what it now holds.
  Frontend writeFrontend(Frontend values);
  void setFpsRange(int minFps, int maxFps);
  void setFrontendWriteAdjust(std::function<void(Frontend&)> adjust);

  // --- data channel ---
  // Logs the request byte and picks its answer: a queued override first, then the replay, else
  // the synthetic image. The answer is recorded as the last one for the byte.
  Answer nextAnswer(char request);
  void queueImage(char request, ImageOverride o);
  void logRequest(char request);  // a request byte that gets no answer
  void setReplay(std::vector<std::shared_ptr<const std::vector<uint8_t>>> blocks);
  void setSplitIntoSingleBytes(bool on);
  bool splitIntoSingleBytes() const;
  void connectionOpened();
  void connectionClosed();

  // --- logs ---
  std::vector<RpcCall> calls() const;
  std::vector<uint8_t> dataRequests() const;
  void clearLog();
  size_t connectionsAccepted() const;
  size_t openDataConnections() const;
  bool waitForOpenDataConnections(size_t n, std::chrono::milliseconds timeout) const;
  std::vector<uint8_t> lastAnswer(char request) const;
  uint64_t framesAnswered(char request) const;

 private:
  struct PlannedFault {
    RpcFault fault;
    int remaining;  // -1 = for good
  };

  // A copy of a member, taken under the lock.
  template <class T>
  T read(const T& member) const {
    const std::lock_guard<std::mutex> lock(mu_);
    return member;
  }

  mutable std::mutex mu_;
  mutable std::condition_variable changed_;  // stopping and connection counts
  bool stopping_ = false;

  std::map<std::string, PlannedFault> faults_;
  std::optional<uint32_t> announcedPort_;
  uint16_t boundDataPort_ = 0;
  Frontend frontend_;
  int minFps_, maxFps_;
  std::function<void(Frontend&)> adjust_;

  std::map<char, std::deque<ImageOverride>> queued_;
  std::vector<std::shared_ptr<const std::vector<uint8_t>>> replay_;
  size_t replayNext_ = 0;
  bool split_ = false;
  std::map<char, uint64_t> answered_;
  ImageCache cache_;

  std::vector<RpcCall> calls_;
  std::vector<uint8_t> requests_;
  std::map<char, Answer> last_;
  size_t accepted_ = 0, open_ = 0;
};

}  // namespace lvtsim::detail
