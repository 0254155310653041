// The camera thread: the only thread that calls the plug-in. It fetches frames,
// converts them to distance and amplitude, hands them to the pages, runs the
// pages' commands between frames and reopens a camera that has gone.
//
// States: streaming, paused, lost (the camera stopped answering) and
// reconnecting (an attempt to reach it is under way). An instance whose camera
// no longer answers cannot be closed, because the disconnect has to reach the
// camera; the lost instance is therefore kept, its closing retried at every
// attempt, and only after it succeeded is the camera opened anew. Outages thus
// never pile up open instances.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "camera_command.h"
#include "recorder.h"
#include "vyxhost/vyxhost.h"

namespace vyxview {

class FrameHub;

struct CameraLoopConfig {
  std::string address;
  bool simulated = false;
  std::string replay;
  std::chrono::milliseconds reconnectInterval{2000};
  std::string recordRoot = "recordings";
  vyxrec::Settings initial;  // set on every opening of the camera
};

class CameraLoop {
 public:
  using Reply = std::function<void(nlohmann::json)>;

  CameraLoop(const vyxhost::Plugin& plugin, CameraLoopConfig cfg, FrameHub& hub);
  ~CameraLoop();
  CameraLoop(const CameraLoop&) = delete;
  CameraLoop& operator=(const CameraLoop&) = delete;

  void start();
  // Ends recording, closes the camera and joins the thread. Idempotent.
  void stop();
  // Runs the command on the camera thread between two frames; reply gets the
  // answer there (so it must only hand it on).
  void submit(CameraCommand command, Reply reply);

 private:
  enum class State { Open, Lost, Reconnecting };  // Open: streaming or paused
  // std::function's move may throw by the letter of C++17; libstdc++'s does not.
  // NOLINTNEXTLINE(bugprone-exception-escape)
  struct Pending {
    CameraCommand command;
    Reply reply;
  };

  void run();
  // Waits up to the time for a command or stop(); false when stopping.
  bool idle(std::chrono::milliseconds time);
  void runCommands();
  nlohmann::json execute(const CameraCommand& c);
  void reconnect();
  void grab();
  void markLost(const std::string& why);
  void readSettings();
  void publishStatus();
  vyxrec::RunInfo runInfo() const;

  const vyxhost::Plugin& plugin_;
  CameraLoopConfig cfg_;
  FrameHub& hub_;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Pending> commands_;
  bool stopping_ = false;
  std::thread thread_;

  // Camera thread only from here on.
  State state_ = State::Reconnecting;
  bool paused_ = false;
  std::unique_ptr<vyxhost::SourceInstance> source_;  // open and answering
  std::unique_ptr<vyxhost::SourceInstance> lost_;    // open, camera gone: to be closed
  std::unique_ptr<vyxhost::ProcessingInstance> processing_;
  std::chrono::steady_clock::time_point nextAttempt_{};
  std::string problem_;  // why the camera is not streaming, for the page
  std::optional<int64_t> itime0_, itime1_, fps_;
  vyxrec::Settings requested_;
  uint64_t frames_ = 0;
  std::deque<std::chrono::steady_clock::time_point> recent_;  // update times, last second
  std::chrono::steady_clock::time_point lastStatus_{};
  Recorder recorder_;
  std::string recordError_;
  std::string convertError_;  // the last conversion failure, logged once
  std::vector<uint8_t> raw_;
};

}  // namespace vyxview
