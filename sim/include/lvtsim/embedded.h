// A simulated camera inside the calling process, as every door's --simulate / simulate() starts
// it: on a random free loopback address, optionally replaying a recording folder, and stopped
// when the object goes away.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "vyxhost/lens.h"

namespace lvtsim {

class Camera;

class EmbeddedCamera {
 public:
  // replayDir empty = the synthetic scene. paced: images at the camera's frame rate, like the
  // real camera; unpaced: as fast as they are asked for (tests, benchmarks). Throws
  // std::runtime_error when no loopback address can be bound or the recording cannot be read
  // (vyxrec::RecordingError). lens: the lens the scene is rendered through (none: the
  // simulator's own, simulatedLens()); std::invalid_argument when it is unusable.
  EmbeddedCamera(const std::string& replayDir, bool paced,
                 std::optional<vyxhost::LensModel> lens = std::nullopt);
  ~EmbeddedCamera();
  EmbeddedCamera(const EmbeddedCamera&) = delete;
  EmbeddedCamera& operator=(const EmbeddedCamera&) = delete;

  const std::string& address() const { return address_; }
  // Every image request byte the camera has received on its data port.
  uint64_t requestsReceived() const;
  uint64_t replayFrames() const { return replayFrames_; }
  // The lens the scene is rendered through, exactly: what a door's session is given.
  const vyxhost::LensModel& lens() const;

 private:
  std::unique_ptr<Camera> camera_;
  std::string address_;
  uint64_t replayFrames_ = 0;
};

}  // namespace lvtsim
