// The viewer's cameras: a camera loop and a frame hub each, and the one recorder they share.
// Recording is the rig's: a page's record command, whichever camera's page sends it, records
// every camera into one file (topics /lvt/<name>/...), and stopping it leaves a complete file.
#pragma once

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "camera_command.h"
#include "camera_doors.h"
#include "camera_loop.h"
#include "frame_hub.h"
#include "recorder.h"

namespace vyxview {

class Rig {
 public:
  // One loop per configuration (index and alone are set here). Loads the plug-in: throws
  // vyxhost::LoadError.
  Rig(std::vector<CameraLoopConfig> cameras, const std::string& recordRoot);
  ~Rig();
  Rig(const Rig&) = delete;
  Rig& operator=(const Rig&) = delete;

  size_t size() const { return loops_.size(); }
  CameraLoop& camera(size_t i) { return *loops_.at(i); }
  CameraDoors doors();
  void start();
  // Stops every camera, then ends a recording under way like a stop from the page.
  // Idempotent.
  void stop();
  // Starts (on) or stops the recording of all cameras; the page's reply.
  nlohmann::json record(bool on);

 private:
  // Camera i's commands: the record command to the rig, the others to the camera's loop.
  class Commands : public CommandSink {
   public:
    Commands(Rig& rig, CameraLoop& loop) : rig_(rig), loop_(loop) {}
    void submit(CameraCommand command, Reply reply) override;

   private:
    Rig& rig_;
    CameraLoop& loop_;
  };

  nlohmann::json manifest() const;
  std::string counters() const;

  std::vector<CameraLoopConfig> configs_;
  std::vector<std::unique_ptr<FrameHub>> hubs_;
  std::unique_ptr<Recorder> recorder_;  // outlives the loops, which record into it
  std::vector<std::unique_ptr<CameraLoop>> loops_;
  std::vector<std::unique_ptr<Commands>> commands_;
};

}  // namespace vyxview
