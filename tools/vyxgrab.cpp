// vyxgrab: grabs frames from a camera through the camera plug-in, exactly as a host would drive
// it, and saves every image the frame allows as .npy, 16-bit .png and a false-colour preview,
// together with the raw frame for replay and the run's manifest run.json. --simulate brings its
// own camera. With --address given several times, the cameras grab side by side into one
// recording.
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "convert_recording.h"
#include "exit_codes.h"
#include "grab_options.h"
#include "grab_report.h"
#include "grab_session.h"
#include "interrupt_watch.h"
#include "merge_recordings.h"
#include "progress_line.h"
#include "rig_grab.h"
#include "vyxhost/locate.h"
#include "vyxhost/vyxhost.h"
#include "wait_note.h"
#ifdef VYXGRAB_WITH_SIMULATOR
#include "lvtsim/embedded.h"
#endif

namespace {

using vyxtools::kExitError;
using vyxtools::kExitSignalBase;
using vyxtools::kExitUsage;

struct Camera {
  std::string address;
  std::string note;
  std::string replay;
  std::function<std::optional<uint64_t>()> requestsSent;
  std::optional<vyxhost::LensModel> lens;  // the simulator's own
#ifdef VYXGRAB_WITH_SIMULATOR
  std::unique_ptr<lvtsim::EmbeddedCamera> simulated;
#endif
};

Camera prepareCamera(const vyxgrab::GrabOptions& o) {
  Camera camera;
  if (!o.simulate) {
    camera.address = o.address;
    return camera;
  }
#ifdef VYXGRAB_WITH_SIMULATOR
  camera.simulated = std::make_unique<lvtsim::EmbeddedCamera>(o.replayDir, o.realtime);
  camera.address = camera.simulated->address();
  camera.note = "simulated camera";
  camera.replay = o.replayDir;
  if (!o.replayDir.empty()) {
    camera.note += " replaying " + std::to_string(camera.simulated->replayFrames()) +
                   " recorded frames from " + o.replayDir;
  }
  const lvtsim::EmbeddedCamera* sim = camera.simulated.get();
  camera.requestsSent = [sim]() -> std::optional<uint64_t> { return sim->requestsReceived(); };
  camera.lens = sim->lens();
  return camera;
#else
  throw std::runtime_error("this vyxgrab was built without the camera simulator");
#endif
}

// The tool's version and the plug-in's that a grab would load.
void printVersions(const std::string& explicitPlugin) {
  std::printf("vyxgrab %s\n", VYXGRAB_VERSION);
  try {
    const std::string path = vyxhost::findPlugin(explicitPlugin);
    const vyxhost::Plugin plugin(path);
    std::printf("plug-in %s, interface version %u\n", path.c_str(), plugin->vyxpInterfaceVersion());
  } catch (const std::exception& e) {
    std::printf("plug-in: %s\n", e.what());
  }
}

}  // namespace

int main(int argc, char** argv) {
  vyxgrab::WaitNote waiting;
  // First, before any thread exists: every thread then leaves the stop signals to the watcher.
  vyxgrab::InterruptWatch interrupts(&waiting);

  vyxgrab::GrabOptions options;
  try {
    options = vyxgrab::parseGrabOptions(std::vector<std::string>(argv + 1, argv + argc), "");
  } catch (const vyxgrab::UsageError& e) {
    std::fprintf(stderr, "vyxgrab: %s\nTry 'vyxgrab --help' for the options.\n", e.what());
    return kExitUsage;
  }
  if (options.help) {
    std::fputs(vyxgrab::grabUsage(vyxhost::describePluginSearch(options.pluginPath)).c_str(),
               stdout);
    return 0;
  }
  if (options.version) {
    printVersions(options.pluginPath);
    return 0;
  }

  vyxgrab::GrabReport report;
  vyxgrab::ProgressLine progress(stderr, ::isatty(STDERR_FILENO) != 0);
  Camera camera;
  try {
    if (!options.merge.empty()) {
      report.stage = "merging into " + options.outDir;
      const vyxgrab::MergeResult merged = vyxgrab::mergeRecordings(options.merge, options.outDir);
      for (const std::string& note : merged.notes)
        std::fprintf(stderr, "vyxgrab: %s\n", note.c_str());
      std::printf(
          "Merged:            %zu recordings, %llu messages, %llu metadata records into %s\n",
          options.merge.size(), static_cast<unsigned long long>(merged.messages),
          static_cast<unsigned long long>(merged.metadata), options.outDir.c_str());
      return 0;
    }
    if (!options.convert.empty()) {
      vyxgrab::runConvert(options, report);
      std::fputs(vyxgrab::formatSummary(report).c_str(), stdout);
      if (!report.closeNote.empty())
        std::fprintf(stderr, "vyxgrab: %s\n", report.closeNote.c_str());
      return 0;
    }
    if (vyxgrab::grabsRig(options)) {
      vyxgrab::RigHooks rigHooks;
      rigHooks.stopRequested = [&interrupts] { return interrupts.stopRequested(); };
      rigHooks.stopSignal = [&interrupts] { return interrupts.signal(); };
      rigHooks.progress = &progress;
      return vyxgrab::runRig(options, rigHooks, stdout, stderr);
    }
    report.stage = "starting the simulated camera";
    camera = prepareCamera(options);
    report.cameraNote = camera.note;
    vyxgrab::GrabHooks hooks;
    hooks.stopRequested = [&interrupts] { return interrupts.stopRequested(); };
    hooks.stopSignal = [&interrupts] { return interrupts.signal(); };
    hooks.requestsSent = camera.requestsSent;
    hooks.progress = &progress;
    hooks.waiting = &waiting;
    hooks.simulated = options.simulate;
    hooks.replay = camera.replay;
    hooks.lens = camera.lens;
    vyxgrab::runGrab(options, camera.address, hooks, report);
  } catch (const std::exception& e) {
    progress.finish();
    if (report.frames > 0) {
      std::fputs(vyxgrab::formatSummary(report).c_str(), stdout);
      std::fflush(stdout);
    }
    std::fprintf(stderr, "vyxgrab: error while %s: %s\n", report.stage.c_str(), e.what());
    if (!report.closeNote.empty()) std::fprintf(stderr, "vyxgrab: %s\n", report.closeNote.c_str());
    return kExitError;
  }
  std::fputs(vyxgrab::formatSummary(report).c_str(), stdout);
  if (!report.closeNote.empty()) std::fprintf(stderr, "vyxgrab: %s\n", report.closeNote.c_str());
  return report.interrupted ? kExitSignalBase + (report.stopSignal != 0 ? report.stopSignal : 2)
                            : 0;
}
