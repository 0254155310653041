// vyxview: the live view of a camera in the browser. Opens the camera through
// the plug-in, serves one page on http://127.0.0.1:8090/ and streams the
// distance and amplitude images to every page that is open.
#include <CLI/CLI.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "camera_loop.h"
#include "frame_hub.h"
#include "listener.h"
#include "lvtsim/embedded.h"
#include "replay_loop.h"
#include "request_checks.h"
#include "vyxhost/camera.h"
#include "vyxhost/lens.h"
#include "vyxhost/locate.h"
#include "vyxhost/tof_filters.h"

namespace {

struct Options {
  std::string address;
  bool simulate = false;
  std::string replay;
  std::string listen = "127.0.0.1";
  uint16_t port = 8090;
  std::vector<std::string> allowHosts;
  double reconnectSeconds = 2.0;
  std::string recordDir = "recordings";
  std::string name = "cam0";
  std::string calibration;
  bool noFilters = false;
  vyxhost::FilterSettings filters;
  std::string plugin;
  std::optional<int64_t> itime0, itime1, fps;
};

// A setting on the command line that the camera does not take, as vyxgrab answers it.
constexpr int kExitRefused = 1;

bool isLoopback(const std::string& address) {
  return address.rfind("127.", 0) == 0 || address == "::1";
}

bool isFileReplay(const Options& o) { return !o.replay.empty() && !o.simulate; }

void warnIfExposed(const Options& o) {
  if (!isLoopback(o.listen)) {
    std::fprintf(
        stderr,
        "vyxview: warning: listening on %s: anyone who can reach this address can watch the "
        "camera, change its settings and record to this machine's disk\n",
        o.listen.c_str());
  }
}

void serve(boost::asio::io_context& io, const vyxview::RequestChecks& checks) {
  boost::asio::signal_set signals(io, SIGINT, SIGTERM);
  signals.async_wait([&](const boost::system::error_code&, int) { io.stop(); });
  std::printf("vyxview: live view at http://%s/\n", checks.hosts().front().c_str());
  std::fflush(stdout);
  io.run();
  std::printf("vyxview: stopping\n");
  std::fflush(stdout);
}

std::optional<vyxhost::LensModel> calibration(const Options& o) {
  if (o.calibration.empty()) return std::nullopt;
  return vyxhost::readCalibration(o.calibration);
}

vyxhost::FilterSettings filters(const Options& o) {
  vyxhost::FilterSettings f = o.filters;
  f.enabled = !o.noFilters;
  f.check();
  return f;
}

// --replay FILE.mcap: a recording instead of a camera.
int runReplay(const Options& o) {
  vyxview::FrameHub hub;
  vyxview::ReplayConfig cfg;
  cfg.file = o.replay;
  cfg.pluginPath = o.plugin;
  cfg.lens = calibration(o);
  cfg.filters = filters(o);
  vyxview::ReplayLoop replay(cfg, hub);
  boost::asio::io_context io(1);
  auto listener = std::make_shared<vyxview::Listener>(io, o.listen, o.port);
  const vyxview::RequestChecks checks(o.listen, listener->port(), o.allowHosts);
  replay.start();
  listener->run(checks, replay, hub);
  warnIfExposed(o);
  std::printf("vyxview: replaying %zu frames of camera %s from %s, plug-in %s\n", replay.frames(),
              replay.camera().c_str(), o.replay.c_str(), replay.plugin().path().c_str());
  if (!replay.cut().empty())
    std::fprintf(stderr, "vyxview: the recording ends early: %s\n", replay.cut().c_str());
  serve(io, checks);
  replay.stop();
  return 0;
}

int runViewer(const Options& o) {
  if (isFileReplay(o)) return runReplay(o);
  std::optional<lvtsim::EmbeddedCamera> simulated;
  std::string address = o.address;
  std::optional<vyxhost::LensModel> lens = calibration(o);
  if (o.simulate) {
    simulated.emplace(o.replay, true);  // paced like the camera
    address = simulated->address();
    // The model it renders with, exactly; a replayed folder's frames were not rendered by it.
    if (!lens && o.replay.empty()) lens = simulated->lens();
  }

  boost::asio::io_context io(1);
  auto listener = std::make_shared<vyxview::Listener>(io, o.listen, o.port);
  const vyxview::RequestChecks checks(o.listen, listener->port(), o.allowHosts);

  vyxview::FrameHub hub;
  vyxview::CameraLoopConfig cfg;
  cfg.cameraName = o.name;
  cfg.lens = lens;
  cfg.filters = filters(o);
  cfg.address = address;
  cfg.pluginPath = o.plugin;
  cfg.simulated = o.simulate;
  cfg.replay = o.replay;
  cfg.reconnectInterval =
      std::chrono::milliseconds(static_cast<int64_t>(o.reconnectSeconds * 1000.0));
  cfg.recordRoot = o.recordDir;
  vyxview::CameraLoop camera(cfg, hub);
  try {
    camera.open({o.itime0, o.itime1, o.fps});
  } catch (const vyxview::SettingsRefused& e) {
    std::fprintf(stderr, "vyxview: %s\n", e.what());
    return kExitRefused;
  }
  camera.start();
  listener->run(checks, camera, hub);
  warnIfExposed(o);
  std::printf("vyxview: camera %s%s, plug-in %s\n", address.c_str(),
              o.simulate ? " (simulated)" : "", camera.plugin().path().c_str());
  serve(io, checks);
  camera.stop();
  return 0;
}

int parseAndRun(int argc, char** argv) {
  Options o;
  CLI::App app{"vyxview: live view of a camera in the browser"};
  auto* address = app.add_option("--address", o.address, "the camera's address");
  auto* simulate = app.add_flag("--simulate", o.simulate,
                                "run a simulated camera inside the viewer, at its frame rate");
  auto* replay = app.add_option(
      "--replay", o.replay,
      "play this recording (FILE.mcap), or with --simulate replay this folder's through the "
      "simulated camera");
  address->excludes(simulate);
  address->excludes(replay);
  app.add_option("--name", o.name, "the camera's name in recordings (topics /lvt/NAME/...)")
      ->capture_default_str();
  app.add_option("--calibration", o.calibration,
                 "the lens (calibration JSON file); default: the simulator's with --simulate, "
                 "else the nominal lens")
      ->check(CLI::ExistingFile);
  app.add_flag("--no-filters", o.noFilters, "show every pixel: no time-of-flight filter");
  app.add_option("--min-amplitude", o.filters.minAmplitude,
                 "filter: pixels with less amplitude are invalid (0: off)")
      ->capture_default_str();
  app.add_option("--saturation", o.filters.saturation,
                 "filter: pixels with this amplitude or more are invalid (0: off)")
      ->capture_default_str();
  app.add_option("--min-distance", o.filters.minDistance, "filter: nearest valid distance, m")
      ->capture_default_str();
  app.add_option("--max-distance", o.filters.maxDistance, "filter: farthest valid distance, m")
      ->capture_default_str();
  app.add_option("--flying-threshold", o.filters.flyingThreshold,
                 "filter: a jump to the neighbours beyond this share of the distance marks a "
                 "flying pixel (0: off)")
      ->capture_default_str();
  app.add_option("--temporal-median", o.filters.temporalMedian,
                 "filter: median of the last N frames (0: off)")
      ->capture_default_str();
  app.add_option("--itime0", o.itime0, "integration time 0 to set, microseconds")
      ->check(CLI::Range(int64_t{0}, int64_t{UINT32_MAX}));
  app.add_option("--itime1", o.itime1, "integration time 1 to set, microseconds")
      ->check(CLI::Range(int64_t{0}, int64_t{UINT32_MAX}));
  app.add_option("--fps", o.fps, "frame rate to set, frames/s")
      ->check(CLI::Range(int64_t{0}, int64_t{UINT32_MAX}));
  app.add_option("--port", o.port, "port of the page (0: any free port)")->capture_default_str();
  app.add_option("--listen", o.listen,
                 "address to serve on; anything but 127.x exposes the camera's controls")
      ->capture_default_str();
  app.add_option("--allow-host", o.allowHosts,
                 "a further host name the page may be opened under (with --listen)");
  app.add_option("--reconnect-interval", o.reconnectSeconds,
                 "seconds between attempts to reach a lost camera")
      ->capture_default_str()
      ->check(CLI::Range(0.05, 3600.0));
  app.add_option("--record-dir", o.recordDir, "where recordings are written")
      ->capture_default_str();
  app.add_option("--plugin", o.plugin, "the plug-in file\n" + vyxhost::describePluginSearch());
  CLI11_PARSE(app, argc, argv);
  if (o.address.empty() && !o.simulate && o.replay.empty()) {
    std::fprintf(stderr,
                 "vyxview: say which camera: --address HOST, --simulate or --replay FILE.mcap\n");
    return 2;
  }
  // A folder is replayed through the simulated camera, a file on its own.
  const bool folder = !o.replay.empty() && CLI::ExistingDirectory(o.replay).empty();
  if (!o.replay.empty() && !folder && !CLI::ExistingFile(o.replay).empty()) {
    std::fprintf(stderr, "vyxview: --replay %s: no such file or folder\n", o.replay.c_str());
    return 2;
  }
  if (!o.replay.empty() && folder != o.simulate) {
    std::fprintf(stderr, "vyxview: --replay %s: %s\n", o.replay.c_str(),
                 folder ? "a recording folder is replayed with --simulate"
                        : "a recording file (.mcap) is played without --simulate");
    return 2;
  }
  return runViewer(o);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return parseAndRun(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vyxview: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "vyxview: unexpected failure\n");
  }
  return 1;
}
