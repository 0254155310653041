#include "grab_options.h"

#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "vyxhost/output_types.h"

namespace vyxgrab {

namespace {

uint64_t parseNumber(const std::string& option, const std::string& text, uint64_t min,
                     uint64_t max) {
  const std::string range = std::to_string(min) + " to " + std::to_string(max);
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
    throw UsageError(option + " needs a whole number from " + range + ", not '" + text + "'");
  }
  uint64_t value = 0;
  for (char c : text) {
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (value > (max - digit) / 10) {
      throw UsageError(option + " " + text + " is too large (at most " + std::to_string(max) + ")");
    }
    value = value * 10 + digit;
  }
  if (value < min) throw UsageError(option + " needs a whole number from " + range);
  return value;
}

uint32_t parseUint32(const std::string& option, const std::string& text, uint32_t min) {
  return static_cast<uint32_t>(
      parseNumber(option, text, min, std::numeric_limits<uint32_t>::max()));
}

OutputSelection parseWrite(const std::string& text) {
  OutputSelection w{false, false, false, false};
  size_t start = 0;
  bool any = false;
  for (;;) {
    const size_t comma = text.find(',', start);
    const std::string item = text.substr(start, comma == std::string::npos ? comma : comma - start);
    if (item == "npy") {
      w.npy = true;
    } else if (item == "png") {
      w.png = true;
    } else if (item == "preview") {
      w.preview = true;
    } else if (item == "raw") {
      w.raw = true;
    } else {
      throw UsageError(
          "--write takes a list of npy, png, preview, raw (e.g. --write npy,raw), not '" + item +
          "'");
    }
    any = true;
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  if (!any) throw UsageError("--write needs at least one of npy, png, preview, raw");
  return w;
}

bool parseFloat(const std::string& text, float& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || !std::isfinite(v) ||
      std::fabs(v) > std::numeric_limits<float>::max())
    return false;
  out = static_cast<float>(v);
  return true;
}

// TYPE=MIN:MAX, TYPE one of the output type names.
void parseRange(const std::string& text, std::map<std::string, FixedRange>& ranges) {
  const size_t eq = text.find('=');
  const size_t colon = text.find(':', eq == std::string::npos ? 0 : eq);
  const std::string form =
      "--range needs TYPE=MIN:MAX (e.g. --range distance=0.5:3), not '" + text + "'";
  if (eq == std::string::npos || colon == std::string::npos) throw UsageError(form);
  const std::string type = text.substr(0, eq);
  bool known = false;
  std::string names;
  for (const vyxhost::OutputType& t : vyxhost::outputTypes()) {
    known = known || type == t.name;
    names += std::string(names.empty() ? "" : ", ") + t.name;
  }
  if (!known) throw UsageError("--range: unknown image type '" + type + "'; one of " + names);
  FixedRange r;
  if (!parseFloat(text.substr(eq + 1, colon - eq - 1), r.min) ||
      !parseFloat(text.substr(colon + 1), r.max))
    throw UsageError(form);
  if (!(r.max > r.min)) throw UsageError("--range " + text + ": MAX must be larger than MIN");
  ranges[type] = r;
}

// CLI11's own words for a command line it cannot use, in vyxgrab's.
UsageError usageErrorFrom(const CLI::ParseError& e) {
  const std::string what = e.what();
  if (dynamic_cast<const CLI::ExtrasError*>(&e) != nullptr) {
    const size_t colon = what.find(": ");
    return UsageError("unknown option '" +
                      (colon == std::string::npos ? what : what.substr(colon + 2)) + "'");
  }
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&e) != nullptr) {
    std::string name = what.substr(0, what.find_first_of(": "));
    if (name.rfind('-', 0) != 0) name = "--" + name;
    if (what.find("flag override") != std::string::npos)
      return UsageError(name + " takes no value");
    return UsageError(name + " needs a value");
  }
  return UsageError(what);
}

}  // namespace

GrabOptions parseGrabOptions(const std::vector<std::string>& args,
                             const std::string& defaultPlugin) {
  GrabOptions o;
  o.pluginPath = defaultPlugin;
  // Values are taken as text and checked below, so that every message says what is wanted.
  std::string address, replay, plugin, out, frames, itime0, itime1, fps, zoom, write;
  std::vector<std::string> ranges;
  CLI::App app("vyxgrab");
  app.set_help_flag();  // -h is ours: the usage text is grabUsage()
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  for (auto [names, flag] : {std::pair{"-h,--help", &o.help},
                             {"--version", &o.version},
                             {"--overwrite", &o.overwrite},
                             {"--simulate", &o.simulate},
                             {"--realtime", &o.realtime}}) {
    app.add_flag(names, *flag)->disable_flag_override();
  }
  for (auto [name, text] : {std::pair{"--address", &address},
                            {"--replay", &replay},
                            {"--plugin", &plugin},
                            {"--out", &out},
                            {"--frames", &frames},
                            {"--itime0", &itime0},
                            {"--itime1", &itime1},
                            {"--fps", &fps},
                            {"--zoom", &zoom},
                            {"--write", &write}}) {
    app.add_option(name, *text);
  }
  app.add_option("--range", ranges)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  // CLI11 wants argv order with the program name first and parses from the back.
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& e) {
    throw usageErrorFrom(e);
  }
  auto given = [&app](const char* name) { return app.count(name) > 0; };

  const bool haveAddress = given("--address");
  if (haveAddress) {
    o.address = address;
    if (o.address.empty()) throw UsageError("--address needs a host name or IPv4 address");
  }
  if (given("--replay")) {
    o.replayDir = replay;
    if (o.replayDir.empty()) throw UsageError("--replay needs a directory");
  }
  if (given("--plugin")) {
    o.pluginPath = plugin;
    if (o.pluginPath.empty()) throw UsageError("--plugin needs a file");
  }
  if (given("--out")) {
    o.outDir = out;
    if (o.outDir.empty()) throw UsageError("--out needs a directory");
  }
  if (given("--frames"))
    o.frames = parseNumber("--frames", frames, 0, std::numeric_limits<uint64_t>::max());
  if (given("--itime0")) o.itime0 = parseUint32("--itime0", itime0, 0);
  if (given("--itime1")) o.itime1 = parseUint32("--itime1", itime1, 0);
  if (given("--fps")) o.fps = parseUint32("--fps", fps, 0);
  if (given("--zoom")) o.zoom = static_cast<uint32_t>(parseNumber("--zoom", zoom, 1, 32));
  if (given("--write")) o.write = parseWrite(write);
  for (const std::string& r : ranges) parseRange(r, o.ranges);
  if (o.help || o.version) return o;
  if (o.simulate && haveAddress) {
    throw UsageError(
        "--simulate and --address exclude each other: the simulated camera has its "
        "own address");
  }
  if (!o.simulate && !haveAddress) {
    throw UsageError("say where the camera is: --address HOST, or --simulate for a simulated one");
  }
  if (!o.simulate && !o.replayDir.empty()) throw UsageError("--replay works only with --simulate");
  if (!o.simulate && o.realtime) throw UsageError("--realtime works only with --simulate");
  return o;
}

std::string grabUsage(const std::string& pluginSearch) {
  return R"(vyxgrab - grab frames from a camera through the camera plug-in and save them as files

Usage:
  vyxgrab --simulate [OPTIONS]        grab from a simulated camera started inside vyxgrab
  vyxgrab --address HOST [OPTIONS]    grab from the camera at HOST

Camera:
  --address HOST   the camera's host name or IPv4 address
  --simulate       start a simulated camera in this process on a free loopback address
                   (127.x.y.z) and grab from it; nothing else has to run
  --replay DIR     with --simulate: serve the frames recorded in DIR (its frame_*.raw files, as
                   written by an earlier run) instead of the synthetic scene, byte for byte;
                   the recording is repeated when it runs out
  --realtime       with --simulate: deliver images at the camera's frame rate instead of as
                   fast as possible
  --plugin FILE    the plug-in object to load; without it the first of these is loaded:
)" + pluginSearch +
         R"(
Camera settings, checked against the ranges the plug-in gives (nothing is written to the camera
if one is out of range), then applied in this order before the first frame:
  --itime0 US      integration time 0 in microseconds (the plug-in takes 1 to 5000)
  --itime1 US      integration time 1 in microseconds (the plug-in takes 1 to 5000)
  --fps N          frame rate in frames per second, at least 1 (sent as the command "SetFPS N";
                   the camera may refuse rates it cannot do)

Output:
  --frames N       frames to grab (default 10; 0 = until Ctrl-C)
  --out DIR        output directory, created if missing (default ./vyxgrab-frames); a
                   directory that holds another run (its run.json) is refused
  --overwrite      remove the run already in --out (the files its run.json lists) first
  --write LIST     the files to write per frame, any of npy,png,preview,raw (default all)
  --range TYPE=MIN:MAX
                   fixed colour scale of the previews of one image type, e.g.
                   distance=0.5:3; without it each type keeps the scale of its first frame.
                   Values outside are clipped and counted in the summary
  --zoom N         enlarge the preview images N times (default 4, 1 to 32)
  --version        show the versions of vyxgrab and of the plug-in it would load
  -h, --help       show this text

Files written per frame (NNNNN = frame number from 00000):
  frame_NNNNN.raw                the frame's bytes as the plug-in hands them out
  frame_NNNNN.desc               their 128-byte data description
  frame_NNNNN_CODE_NAME.npy      float32 image, shape (rows, columns); numpy.load reads it
  frame_NNNNN_CODE_NAME.png      16-bit grayscale: the image's finite min..max as 1..65535,
                                 0 for NaN and infinity; min, max and unit are stored in the
                                 file as text lvt:min, lvt:max, lvt:unit
  frame_NNNNN_CODE_NAME_preview.png
                                 false-colour view, enlarged, with a colour bar; all previews
                                 of a run have the same size
  run.json                       the run: versions, camera, settings, per frame time stamps,
                                 integration times and file names
  for each image type the frame allows, CODE_NAME one of 10001_distance, 10002_amplitude,
  10004_intensity, 10020_x, 10040_y, 10080_z.

Ctrl-C (or SIGTERM, SIGHUP) stops after the current frame, prints the summary and closes the
camera; a second one quits at once.

Exit status: 0 all frames grabbed; 1 an error (the message names the plug-in call, its result
code and the plug-in's error text); 2 a bad command line; 128 + the signal's number when stopped
by a signal (130 Ctrl-C, 143 SIGTERM, 129 SIGHUP).

Examples:
  vyxgrab --simulate --frames 5 --out /tmp/grab
  vyxgrab --address 192.0.2.10 --itime0 500 --itime1 2000 --fps 20 --frames 100 --out run1
  vyxgrab --simulate --replay run1 --frames 100 --out run1-again
)";
}

}  // namespace vyxgrab
