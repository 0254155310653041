// Simulated network camera: an XML-RPC control server and a TCP image server on one loopback
// address, with knobs to inject faults and a log of everything a client did.
#pragma once

#include <XmlRpcValue.h>

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "lvtwire/frame_format.h"
#include "vyxhost/lens.h"

namespace lvtsim {

// The lens the simulated camera renders through unless told otherwise: the nominal pinhole's
// numbers, but exact for this camera (not nominal), with source saying so.
vyxhost::LensModel simulatedLens();

// What the synthetic camera looks at: the tilted wall with the swinging sphere (scene.h), or the
// printed calibration checkerboard moving through its poses (checkerboard_scene.h).
enum class SceneKind : uint8_t { WallAndSphere, Checkerboard };

struct CameraConfig {
  std::string address = "127.0.0.1";  // bind address for both channels; must be in 127.0.0.0/8
  uint16_t controlPort = 8080;
  uint16_t dataPort = 0;  // 0 = any free port on address
  // Header bytes per image; any value >= 8 is served as given.
  unsigned headerSize = lvtwire::kShortHeader.bytes;
  unsigned columns = lvtwire::kColumns,
           rows = lvtwire::kRows;  // image data = columns * rows * 4 bytes
  uint32_t seed = 1;               // deterministic scene
  // Integration times 1000 and 2000 us, 25 frames per second (lvtwire::frontend names the words).
  std::array<int32_t, lvtwire::kFrontendWords> frontend = {0, 0, 0, 0, 1000, 2000, 0, 25, 0};
  int minFps = 1, maxFps = 30;
  std::map<char, int> imageTypeFor = {{'d', 1}, {'i', 2}};  // image type answered per request byte
  bool realtime = false;  // pace images at the current frame rate instead of as fast as possible
  // The lens the scene is seen through; a door's built-in simulator hands this to its user.
  vyxhost::LensModel lens = simulatedLens();
  SceneKind scene = SceneKind::WallAndSphere;
};

enum class RpcFault {
  None,
  Fault,       // XML-RPC fault response
  WrongShape,  // answer a string instead of an array
  ShortArray,  // answer [0] only
  Silent,      // accept the call, never answer until stop(); the connection is then dropped
  Close,       // close the HTTP connection without answering
};

// Replaces parts of the next answered image for one request byte.
struct ImageOverride {
  // Header words as sent. headerSize and size also set how many header and data bytes follow:
  // the value truncated and clamped to [8, kMaxHeaderBytes] resp. [0, kMaxDataBytes] (NaN keeps
  // the normal count). Data beyond the rendered image is zero-filled.
  std::optional<float> size, headerSize, imageType, validity, itime0, itime1;
  // Send at most this many bytes of the answer, then close the connection (also when the whole
  // answer fits).
  std::optional<size_t> closeAfterBytes;
  // Read the request but never answer; later request bytes on the connection are logged and
  // not answered either. Ends when the client closes the connection or on stop().
  bool silent = false;
  std::optional<std::vector<uint8_t>> raw;  // send exactly these bytes as the answer instead
};

constexpr size_t kMaxHeaderBytes = size_t{1} << 20;
constexpr size_t kMaxDataBytes = size_t{64} << 20;

// One XML-RPC request as the camera received it.
struct RpcCall {
  std::string method;
  // The parameters as parsed: an invalid value when the request had no parameter at all,
  // otherwise an array with one element per <param> (an empty <param> gives an invalid element).
  XmlRpc::XmlRpcValue params;
  // Readable form with typed values, e.g. MDAXMLConnectCP("127.0.0.1", 1) or
  // MDAXMLGetTCPPortCP(); an empty <param> shows as <none>, doubles carry a decimal point.
  std::string text;
  std::string requestXml;  // the request body exactly as received

  int paramCount() const;  // 0 when the request had no parameters
};

class Camera {
 public:
  explicit Camera(CameraConfig cfg = {});
  ~Camera();  // stops
  Camera(const Camera&) = delete;
  Camera& operator=(const Camera&) = delete;

  // Binds both channels and serves on background threads. Throws std::runtime_error on a bind
  // failure and std::invalid_argument for a non-loopback address or an unusable config.
  // A stopped camera may be started again; it keeps its data port and its state.
  void start();
  // Closes everything, joins the threads and releases silent waits. Idempotent.
  void stop();
  bool running() const;

  // The configuration given at construction (live values: frontend(), setFpsRange()).
  const CameraConfig& config() const;
  uint16_t dataPort() const;  // the real bound data port (0 before the first start())

  // --- fault knobs (thread-safe; callable before or while running) ---
  // count -1: every call from now on; n: the next n calls. RpcFault::None clears.
  void setRpcFault(const std::string& method, RpcFault fault, int count = -1);
  // What MDAXMLGetTCPPortCP answers instead of the real port; nullopt = the real port.
  void setAnnouncedPort(std::optional<uint32_t> port);
  // false closes the data listener so connects are refused (connections not yet accepted are
  // dropped, open ones keep working); true binds the same port again.
  void setDataPortListening(bool listening);
  void queueImage(char request, ImageOverride o);  // FIFO per request byte
  void setSplitIntoSingleBytes(bool on);  // one send() call per answer byte, with TCP_NODELAY
  void setFpsRange(int minFps, int maxFps);
  // Extra adjustment of written front-end values, run after clamping (e.g. refuse a rate).
  // Called without the camera's lock held, so it may call frontend().
  void setFrontendWriteAdjust(std::function<void(std::array<int32_t, 9>&)> adjust);
  // Replays recorded frames: each frame is a sequence of image blocks as on the wire (header word
  // 0 = data size, word 1 = header size). Every request byte is answered with the next block in
  // order, looping over all frames. Throws std::invalid_argument for a malformed frame.
  // An empty vector switches back to the synthetic scene.
  void setReplay(const std::vector<std::vector<uint8_t>>& frames);

  // --- what happened (thread-safe) ---
  std::vector<RpcCall> calls() const;
  std::vector<uint8_t> dataRequests() const;  // every byte received on the data port, in order
  std::vector<std::string> methodNames() const;
  void clearLog();  // empties calls, requests and last answers (counters are kept)
  size_t connectionsAccepted() const;  // data-port connections accepted so far
  size_t openDataConnections() const;
  // Waits until openDataConnections() == n; false if that did not happen within the timeout.
  bool waitForOpenDataConnections(size_t n, std::chrono::milliseconds timeout) const;
  std::array<int32_t, lvtwire::kFrontendWords> frontend() const;  // what the camera holds now
  // The bytes of the last answer sent for that request byte (as far as it was sent when
  // closeAfterBytes applied); empty if none. Recorded before the first byte goes out.
  std::vector<uint8_t> lastAnswer(char request) const;
  // Images answered so far for that request byte; also the next frame number it will render.
  uint64_t framesAnswered(char request) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace lvtsim
