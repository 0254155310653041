// Hands the latest frame and the latest camera status from the camera thread
// to every open page. Each page gets the newest of each; what a page does not
// take in time is replaced, never queued.
#pragma once

#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace vyxview {

// One page's connection. Called from the camera thread; must not block.
class FrameSink {
 public:
  virtual ~FrameSink() = default;
  virtual void sendFrame(std::shared_ptr<const std::string> message) = 0;
  virtual void sendStatus(std::shared_ptr<const nlohmann::json> status) = 0;
  // The page shows the 3D view: frames should carry the points. Any thread.
  virtual bool wantsPoints() const = 0;
};

class FrameHub {
 public:
  // The sink gets the latest frame and status at once, then every new one
  // until it is destroyed.
  void subscribe(const std::shared_ptr<FrameSink>& sink);
  void publishFrame(const std::shared_ptr<const std::string>& message);
  void publishStatus(nlohmann::json status);
  size_t clients() const;
  // True while at least one open page shows the 3D view.
  bool pointsWanted() const;

 private:
  std::vector<std::shared_ptr<FrameSink>> liveSinks();

  mutable std::mutex mutex_;
  std::vector<std::weak_ptr<FrameSink>> sinks_;
  std::shared_ptr<const std::string> frame_;
  std::shared_ptr<const nlohmann::json> status_;
};

}  // namespace vyxview
