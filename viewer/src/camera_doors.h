// What the pages of one camera connect to: where its commands go and where its frames and
// status come from. The viewer has one per camera (a replay: one for the recording); the page's
// WebSocket /ws?camera=N is camera N's, /ws camera 0's.
#pragma once

#include <string>
#include <vector>

namespace vyxview {

class CommandSink;
class FrameHub;

struct CameraDoor {
  CommandSink* commands = nullptr;
  FrameHub* hub = nullptr;
  std::string name;     // the camera's name in recordings
  std::string address;  // or the file a replay plays
};
using CameraDoors = std::vector<CameraDoor>;

}  // namespace vyxview
