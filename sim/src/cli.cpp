#include "lvtsim/cli.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>

#include "lvtsim/address.h"
#include "lvtwire/frame_format.h"

namespace lvtsim {
namespace {

// The image header sizes the data format defines.
constexpr uint64_t kShortHeaderBytes = lvtwire::kShortHeader.bytes;
constexpr uint64_t kLongHeaderBytes = lvtwire::kLongHeader.bytes;

uint64_t parseNumber(const std::string& option, const std::string& text, uint64_t min,
                     uint64_t max) {
  const std::string bad =
      option + " needs a whole number from " + std::to_string(min) + " to " + std::to_string(max);
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
    throw std::invalid_argument(bad + ", not '" + text + "'");
  uint64_t value = 0;
  for (char c : text) {
    value = value * 10 + static_cast<uint64_t>(c - '0');
    if (value > max) throw std::invalid_argument(bad);
  }
  if (value < min) throw std::invalid_argument(bad);
  return value;
}

// Exactly `count` finite numbers separated by commas, e.g. "47.5,48.2,30.6,25.4".
std::vector<double> parseNumbers(const std::string& option, const std::string& text, size_t count,
                                 const char* names) {
  const std::string bad = option + " needs " + std::to_string(count) + " numbers " + names +
                          " separated by commas, not '" + text + "'";
  std::vector<double> values;
  size_t at = 0;
  while (at <= text.size()) {
    const size_t comma = std::min(text.find(',', at), text.size());
    const std::string item = text.substr(at, comma - at);
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(item.c_str(), &end);
    if (item.empty() || end != item.c_str() + item.size() || errno != 0 || !std::isfinite(v))
      throw std::invalid_argument(bad);
    values.push_back(v);
    at = comma + 1;
  }
  if (values.size() != count) throw std::invalid_argument(bad);
  return values;
}

}  // namespace

std::string cliUsage() {
  return "usage: lvtcamsim [ADDRESS] [--data-port N] [--header-size N] [--seed N] [--fps N]\n"
         "                 [--unpaced] [--replay DIR|FILE.mcap] [--help]\n"
         "Simulated camera: XML-RPC control on ADDRESS:8080, images on the data port.\n"
         "  ADDRESS          loopback address to serve on (127.0.0.0/8), default 127.0.0.1\n"
         "  --data-port N    data port, default any free port\n"
         "  --header-size N  image header bytes, 68 or 412 (the data format's two layouts), "
         "default 68\n"
         "  --seed N         scene seed, default 1\n"
         "  --fps N          initial frame rate, 1..30, default 25\n"
         "  --unpaced        serve images as fast as they are asked for instead of at the frame\n"
         "                   rate like the camera (for tests and benchmarks)\n"
         "  --replay DIR     answer with the recorded frames DIR/frame_*.raw, in name order\n"
         "  --replay FILE.mcap\n"
         "                   answer with a recording's raw frames (its first camera), at the\n"
         "                   pace they were recorded at unless --fps or --unpaced is given\n"
         "  --intrinsics FX,FY,CX,CY\n"
         "                   the lens the scene is rendered through: focal lengths and\n"
         "                   principal point in pixels, pixel centres at whole numbers;\n"
         "                   default the nominal 60 degree pinhole 55.43,55.43,31.5,24.5\n"
         "  --distortion K1,K2,P1,P2,K3\n"
         "                   the lens's distortion, in this order; default none\n"
         "  --write-calibration FILE\n"
         "                   write that lens as a calibration file (JSON), then serve\n";
}

CliOptions parseCli(const std::vector<std::string>& args) {
  CliOptions opt;
  // Values are taken as text and checked below, so that every message says what is wanted.
  std::string address, dataPort, headerSize, seed, fps, intrinsics, distortion;
  CLI::App app("lvtcamsim");
  app.set_help_flag();  // the usage text is cliUsage()
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app.add_flag("-h,--help", opt.help);
  bool unpaced = false, realtime = false;
  app.add_flag("--unpaced", unpaced);
  app.add_flag("--realtime", realtime);  // the default now; still accepted from older scripts
  app.add_option("--data-port", dataPort);
  app.add_option("--header-size", headerSize);
  app.add_option("--seed", seed);
  app.add_option("--fps", fps);
  app.add_option("--replay", opt.replayDir);
  app.add_option("--intrinsics", intrinsics);
  app.add_option("--distortion", distortion);
  app.add_option("--write-calibration", opt.writeCalibration);
  app.add_option("address", address);
  std::vector<std::string> reversed(args.rbegin(), args.rend());  // CLI11 parses from the back
  try {
    app.parse(reversed);
  } catch (const CLI::ExtrasError& e) {
    const std::string what = e.what();
    const std::string extra = what.substr(what.find(": ") + 2);
    if (!extra.empty() && extra[0] == '-') throw std::invalid_argument("unknown option " + extra);
    throw std::invalid_argument("only one address may be given, got " + extra);
  } catch (const CLI::ArgumentMismatch& e) {
    const std::string what = e.what();
    throw std::invalid_argument(what.substr(0, what.find(':')) + " needs a value");
  } catch (const CLI::ParseError& e) {
    throw std::invalid_argument(e.what());
  }
  opt.camera.realtime = !unpaced;  // paced like the camera unless asked otherwise
  auto given = [&app](const char* name) { return app.count(name) > 0; };

  if (given("--data-port"))
    opt.camera.dataPort = static_cast<uint16_t>(parseNumber("--data-port", dataPort, 0, 65535));
  if (given("--header-size")) {
    const uint64_t size = parseNumber("--header-size", headerSize, 0, kMaxHeaderBytes);
    if (size != kShortHeaderBytes && size != kLongHeaderBytes)
      throw std::invalid_argument("--header-size must be " + std::to_string(kShortHeaderBytes) +
                                  " or " + std::to_string(kLongHeaderBytes) +
                                  ": the two header layouts the data format has, not " +
                                  std::to_string(size));
    opt.camera.headerSize = static_cast<unsigned>(size);
  }
  if (given("--seed"))
    opt.camera.seed = static_cast<uint32_t>(parseNumber("--seed", seed, 0, UINT32_MAX));
  if (given("--fps")) {
    opt.fpsGiven = true;
    const auto max = static_cast<uint64_t>(opt.camera.maxFps);
    opt.camera.frontend[lvtwire::frontend::kFps] =
        static_cast<int32_t>(parseNumber("--fps", fps, 1, max));
  }
  if (given("--intrinsics")) {
    const auto v = parseNumbers("--intrinsics", intrinsics, 4, "FX,FY,CX,CY");
    opt.camera.lens.fx = v[0];
    opt.camera.lens.fy = v[1];
    opt.camera.lens.cx = v[2];
    opt.camera.lens.cy = v[3];
  }
  if (given("--distortion")) {
    const auto v = parseNumbers("--distortion", distortion, 5, "K1,K2,P1,P2,K3");
    std::copy(v.begin(), v.end(), opt.camera.lens.distortion.begin());
  }
  if (given("--intrinsics") || given("--distortion")) {
    opt.camera.lens.source =
        std::string("simulated camera: lvtcamsim") +
        (given("--intrinsics") ? " --intrinsics " + intrinsics : std::string()) +
        (given("--distortion") ? " --distortion " + distortion : std::string());
    vyxhost::checkLens(opt.camera.lens);  // "lens: fx must be positive"
  }
  if (given("--write-calibration") && opt.writeCalibration.empty())
    throw std::invalid_argument("--write-calibration needs a file name");
  if (given("--replay") && opt.replayDir.empty())
    throw std::invalid_argument("--replay needs a directory or an .mcap file");
  if (given("address")) {
    if (!isLoopbackAddress(address))
      throw std::invalid_argument("refusing to serve on " + address +
                                  ": only loopback addresses (127.0.0.0/8) are allowed");
    opt.camera.address = address;
  }
  return opt;
}

}  // namespace lvtsim
