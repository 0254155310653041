// One camera's thread: grabs frames through the camera session (vyxhost::Camera), turns them
// into what the page shows through the lens and the filters (DepthView), hands them to the
// viewer's recorder (shared by all cameras), runs the pages' commands between frames and brings
// a lost camera back at the reconnect interval.
// Handles, settings ranges, failure wording and the reconnect rules are the session's; the
// session's state news (streaming, stalled, lost, reconnecting) go to the pages as they
// happen, even while this thread waits for a frame.
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
#include <stdexcept>
#include <string>
#include <thread>

#include "camera_command.h"
#include "camera_status.h"
#include "command_queue.h"
#include "depth_view.h"
#include "recorder.h"
#include "vyxhost/camera.h"
#include "vyxrec/run_manifest.h"

namespace vyxview {

class FrameHub;

struct CameraLoopConfig {
  std::string address;
  std::string pluginPath;  // "" = the usual lookup
  bool simulated = false;
  std::string replay;
  std::chrono::milliseconds reconnectInterval{2000};
  size_t index = 0;                 // among the viewer's cameras (the recorder's too)
  std::string cameraName = "cam0";  // the recordings' topics: /lvt/<name>/...
  // The only camera of the viewer: its loss ends a recording (in a rig the others go on).
  bool alone = true;
  std::optional<vyxhost::LensModel> lens;  // none: nominal
  vyxhost::FilterSettings filters;
};

// The command line's settings do not fit the camera; nothing was written to it.
class SettingsRefused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class CameraLoop : public CommandSink {
 public:
  // What a recording starting now writes of this camera; any thread.
  // NOLINTNEXTLINE(bugprone-exception-escape): its implicit moves throw only what json's moves do
  struct Snapshot {
    nlohmann::json manifest;  // the run manifest: run info, lens and filters
    vyxhost::LensModel lens;
  };

  // Loads the plug-in. Throws vyxhost::LoadError.
  CameraLoop(CameraLoopConfig cfg, FrameHub& hub, Recorder& recorder);
  ~CameraLoop() override;
  CameraLoop(const CameraLoop&) = delete;
  CameraLoop& operator=(const CameraLoop&) = delete;

  // The first opening, on the caller's thread, before start(). The settings are checked
  // against the camera's ranges before any is written: SettingsRefused when one is outside or
  // the camera refuses it. An address that cannot name a camera throws vyxhost::CameraError
  // (InvalidAddress). A camera that does not answer now is opened by the camera thread later,
  // and the settings applied then (a refusal then is shown on the page).
  void open(const vyxrec::Settings& initial);
  void start();
  // Closes the camera (a silent one in the background) and joins the thread. Idempotent.
  void stop();
  // Runs the command on the camera thread between two frames; reply gets the answer there
  // (so it must only hand it on).
  void submit(CameraCommand command, Reply reply) override;
  const vyxhost::Plugin& plugin() const { return *plugin_; }
  Snapshot snapshot() const;
  // The session's counters as last seen; any thread.
  vyxhost::Counters counters() const { return status_.counters(); }
  // Sends the status to the pages now (after the recording changed); any thread.
  void sendStatus();

 private:
  void run();
  void closeCamera();
  bool stopping();
  // Waits up to the time for a command or stop().
  void idle(std::chrono::milliseconds time);
  void idleUntil(std::chrono::steady_clock::time_point t);
  void runCommands();
  nlohmann::json execute(const CameraCommand& c);
  nlohmann::json filters(const nlohmann::json& fields);
  // Ends a recording that cannot go on, with the reason in the file.
  void failRecording(const std::string& reason);
  nlohmann::json set(const std::string& name, uint32_t value);
  // Opens the camera; false (the reason on the page) when it does not answer.
  bool tryOpen();
  void applyPending();
  void reconnect();
  void grab();
  void showFrame();
  void onState(vyxhost::CameraState state, const std::string& why);
  void readSettings();
  // Camera thread: also times the next periodic status.
  void publishStatus();
  vyxrec::RunInfo runInfo() const;
  void takeSnapshot();

  CameraLoopConfig cfg_;
  FrameHub& hub_;
  std::shared_ptr<const vyxhost::Plugin> plugin_;  // held while the camera comes and goes
  CameraStatus status_;
  // Hands the session's state news to this loop while it listens; the session's watch thread
  // may report until the camera is gone.
  struct StateRelay {
    std::mutex mutex;
    CameraLoop* loop = nullptr;
  };
  std::shared_ptr<StateRelay> relay_;
  Recorder& recorder_;
  mutable std::mutex snapshotMutex_;
  Snapshot snapshot_;

  CommandQueue queue_;
  std::thread thread_;

  // Camera thread only from here on (and the caller of open() before start()).
  std::unique_ptr<vyxhost::Camera> camera_;
  vyxrec::Settings pending_;  // the command line's, until the camera first opens
  std::chrono::steady_clock::time_point nextOpen_{};
  std::optional<vyxhost::CameraError> openFailure_;  // the last opening's, logged once
  bool paused_ = false;
  vyxrec::Settings readBack_;
  vyxhost::Frame frame_;
  uint64_t frames_ = 0;
  std::chrono::steady_clock::time_point lastStatus_{};
  DepthView depth_;
  std::string convertError_;  // the last conversion failure, logged once
};

}  // namespace vyxview
