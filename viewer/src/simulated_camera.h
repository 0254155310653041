// --simulate: a simulated camera inside the viewer, on its own free loopback
// address, delivering at its frame rate, optionally replaying a recording.
#pragma once

#include <memory>
#include <string>

namespace lvtsim {
class Camera;
}

namespace vyxview {

class SimulatedCamera {
 public:
  // Throws std::runtime_error when no address can be bound or the recording cannot be read.
  explicit SimulatedCamera(const std::string& replayDir);
  ~SimulatedCamera();
  SimulatedCamera(const SimulatedCamera&) = delete;
  SimulatedCamera& operator=(const SimulatedCamera&) = delete;

  std::string address() const;

 private:
  std::unique_ptr<lvtsim::Camera> camera_;
};

}  // namespace vyxview
