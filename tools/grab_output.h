// Where a grab's frames go: a folder of per-frame files with its run.json (today's layout), or one
// .mcap recording. Both take a frame whole or not at all, and both leave what they hold readable
// when the grab fails (disk full, camera lost).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "grab_options.h"
#include "grab_report.h"
#include "vyxhost/camera.h"
#include "vyxhost/depth.h"
#include "vyxrec/run_manifest.h"

namespace vyxrec {
class McapRecorder;
}

namespace vyxgrab {

class GrabOutput {
 public:
  virtual ~GrabOutput() = default;
  // Before the first frame, once the settings are applied.
  virtual void begin(const vyxrec::RunInfo& run, const vyxhost::LensModel& lens) = 0;
  // One frame; on an exception nothing of it stays. Fills the report's file counts.
  virtual void frame(const vyxhost::Frame& frame, const vyxhost::FrameConverter& converter,
                     GrabReport& report) = 0;
  // While the grab waits for the camera: what was taken so far goes to the disk.
  virtual void idle() {}
  // What the summary shows of the output beyond the file counts.
  virtual void summarise(GrabReport&) const {}
  // The end: the settings read back and the session's counters. Throws on a write error.
  virtual void finish(const vyxrec::Settings& readBack, const vyxhost::Counters& counters) = 0;
  // The grab failed: closes what was written properly, with the reason where the output keeps
  // one. Never throws.
  virtual void fail(const std::string& reason, const vyxhost::Counters& counters) noexcept = 0;
};

// --out DIR, claimed as claimRunFolder does.
std::unique_ptr<GrabOutput> makeFolderOutput(const GrabOptions& options);
// --out NAME.mcap: one camera's frames (options.name) in one recording.
std::unique_ptr<GrabOutput> makeMcapOutput(const GrabOptions& options);

// --out NAME.mcap with several cameras: one recorder, shared by every camera's output (each
// records from its own thread), with the cameras' topics in the order of options.names.
class RigRecording {
 public:
  // Creates the file (refused if it exists, unless --overwrite). Throws.
  RigRecording(const GrabOptions& options, const std::string& runManifestJson);
  ~RigRecording();
  RigRecording(const RigRecording&) = delete;
  RigRecording& operator=(const RigRecording&) = delete;

  // The output of camera index (options.names[index]) for runGrab; valid while the rig lives.
  std::unique_ptr<GrabOutput> cameraOutput(size_t index);
  // A camera's counters record (countersJson), kept until close().
  void cameraCounters(const std::string& name, const std::string& json);
  // The end: the "counters" record holds each camera's counters under its name; a failure
  // (non-empty) becomes the file's last record. Throws RecordingError (not after a failure).
  void close(const std::string& failure);

 private:
  const GrabOptions& options_;
  std::unique_ptr<vyxrec::McapRecorder> recorder_;
  std::vector<int> handles_;
  std::mutex mutex_;
  std::map<std::string, std::string> counters_;
};

// The size of a file written, in bytes; 0 when it cannot be read.
uint64_t fileSize(const std::string& path);

// The counters as a recording's "counters" record holds them (JSON).
std::string countersJson(const vyxhost::Counters& counters, const vyxrec::Settings& readBack);

}  // namespace vyxgrab
