// vyxgrab's command line.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace vyxgrab {

// The files written per frame (--write).
struct OutputSelection {
  bool npy = true, png = true, preview = true, raw = true;
};

// A fixed colour scale for the previews of one image type (--range TYPE=MIN:MAX).
struct FixedRange {
  float min = 0, max = 0;
};

struct GrabOptions {
  std::string pluginPath;  // --plugin, or the default given to the parser (empty: search)
  std::string address;     // --address; empty with --simulate
  bool simulate = false;
  std::string replayDir;  // --replay, only with --simulate
  bool realtime = false;  // --realtime, only with --simulate
  std::string outDir = "vyxgrab-frames";
  uint64_t frames = 10;  // 0 = until interrupted
  std::optional<uint32_t> itime0, itime1, fps;
  uint32_t zoom = 4;
  OutputSelection write;
  std::map<std::string, FixedRange> ranges;  // by image type name ("distance", ...)
  bool overwrite = false;                    // --overwrite: replace the run already in --out
  bool help = false;
  bool version = false;
};

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
