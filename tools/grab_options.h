// vyxgrab's command line.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "vyxhost/tof_filters.h"
#include "vyxrec/frame_writer.h"

namespace vyxgrab {

using vyxrec::FixedRange;
using vyxrec::OutputSelection;

struct GrabOptions {
  std::string pluginPath;  // --plugin, or the default given to the parser (empty: search)
  std::string address;     // --address; empty with --simulate; the first of addresses
  bool simulate = false;
  std::string name = "cam0";  // --name: the camera's name in a recording; the first of names
  // Every --address in order, and a name for each (--name in order, then cam1, cam2, ...).
  // Several cameras record into one .mcap, each grabbing on a thread of its own.
  std::vector<std::string> addresses, names;
  bool keepGoing = false;          // --keep-going: a failed camera leaves the others grabbing
  std::string replayDir;           // --replay (a folder or an .mcap file), only with --simulate
  bool realtime = false;           // --realtime, only with --simulate
  std::string convert;             // --convert FILE.mcap: per-frame files from a recording
  std::vector<std::string> merge;  // --merge A.mcap B.mcap ...: joined into --out NAME.mcap
  // --out: a folder of per-frame files, or one recording when it ends in ".mcap".
  std::string outDir = "vyxgrab-frames";
  uint64_t frames = 10;  // 0 = until interrupted
  std::optional<uint32_t> itime0, itime1, fps;
  uint32_t zoom = 4;
  OutputSelection write;
  bool ply = false;                 // --write ply: the frame's valid points
  std::string calibration;          // --calibration FILE; empty: the simulator's or nominal lens
  vyxhost::FilterSettings filters;  // for the points; --no-filters turns them off
  std::map<std::string, FixedRange> ranges;  // by image type name ("distance", ...)
  bool overwrite = false;                    // --overwrite: replace the run already in --out
  bool help = false;
  bool version = false;
};

// True when --out names one recording file rather than a folder.
bool recordsToMcap(const GrabOptions& options);
// True with more than one --address: a rig of cameras.
inline bool grabsRig(const GrabOptions& options) { return options.addresses.size() > 1; }

// A command line that cannot be used; the message is meant for the user.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Parses the arguments after the program name. Options take their value as the next argument or
// after '=' (--frames=5).
GrabOptions parseGrabOptions(const std::vector<std::string>& args,
                             const std::string& defaultPlugin);

// pluginSearch: where the plug-in is looked for, one line per place (see vyxhost/locate.h).
std::string grabUsage(const std::string& pluginSearch);

}  // namespace vyxgrab
