// vyxcalib's command line.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace vyxcalib {

struct CalibOptions {
  std::string pluginPath;     // --plugin; empty: the usual search
  std::string address;        // --address
  bool simulate = false;      // --simulate: a built-in simulated camera showing the target
  std::string replay;         // --replay: a .mcap recording or a recording folder
  int columns = 0, rows = 0;  // --board: inner corners across and down
  double square = 0.0;        // --square: metres
  uint64_t frames = 200;      // --frames: images to look at
  std::string showDir;        // --show: accepted views as PNG with the corners drawn
  std::string out = "lens.json";
  bool help = false;
};

// A command line that cannot be used; the message is meant for the user.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Parses the arguments after the program name; --board and --square default to the printed
// target we ship (vyxhost/calibration_target.h).
CalibOptions parseCalibOptions(const std::vector<std::string>& args);

std::string calibUsage();

}  // namespace vyxcalib
