// The camera session every tool and binding stands on: one open camera of the plug-in, reached
// through its exported entry points, with the rules written once:
//   - handles come from one process-wide allocator, never reused, so no two instances of the
//     process collide and a processing handle never equals a camera's (vyxpDeinitPlugin looks for
//     a camera first and would close it);
//   - one process-wide lock (plugin_gate.h) keeps the plug-in's unlocked registries consistent,
//     while different cameras still grab side by side;
//   - settings are checked against the camera's ranges, and a refused value leaves the camera as
//     it was;
//   - failures are told apart (stalled, lost, refused, bad address), each keeping the call, the
//     result code's name and the plug-in's text;
//   - a lost camera is closed at most once and reopened with exactly the settings it had
//     accepted;
//   - closing a camera that stopped answering never blocks the caller.
//
// A Camera is used by one thread at a time for grabbing and settings (an internal lock makes
// other uses wait); state(), counters() and the conversion may be called from any thread.
#ifndef VYXHOST_CAMERA_H
#define VYXHOST_CAMERA_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "vyxhost/lens.h"
#include "vyxhost/vyxhost.h"

namespace vyxhost {

// Where the plug-in reaches a camera's control (XML-RPC).
constexpr uint16_t kControlPort = 8080;

enum class CameraState {
  Streaming,     // frames arrive
  Stalled,       // open, but no frame for three frame periods
  Lost,          // the camera stopped answering or the connection went; not yet reopened
  Reconnecting,  // an attempt to reopen is under way
  Closed,
};
// "streaming", "stalled", "lost", "reconnecting", "closed"
const char* stateName(CameraState state);

enum class FailureKind {
  Stalled,         // a bounded wait ran out: the camera stopped answering
  Lost,            // the connection was closed or reset
  Refused,         // the camera or the plug-in refused a value
  InvalidAddress,  // the address cannot name a camera
  Other,
};
const char* failureName(FailureKind kind);

// A plug-in call that failed, told apart. what() is a whole sentence for a user: the call, the
// code's name and number, the plug-in's text, and what the session knows (how long it waited).
class CameraError : public CallError {
 public:
  // what(): "CALL failed: NAME (CODE): TEXT; CONTEXT".
  CameraError(FailureKind kind, const std::string& call, int code, std::string text,
              const std::string& context, double waitedSeconds = 0);
  FailureKind kind() const { return kind_; }
  const std::string& call() const { return call_; }
  double waitedSeconds() const { return waited_; }

 private:
  FailureKind kind_;
  std::string call_;
  double waited_;
};

struct ValueRange {
  unsigned min = 0;
  unsigned max = 0;
  bool contains(unsigned v) const { return v >= min && v <= max; }
};

// One frame as the plug-in handed it.
struct Frame {
  uint64_t sequence = 0;  // frames delivered since the camera was opened, from 0
  std::vector<uint8_t> raw;
  VYXDataDescription description{};
  int64_t utcNs = 0;                             // host UTC when vyxpUpdate returned
  int64_t monotonicNs = 0;                       // host steady clock at the same moment
  double latencySeconds = 0;                     // from asking for the frame to vyxpUpdate's return
  unsigned integrationTime(unsigned idx) const;  // from the description; 0 when absent
};

// A converted image's shape.
struct ImageShape {
  uint32_t rows = 0;
  uint32_t columns = 0;
  size_t pixels() const { return size_t{rows} * columns; }
};

struct Counters {
  uint64_t frames = 0;
  uint64_t imageBlocks = 0;               // image blocks delivered in those frames
  std::optional<uint64_t> retriedImages;  // when the door can count the camera's requests
  uint64_t stalls = 0;
  uint64_t losses = 0;
  uint64_t reconnects = 0;
  double lastLatencySeconds = 0;
};

// The settings a camera has accepted; what a reopened camera gets again.
struct AcceptedSettings {
  std::optional<unsigned> itime0, itime1, fps;
};

// Converts frames with a processing instance of its own; for frames of a camera or of a
// recording alike. Safe to call from several threads (one conversion at a time).
class FrameConverter {
 public:
  // Throws LoadError and CallError.
  explicit FrameConverter(std::shared_ptr<const Plugin> plugin);
  ~FrameConverter();
  FrameConverter(const FrameConverter&) = delete;
  FrameConverter& operator=(const FrameConverter&) = delete;

  // Bytes an output type (VYX_TYPE_...) needs from this frame, or -1 when it holds none.
  int imageBytes(uint32_t outputType, const VYXDataDescription& raw) const;
  // Converts straight into out (outBytes of room). Returns false, out untouched, when the frame
  // holds no such image or outBytes is too small for it; throws CameraError when the plug-in
  // refuses.
  bool convert(uint32_t outputType, const VYXDataDescription& raw, const void* rawBytes, void* out,
               size_t outBytes, ImageShape* shape = nullptr) const;
  const Plugin& plugin() const { return *plugin_; }

 private:
  std::shared_ptr<const Plugin> plugin_;
  unsigned int id_;
  mutable std::mutex mutex_;
};

struct CameraOptions {
  std::string address;
  std::string pluginPath;  // "" = the usual lookup (locate.h)
  // Between attempts to reopen a lost camera.
  std::chrono::milliseconds reconnectInterval{2000};
  // Called on the thread that noticed the change (a grabbing thread, or the session's watch
  // thread for stalls), with a reason for a user; must only hand the news on.
  std::function<void(CameraState, const std::string& reason)> onState;
  // Image requests the camera received so far, when the door can know (its own simulator);
  // gives Counters::retriedImages.
  std::function<std::optional<uint64_t>()> requestsReceived;
  // The camera's lens (a calibration file, or the simulator's own model); none: the nominal
  // lens, which every output then says it is.
  std::optional<LensModel> lens;
};

class Camera {
 public:
  // Loads the plug-in (once per file in the process) and opens the camera. Throws LoadError
  // and CameraError; a failed opening leaves nothing open.
  explicit Camera(CameraOptions options);
  // Closes: at once when the camera answers; otherwise the closing finishes in the background
  // and the destructor returns.
  ~Camera();
  Camera(const Camera&) = delete;
  Camera& operator=(const Camera&) = delete;

  const std::string& address() const;
  const Plugin& plugin() const;
  const FrameConverter& converter() const;
  CameraState state() const;
  Counters counters() const;
  AcceptedSettings accepted() const;
  // The lens given in the options, or the nominal one (LensModel::nominal tells).
  const LensModel& lens() const;

  // The next frame into frame (its buffer is reused). Throws CameraError; after Stalled or
  // Lost the camera is Lost and reconnect() may bring it back.
  void grab(Frame& frame);

  // One attempt to reopen a lost camera, no sooner than the interval after the last: the lost
  // instance is closed (in the background, at most once), the camera opened again, and every
  // accepted setting applied again on its own. Returns false when the camera is not back yet.
  // Settings that failed to apply are named in failedSettings (the camera streams regardless).
  bool reconnect(std::vector<std::string>* failedSettings = nullptr);
  // When the next attempt may be made.
  std::chrono::steady_clock::time_point nextAttempt() const;

  // Bytes an output type of the host's data types (VYX_TYPE_...) needs from this frame, or -1
  // when the frame holds none.
  int imageBytes(uint32_t outputType, const Frame& frame) const;
  // Converts straight into out (outBytes of room). Returns false, out untouched, when the frame
  // holds no such image; throws CameraError when the plug-in refuses.
  bool convert(uint32_t outputType, const Frame& frame, void* out, size_t outBytes,
               ImageShape* shape = nullptr) const;

  // Settings. Values are checked against the ranges before the camera is touched; a refused
  // value leaves the camera as it was (CameraError of kind Refused).
  ValueRange integrationTimeRange(unsigned idx);
  unsigned integrationTime(unsigned idx);
  void setIntegrationTime(unsigned idx, unsigned microseconds);
  // The frame rate's range: 1 up to the highest rate the camera has taken or answered.
  ValueRange frameRateRange() const;
  unsigned frameRate();
  void setFrameRate(unsigned fps);
  unsigned modulationFrequency();
  void setModulationFrequency(unsigned hz);
  std::string info(const std::string& key);
  std::string command(const std::string& text);

  // Closes now (see the destructor). Idempotent.
  void close();
  // What the last close() left to the background, for a user ("the camera at A no longer
  // answered; it is closed in the background ..."); empty when the camera closed at once.
  std::string closeNote() const;

 private:
  struct Impl;
  std::shared_ptr<Impl> impl_;
};

// The plug-in file loaded once per path for the whole process, shared by every camera and every
// door in it. Throws LoadError.
std::shared_ptr<const Plugin> sharedPlugin(const std::string& path);

}  // namespace vyxhost

#endif
