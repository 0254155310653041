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

OutputSelection parseWrite(const std::string& text, bool& ply) {
  OutputSelection w{false, false, false, false};
  ply = false;
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
    } else if (item == "ply") {
      ply = true;
    } else {
      throw UsageError(
          "--write takes a list of npy, png, preview, raw, ply (e.g. --write npy,raw), not '" +
          item + "'");
    }
    any = true;
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  if (!any) throw UsageError("--write needs at least one of npy, png, preview, raw, ply");
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

float parseFilterValue(const std::string& option, const std::string& text) {
  float v = 0;
  if (!parseFloat(text, v) || v < 0)
    throw UsageError(option + " needs a number of at least 0 (0 turns the test off), not '" + text +
                     "'");
  return v;
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

// One name per camera: the --name given in order, then camN for the N-th camera without one.
void nameCameras(GrabOptions& o, const std::vector<std::string>& given) {
  const size_t cameras = o.simulate ? 1 : o.addresses.size();
  if (given.size() > cameras) {
    throw UsageError(std::to_string(given.size()) + " names (--name) for " +
                     std::to_string(cameras) + (cameras == 1 ? " camera" : " cameras") +
                     "; give one --address per --name");
  }
  o.names = given;
  for (size_t k = o.names.size(); k < cameras; ++k) o.names.push_back("cam" + std::to_string(k));
  for (size_t k = 0; k < o.names.size(); ++k) {
    for (size_t j = 0; j < k; ++j) {
      if (o.names[j] == o.names[k])
        throw UsageError("the name " + o.names[k] + " is given to two cameras (" +
                         (o.simulate ? std::string("the simulated one") : o.addresses[j]) +
                         " and " + o.addresses[k] + "); each needs a --name of its own");
    }
  }
  if (cameras < 2) return;
  if (!recordsToMcap(o))
    throw UsageError(
        "several cameras record into one file: give --out NAME.mcap (a folder "
        "holds one camera's frames)");
  if (!o.calibration.empty())
    throw UsageError(
        "--calibration is one camera's lens; with several cameras each records "
        "the lens its session reports");
}

}  // namespace

GrabOptions parseGrabOptions(const std::vector<std::string>& args,
                             const std::string& defaultPlugin) {
  GrabOptions o;
  o.pluginPath = defaultPlugin;
  // Values are taken as text and checked below, so that every message says what is wanted.
  std::string replay, plugin, out, frames, itime0, itime1, fps, zoom, write, convert, calibration,
      minAmplitude, saturation, minDistance, maxDistance, flying, median;
  bool noFilters = false;
  std::vector<std::string> ranges;
  CLI::App app("vyxgrab");
  app.set_help_flag();  // -h is ours: the usage text is grabUsage()
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  for (auto [names, flag] : {std::pair{"-h,--help", &o.help},
                             {"--version", &o.version},
                             {"--overwrite", &o.overwrite},
                             {"--simulate", &o.simulate},
                             {"--no-filters", &noFilters},
                             {"--keep-going", &o.keepGoing},
                             {"--realtime", &o.realtime}}) {
    app.add_flag(names, *flag)->disable_flag_override();
  }
  for (auto [name, text] : {std::pair{"--replay", &replay},
                            {"--plugin", &plugin},
                            {"--out", &out},
                            {"--frames", &frames},
                            {"--itime0", &itime0},
                            {"--itime1", &itime1},
                            {"--fps", &fps},
                            {"--zoom", &zoom},
                            {"--write", &write},
                            {"--convert", &convert},
                            {"--calibration", &calibration},
                            {"--min-amplitude", &minAmplitude},
                            {"--saturation", &saturation},
                            {"--min-distance", &minDistance},
                            {"--max-distance", &maxDistance},
                            {"--flying", &flying},
                            {"--temporal-median", &median}}) {
    app.add_option(name, *text);
  }
  std::vector<std::string> addresses, names;
  for (auto [name, list] :
       {std::pair{"--range", &ranges}, {"--address", &addresses}, {"--name", &names}})
    app.add_option(name, *list)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  std::vector<std::string> merge;
  app.add_option("--merge", merge)
      ->expected(1, -1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  // CLI11 wants argv order with the program name first and parses from the back.
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& e) {
    throw usageErrorFrom(e);
  }
  auto given = [&app](const char* name) { return app.count(name) > 0; };

  const bool haveAddress = given("--address");
  for (const std::string& address : addresses) {
    if (address.empty()) throw UsageError("--address needs a host name or IPv4 address");
    for (const std::string& earlier : o.addresses) {
      if (earlier == address)
        throw UsageError("--address " + address +
                         " is given twice; each camera is grabbed by one thread only");
    }
    o.addresses.push_back(address);
  }
  if (haveAddress) o.address = o.addresses.front();
  if (given("--replay")) {
    o.replayDir = replay;
    if (o.replayDir.empty())
      throw UsageError("--replay needs a recording: a folder or an .mcap file");
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
  if (given("--write")) o.write = parseWrite(write, o.ply);
  for (const std::string& name : names) {
    if (name.empty() ||
        name.find_first_not_of("abcdefghijklmnopqrstuvwxyz"
                               "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_") != std::string::npos)
      throw UsageError(
          "--name needs letters, digits and '_' only (it becomes a topic name), not '" + name +
          "'");
  }
  if (!names.empty()) o.name = names.front();
  if (given("--calibration")) {
    o.calibration = calibration;
    if (o.calibration.empty()) throw UsageError("--calibration needs a file");
  }
  vyxhost::FilterSettings& f = o.filters;
  if (given("--min-amplitude")) f.minAmplitude = parseFilterValue("--min-amplitude", minAmplitude);
  if (given("--saturation")) f.saturation = parseFilterValue("--saturation", saturation);
  if (given("--min-distance")) f.minDistance = parseFilterValue("--min-distance", minDistance);
  if (given("--max-distance")) f.maxDistance = parseFilterValue("--max-distance", maxDistance);
  if (given("--flying")) f.flyingThreshold = parseFilterValue("--flying", flying);
  if (given("--temporal-median")) {
    f.temporalMedian = static_cast<int>(
        parseNumber("--temporal-median", median, 0, vyxhost::FilterSettings::kMaxTemporalMedian));
  }
  if (noFilters) f.enabled = false;
  try {
    f.check();
  } catch (const std::invalid_argument& e) {
    throw UsageError(std::string("filters: ") + e.what());
  }
  for (const std::string& r : ranges) parseRange(r, o.ranges);
  if (o.help || o.version) return o;
  if (given("--merge")) {
    o.merge = merge;
    if (o.simulate || haveAddress || given("--convert"))
      throw UsageError("--merge joins recordings; it takes no camera and no --convert");
    if (o.merge.size() < 2) throw UsageError("--merge needs two recordings or more");
    if (!given("--out") || !recordsToMcap(o))
      throw UsageError("--merge needs --out NAME.mcap: the recording to write");
    for (const std::string& m : o.merge) {
      if (m == o.outDir) throw UsageError("--merge: " + m + " is the --out file as well");
    }
    return o;
  }
  if (given("--convert")) {
    o.convert = convert;
    if (o.convert.empty()) throw UsageError("--convert needs a recording (.mcap)");
    if (o.simulate || haveAddress)
      throw UsageError("--convert reads a recording; it takes no camera (--address, --simulate)");
    if (!given("--out") || recordsToMcap(o))
      throw UsageError("--convert needs --out DIR: the folder the per-frame files go to");
    return o;
  }
  if (recordsToMcap(o) && given("--write"))
    throw UsageError(
        "--write chooses the files of a folder output; an .mcap recording holds each frame's "
        "raw data, distance and amplitude (vyxgrab --convert makes the files from it)");
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
  nameCameras(o, names);
  return o;
}

bool recordsToMcap(const GrabOptions& o) {
  const std::string suffix = ".mcap";
  return o.outDir.size() > suffix.size() &&
         o.outDir.compare(o.outDir.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string grabUsage(const std::string& pluginSearch) {
  return R"(vyxgrab - grab frames from a camera through the camera plug-in and save them

Usage:
  vyxgrab --simulate [OPTIONS]        grab from a simulated camera started inside vyxgrab
  vyxgrab --address HOST [OPTIONS]    grab from the camera at HOST
  vyxgrab --address A --address B ... --out RIG.mcap [OPTIONS]
                                      grab from several cameras at once into one recording
  vyxgrab --convert FILE.mcap --out DIR [--write LIST]
                                      per-frame files made from a recording
  vyxgrab --merge A.mcap B.mcap ... --out RIG.mcap
                                      recordings of several hosts joined in time-stamp order;
                                      a camera name an earlier file has gets the file's number

Camera:
  --address HOST   the camera's host name or IPv4 address; repeated for several cameras, each
                   grabbed on a thread of its own into one --out NAME.mcap, with the same
                   settings, --frames N frames each
  --name NAME      the camera's name in a recording: its topics are /lvt/NAME/...; one per
                   --address, in order (default cam0, cam1, ...)
  --keep-going     with several cameras: when one fails, the others go on (the exit status is
                   still 1); without it all stop and close
  --simulate       start a simulated camera in this process on a free loopback address
                   (127.x.y.z) and grab from it; nothing else has to run
  --replay REC     with --simulate: serve the raw frames of a recording instead of the synthetic
                   scene, byte for byte: an .mcap file, or a folder written by an earlier run
                   (its frame_*.raw files); the recording is repeated when it runs out
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
  --out NAME.mcap  record into one MCAP file: per frame the raw data (for an exact replay),
                   distance and amplitude as ROS 2 sensor_msgs/Image (32FC1), the lens as
                   sensor_msgs/CameraInfo, the run's description and at the end its counters
  --out DIR        or write per-frame files into DIR, created if missing (default
                   ./vyxgrab-frames); a directory that holds another run (its run.json) is
                   refused
  --overwrite      replace the recording, or remove the run already in DIR (the files its
                   run.json lists) first
  --write LIST     the files to write per frame into DIR, any of npy,png,preview,raw,ply
                   (default npy,png,preview,raw)
  --range TYPE=MIN:MAX
                   fixed colour scale of the previews of one image type, e.g.
                   distance=0.5:3; without it each type keeps the scale of its first frame.
                   Values outside are clipped and counted in the summary
  --zoom N         enlarge the preview images N times (default 4, 1 to 32)
  --version        show the versions of vyxgrab and of the plug-in it would load
  -h, --help       show this text

Points (--write ply):
  --calibration FILE
                   the camera's lens (a calibration file: width, height, fx, fy, cx, cy,
                   distortion k1,k2,p1,p2,k3); without it the simulated camera's own lens with
                   --simulate, else the nominal lens, which the summary and run.json say
  --no-filters     keep every pixel; otherwise invalid pixels are left out by:
  --min-amplitude A  too little light (default 20)
  --saturation A     amplitude at or above A: the sensor was full (default 3000)
  --min-distance M, --max-distance M
                     distance limits in metres (default 0.05 and 7.49)
  --flying R         flying pixels: a jump to the neighbours above R times the distance
                     (default 0.04)
  --temporal-median N
                     median of the last N frames (default 0: off)
                   (0 turns a test off). The filters are kept in run.json and recordings.

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
  frame_NNNNN.ply                the valid points: binary little-endian PLY, float x, y, z
                                 (metres, x right, y down, z forward) and amplitude
  run.json                       the run: versions, camera, settings, lens, filters, per frame
                                 time stamps, integration times and file names
  CODE_NAME is one per image the camera's frame holds, e.g. 10001_distance, 10002_amplitude,
  10004_intensity. A frame that cannot be written whole (disk full) is removed again; run.json
  lists the frames that are complete.

Ctrl-C (or SIGTERM, SIGHUP) stops after the current frame, prints the summary and closes the
camera and the recording; a second one quits at once. A recording whose grab was killed reads
back up to its last second.

With several cameras the progress line and the summary show each camera: frames, stalls (s),
losses (l), reconnects (r) and the latency of its last frame; the recording's last "counters"
record holds each camera's counters under its name. A camera that fails is named with its
reason; what was recorded stays readable.

Exit status: 0 all frames grabbed; 1 an error (the message names the plug-in call, its result
code and the plug-in's error text), with several cameras when any of them failed; 2 a bad command line; 128 + the signal's number when stopped
by a signal (130 Ctrl-C, 143 SIGTERM, 129 SIGHUP).

Examples:
  vyxgrab --simulate --frames 5 --out /tmp/grab
  vyxgrab --address 192.0.2.10 --itime0 500 --itime1 2000 --fps 20 --frames 100 --out run1.mcap
  vyxgrab --address 192.0.2.10 --address 192.0.2.11 --name left --name right --out rig.mcap
  vyxgrab --simulate --replay run1.mcap --frames 100 --out run1-again
  vyxgrab --convert run1.mcap --out run1-files --write npy,ply
  vyxgrab --address 192.0.2.10 --calibration lens.json --write ply --out points
)";
}

}  // namespace vyxgrab
