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
  uint64_t framesWanted = 0;  // 0 = open-ended

  // The step under way; names the failing step in an error message.
  std::string stage;

  uint64_t frames = 0;  // frames grabbed and written completely
  double seconds = 0;   // from the first update to the last file of the last frame
  uint64_t imageBlocks = 0;
  std::optional<uint64_t> requestsSent;  // image requests the camera received (simulator only)

  // The last frame as the plug-in described it.
  uint64_t frameBytes = 0;
  uint32_t columns = 0, rows = 0;
  std::vector<int> cameraImageTypes;
  std::vector<std::string> outputs;  // "distance (0x10001)", ... in the order first made

  std::optional<std::array<uint32_t, 2>> itimeSetting;  // vyxpGetIntegrationTime
  std::optional<std::array<int32_t, 2>> itimeFrame;     // the last frame's description
  std::optional<std::string> fps;                       // vyxpGetInfo "FPS"

  uint64_t files = 0, fileBytes = 0;
  bool interrupted = false;
};

// Several lines, each ending in a newline.
std::string formatSummary(const GrabReport& report);

}  // namespace vyxgrab
