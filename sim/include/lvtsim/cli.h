// Command line of the lvtcamsim tool.
#pragma once

#include <string>
#include <vector>

#include "lvtsim/camera.h"

namespace lvtsim {

struct CliOptions {
  CameraConfig camera;
  std::string replayDir;         // a folder or an .mcap file; empty = synthetic scene
  bool fpsGiven = false;         // --fps given: a replay keeps it instead of the recorded pace
  std::string writeCalibration;  // where to write camera.lens before serving; empty = nowhere
  bool help = false;
};

// Parses the arguments after the program name. Throws std::invalid_argument with a message fit
// for the user on a bad option, a bad number or a non-loopback address.
CliOptions parseCli(const std::vector<std::string>& args);

std::string cliUsage();

}  // namespace lvtsim
