#include "lvtsim/cli.h"

#include <cstdint>
#include <stdexcept>

#include "lvtsim/address.h"
#include "lvtwire/frame_format.h"

namespace lvtsim {
namespace {

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

}  // namespace

std::string cliUsage() {
  return "usage: lvtcamsim [ADDRESS] [--data-port N] [--header-size N] [--seed N] [--fps N]\n"
         "                 [--realtime] [--replay DIR] [--help]\n"
         "Simulated camera: XML-RPC control on ADDRESS:8080, images on the data port.\n"
         "  ADDRESS          loopback address to serve on (127.0.0.0/8), default 127.0.0.1\n"
         "  --data-port N    data port, default any free port\n"
         "  --header-size N  image header bytes (68 or 412; at least 8), default 68\n"
         "  --seed N         scene seed, default 1\n"
         "  --fps N          initial frame rate, 1..30, default 25\n"
         "  --realtime       pace images at the frame rate instead of as fast as possible\n"
         "  --replay DIR     answer with the recorded frames DIR/frame_*.raw, in name order\n";
}

CliOptions parseCli(const std::vector<std::string>& args) {
  CliOptions opt;
  bool haveAddress = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size()) throw std::invalid_argument(arg + " needs a value");
      return args[++i];
    };
    if (arg == "--help" || arg == "-h") {
      opt.help = true;
    } else if (arg == "--realtime") {
      opt.camera.realtime = true;
    } else if (arg == "--data-port") {
      opt.camera.dataPort = static_cast<uint16_t>(parseNumber(arg, value(), 0, 65535));
    } else if (arg == "--header-size") {
      opt.camera.headerSize = static_cast<unsigned>(parseNumber(arg, value(), 8, kMaxHeaderBytes));
    } else if (arg == "--seed") {
      opt.camera.seed = static_cast<uint32_t>(parseNumber(arg, value(), 0, UINT32_MAX));
    } else if (arg == "--fps") {
      const auto max = static_cast<uint64_t>(opt.camera.maxFps);
      opt.camera.frontend[lvtwire::frontend::kFps] =
          static_cast<int32_t>(parseNumber(arg, value(), 1, max));
    } else if (arg == "--replay") {
      opt.replayDir = value();
      if (opt.replayDir.empty()) throw std::invalid_argument("--replay needs a directory");
    } else if (!arg.empty() && arg[0] == '-') {
      throw std::invalid_argument("unknown option " + arg);
    } else if (haveAddress) {
      throw std::invalid_argument("only one address may be given, got " + arg);
    } else {
      if (!isLoopbackAddress(arg))
        throw std::invalid_argument("refusing to serve on " + arg +
                                    ": only loopback addresses (127.0.0.0/8) are allowed");
      opt.camera.address = arg;
      haveAddress = true;
    }
  }
  return opt;
}

}  // namespace lvtsim
