// What a grab did, filled in as it goes so that an interrupted or failed grab can still be
// summarised, and the summary text printed at the end.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vyxgrab {

struct GrabReport {
  std::string address;
  std::string cameraNote;  // e.g. "simulated camera"; shown after the address
  std::string outDir;
  std::string lens;  // the lens the points are made with: where it came from, or "nominal lens"
  uint64_t framesWanted = 0;  // 0 = open-ended

  // The step under way; names the failing step in an error message.
  std::string stage;

  uint64_t frames = 0;  // frames grabbed and written completely
  double seconds = 0;   // from the first grab to the end, including any wait that failed
  // When the first and the last frame arrived, seconds after the first grab began. The summary's
  // time and rate are the frames' own: the intervals between these two.
  double firstFrameAt = 0, lastFrameAt = 0;
  // A wait for the next frame that ran out (the camera stopped answering); 0 if none.
  double waitAfterLastFrame = 0;
  uint64_t imageBlocks = 0;               // image blocks in the frames the plug-in delivered
  std::optional<uint64_t> retriedImages;  // images the camera was asked for again (simulator only)
  // The session's other counters (vyxhost::Counters); a rig's summary shows them per camera.
  uint64_t stalls = 0, losses = 0, reconnects = 0;
  double lastLatencySeconds = 0;

  // The last frame as the plug-in described it.
  uint64_t frameBytes = 0;
  uint32_t columns = 0, rows = 0;
  std::vector<int> cameraImageTypes;
  std::vector<std::string> outputs;  // "distance (0x10001)", ... in the order first made

  std::optional<std::array<uint32_t, 2>> itimeSetting;  // vyxpGetIntegrationTime
  std::optional<std::array<int32_t, 2>> itimeFrame;     // the last frame's description
  std::optional<std::string> fps;                       // vyxpGetInfo "FPS"

  uint64_t files = 0, fileBytes = 0;
  std::vector<std::string> sameImages;  // "intensity has the same pixels as amplitude", once each
  struct Clipping {
    std::string type;
    float min = 0, max = 0;
    uint64_t values = 0;
  };
  std::vector<Clipping> clipped;  // preview scales and what fell outside them
  std::string closeNote;          // closing the camera took long or failed
  bool interrupted = false;
  int stopSignal = 0;  // the signal that stopped the grab, 0 if none
};

// Frames per second over the intervals between the first and the last frame; 0 below two frames.
// The summary shows it with that span as the time: "10 from A in 9.00 s, 1.0 frames/s".
double frameRate(const GrabReport& report);

// Several lines, each ending in a newline.
std::string formatSummary(const GrabReport& report);

// One camera of a rig: its own report, and why it ended early ("" if it did not fail).
struct RigCameraReport {
  std::string name;
  GrabReport report;
  std::string failure;
};

// A rig's summary: a line per camera (frames, rate, stalls, losses, reconnects, latency, how it
// ended), then the frame layout of the first camera that delivered one, the topics and the file.
std::string formatRigSummary(const std::vector<RigCameraReport>& cameras,
                             const std::string& outPath);

}  // namespace vyxgrab
