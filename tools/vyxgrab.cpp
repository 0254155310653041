// vyxgrab: grabs frames from a camera through the camera plug-in, exactly as a host would drive
// it, and saves every image the frame allows as .npy, 16-bit .png and a false-colour preview,
// together with the raw frame for replay. --simulate brings its own camera.
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "grab_options.h"
#include "grab_report.h"
#include "grab_session.h"
#include "interrupt_watch.h"
#include "progress_line.h"
#ifdef VYXGRAB_WITH_SIMULATOR
#include "embedded_camera.h"
#endif

namespace {

constexpr int kExitError = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

struct Camera {
  std::string address;
  std::string note;
  std::function<std::optional<uint64_t>()> requestsSent;
#ifdef VYXGRAB_WITH_SIMULATOR
  std::unique_ptr<vyxgrab::EmbeddedCamera> simulated;
#endif
};

Camera prepareCamera(const vyxgrab::GrabOptions& o) {
  Camera camera;
  if (!o.simulate) {
    camera.address = o.address;
    return camera;
  }
#ifdef VYXGRAB_WITH_SIMULATOR
  camera.simulated = std::make_unique<vyxgrab::EmbeddedCamera>(o.replayDir, o.realtime);
  camera.address = camera.simulated->address();
  camera.note = "simulated camera";
  if (!o.replayDir.empty()) {
    camera.note += " replaying " + std::to_string(camera.simulated->replayFrames()) +
                   " recorded frames from " + o.replayDir;
  }
  const vyxgrab::EmbeddedCamera* sim = camera.simulated.get();
  camera.requestsSent = [sim]() -> std::optional<uint64_t> { return sim->requestsReceived(); };
  return camera;
#else
  throw std::runtime_error("this vyxgrab was built without the camera simulator");
#endif
}

}  // namespace

int main(int argc, char** argv) {
  // First, before any thread exists: every thread then leaves Ctrl-C to the watcher.
  vyxgrab::InterruptWatch interrupts;

  vyxgrab::GrabOptions options;
  try {
    options = vyxgrab::parseGrabOptions(std::vector<std::string>(argv + 1, argv + argc),
                                        VYXGRAB_DEFAULT_PLUGIN);
  } catch (const vyxgrab::UsageError& e) {
    std::fprintf(stderr, "vyxgrab: %s\nTry 'vyxgrab --help' for the options.\n", e.what());
    return kExitUsage;
  }
  if (options.help) {
    std::fputs(vyxgrab::grabUsage(VYXGRAB_DEFAULT_PLUGIN).c_str(), stdout);
    return 0;
  }

  vyxgrab::GrabReport report;
  vyxgrab::ProgressLine progress(stderr, ::isatty(STDERR_FILENO) != 0);
  Camera camera;
  try {
    report.stage = "starting the simulated camera";
    camera = prepareCamera(options);
    report.cameraNote = camera.note;
    vyxgrab::GrabHooks hooks;
    hooks.stopRequested = [&interrupts] { return interrupts.stopRequested(); };
    hooks.requestsSent = camera.requestsSent;
    hooks.progress = &progress;
    vyxgrab::runGrab(options, camera.address, hooks, report);
  } catch (const std::exception& e) {
    progress.finish();
    if (report.frames > 0) {
      if (camera.requestsSent) report.requestsSent = camera.requestsSent();
      std::fputs(vyxgrab::formatSummary(report).c_str(), stdout);
      std::fflush(stdout);
    }
    std::fprintf(stderr, "vyxgrab: error while %s: %s\n", report.stage.c_str(), e.what());
    return kExitError;
  }
  std::fputs(vyxgrab::formatSummary(report).c_str(), stdout);
  return report.interrupted ? kExitInterrupted : 0;
}
