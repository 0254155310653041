// vyxview: the live view of one camera or a rig of several in the browser. Opens the cameras
// through the plug-in, serves one page on http://127.0.0.1:8090/ (a panel per camera) and
// streams the distance and amplitude images to every page that is open.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "camera_loop.h"
#include "frame_hub.h"
#include "listener.h"
#include "lvtsim/embedded.h"
#include "replay_loop.h"
#include "request_checks.h"
#include "rig.h"
#include "vyxhost/camera.h"
#include "vyxhost/lens.h"
#include "vyxhost/locate.h"
#include "vyxhost/tof_filters.h"

namespace {

struct Options {
  std::vector<std::string> addresses;
  bool simulate = false;
  std::string replay;
  std::string listen = "127.0.0.1";
  uint16_t port = 8090;
  std::vector<std::string> allowHosts;
  double reconnectSeconds = 2.0;
  std::string recordDir = "recordings";
  std::vector<std::string> names;  // default: cam0, cam1, ...
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
  listener->run(checks, {{&replay, &hub, replay.camera(), o.replay}});
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
  std::vector<std::string> addresses = o.addresses;
  std::optional<vyxhost::LensModel> lens = calibration(o);
  if (o.simulate) {
    simulated.emplace(o.replay, true);  // paced like the camera
    addresses = {simulated->address()};
    // The model it renders with, exactly; a replayed folder's frames were not rendered by it.
    if (!lens && o.replay.empty()) lens = simulated->lens();
  }

  boost::asio::io_context io(1);
  auto listener = std::make_shared<vyxview::Listener>(io, o.listen, o.port);
  const vyxview::RequestChecks checks(o.listen, listener->port(), o.allowHosts);

  std::vector<vyxview::CameraLoopConfig> cameras;
  for (size_t i = 0; i < addresses.size(); ++i) {
    vyxview::CameraLoopConfig cfg;
    cfg.cameraName = i < o.names.size() ? o.names[i] : "cam" + std::to_string(i);
    cfg.lens = lens;
    cfg.filters = filters(o);
    cfg.address = addresses[i];
    cfg.pluginPath = o.plugin;
    cfg.simulated = o.simulate;
    cfg.replay = o.replay;
    cfg.reconnectInterval =
        std::chrono::milliseconds(static_cast<int64_t>(o.reconnectSeconds * 1000.0));
    cameras.push_back(std::move(cfg));
  }
  vyxview::Rig rig(cameras, o.recordDir);
  for (size_t i = 0; i < rig.size(); ++i) {
    try {
      rig.camera(i).open({o.itime0, o.itime1, o.fps});
    } catch (const vyxview::SettingsRefused& e) {
      std::fprintf(stderr, "vyxview: camera %s at %s: %s\n", cameras[i].cameraName.c_str(),
                   cameras[i].address.c_str(), e.what());
      return kExitRefused;
    } catch (const vyxhost::CameraError& e) {
      if (rig.size() == 1) throw;  // as the viewer of one camera always said it
      std::fprintf(stderr, "vyxview: camera %s at %s: %s\n", cameras[i].cameraName.c_str(),
                   cameras[i].address.c_str(), e.what());
      return 1;
    }
  }
  rig.start();
  listener->run(checks, rig.doors());
  warnIfExposed(o);
  for (size_t i = 0; i < rig.size(); ++i) {
    std::printf("vyxview: camera %s%s%s, plug-in %s\n",
                rig.size() > 1 ? (cameras[i].cameraName + " at ").c_str() : "",
                addresses[i].c_str(), o.simulate ? " (simulated)" : "",
                rig.camera(i).plugin().path().c_str());
  }
  serve(io, checks);
  rig.stop();
  return 0;
}

// The same address or name twice would make two sessions fight over one camera, or two cameras
// over one topic: refused before anything opens.
std::string rigProblem(const Options& o) {
  if (o.names.size() > std::max<size_t>(o.addresses.size(), 1))
    return "more --name (" + std::to_string(o.names.size()) + ") than cameras (" +
           std::to_string(std::max<size_t>(o.addresses.size(), 1)) + ")";
  std::set<std::string> seen;
  for (const std::string& a : o.addresses) {
    if (!seen.insert(a).second) return "--address " + a + " is given twice; each camera once";
  }
  seen.clear();
  for (size_t i = 0; i < o.addresses.size() || i < o.names.size(); ++i) {
    const std::string name = i < o.names.size() ? o.names[i] : "cam" + std::to_string(i);
    if (!seen.insert(name).second)
      return "the camera name " + name + " is used twice; give each camera its own --name";
  }
  return "";
}

int parseAndRun(int argc, char** argv) {
  Options o;
  CLI::App app{"vyxview: live view of a camera in the browser"};
  auto* address = app.add_option(
      "--address", o.addresses,
      "the camera's address; once per camera for a rig (one panel each, recorded into one file)");
  auto* simulate = app.add_flag("--simulate", o.simulate,
                                "run a simulated camera inside the viewer, at its frame rate");
  auto* replay = app.add_option(
      "--replay", o.replay,
      "play this recording (FILE.mcap), or with --simulate replay this folder's through the "
      "simulated camera");
  address->excludes(simulate);
  address->excludes(replay);
  app.add_option("--name", o.names,
                 "the camera's name in recordings (topics /lvt/NAME/...); once per --address, in "
                 "the same order; default cam0, cam1, ...");
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
  if (o.addresses.empty() && !o.simulate && o.replay.empty()) {
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
  const std::string problem = rigProblem(o);
  if (!problem.empty()) {
    std::fprintf(stderr, "vyxview: %s\n", problem.c_str());
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
