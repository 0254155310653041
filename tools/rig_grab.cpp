#include "rig_grab.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "exit_codes.h"
#include "grab_output.h"
#include "grab_report.h"
#include "grab_session.h"
#include "vyxhost/locate.h"
#include "vyxhost/vyxhost.h"
#include "vyxrec/run_manifest.h"

namespace vyxgrab {

namespace {

using vyxtools::kExitError;
using vyxtools::kExitSignalBase;

// One camera's thread and what the main thread may read of it while it runs.
struct CameraRun {
  std::string name, address;
  GrabReport report;    // the thread's own until it ends
  std::string failure;  // "error while STAGE: WHAT"; empty unless the camera failed
  std::thread thread;

  std::mutex mutex;  // guards the fields below
  GrabReport progress;
  bool failed = false;
  bool done = false;
};

// The run's description: the shared settings and every camera's name and address; each camera's
// lens is its camera_info, its settings read back are in its counters.
std::string rigManifest(const GrabOptions& o, const std::string& pluginPath,
                        const vyxhost::Plugin& plugin) {
  vyxrec::RunInfo r;
  r.tool = "vyxgrab";
  r.toolVersion = VYXGRAB_VERSION;
  r.pluginPath = pluginPath;
  r.interfaceVersion = static_cast<int>(plugin->vyxpInterfaceVersion());
  auto number = [](const std::optional<uint32_t>& v) {
    return v ? std::optional<int64_t>(*v) : std::nullopt;
  };
  r.requested = {number(o.itime0), number(o.itime1), number(o.fps)};
  r.filters = o.filters.toJson();
  nlohmann::json j = nlohmann::json::parse(vyxrec::runInfoJson(r));
  nlohmann::json cameras = nlohmann::json::array();
  for (size_t k = 0; k < o.names.size(); ++k)
    cameras.push_back({{"name", o.names[k]}, {"address", o.addresses[k]}});
  j["cameras"] = cameras;
  return j.dump();
}

std::string progressOf(const std::vector<std::unique_ptr<CameraRun>>& runs, uint64_t total,
                       bool& allDone) {
  std::string text;
  allDone = true;
  for (const std::unique_ptr<CameraRun>& run : runs) {
    const std::lock_guard<std::mutex> lock(run->mutex);
    const GrabReport& r = run->progress;
    text += (text.empty() ? "" : "  ") + cameraProgressText(run->name, r.frames, total, r.stalls,
                                                            r.losses, r.reconnects,
                                                            r.lastLatencySeconds, run->failed);
    allDone = allDone && run->done;
  }
  return text;
}

}  // namespace

int runRig(const GrabOptions& o, const RigHooks& hooks, std::FILE* out, std::FILE* err) {
  std::string stage = "finding the plug-in";
  std::unique_ptr<RigRecording> rig;
  std::shared_ptr<const vyxhost::Plugin> plugin;
  try {
    const std::string pluginPath = vyxhost::findPlugin(o.pluginPath);
    stage = "loading the plug-in " + pluginPath;
    // Held for the whole run, so that every camera uses this very load.
    plugin = vyxhost::sharedPlugin(pluginPath);
    stage = "creating the recording " + o.outDir;
    rig = std::make_unique<RigRecording>(o, rigManifest(o, pluginPath, *plugin));
  } catch (const std::exception& e) {
    std::fprintf(err, "vyxgrab: error while %s: %s\n", stage.c_str(), e.what());
    return kExitError;
  }

  std::atomic<bool> stopAll{false};
  std::mutex doneMutex;
  std::condition_variable doneChanged;
  std::vector<std::unique_ptr<CameraRun>> runs;
  for (size_t k = 0; k < o.addresses.size(); ++k) {
    runs.push_back(std::make_unique<CameraRun>());
    runs.back()->name = o.names[k];
    runs.back()->address = o.addresses[k];
  }
  for (size_t k = 0; k < runs.size(); ++k) {
    CameraRun& run = *runs[k];
    run.thread = std::thread([&, k, runPtr = &run] {
      CameraRun& self = *runPtr;
      GrabHooks h;
      h.stopRequested = [&] {
        return stopAll.load() || (hooks.stopRequested && hooks.stopRequested());
      };
      h.stopSignal = hooks.stopSignal;
      h.output = [&rig, k] { return rig->cameraOutput(k); };
      h.frameDone = [&self](const GrabReport& r) {
        const std::lock_guard<std::mutex> lock(self.mutex);
        self.progress = r;
      };
      try {
        runGrab(o, self.address, h, self.report);
      } catch (const std::exception& e) {
        self.failure = "error while " + self.report.stage + ": " + e.what();
        if (!o.keepGoing) stopAll = true;
      }
      {
        const std::lock_guard<std::mutex> lock(self.mutex);
        self.progress = self.report;
        self.failed = !self.failure.empty();
        self.done = true;
      }
      const std::lock_guard<std::mutex> lock(doneMutex);
      doneChanged.notify_all();
    });
  }

  // The progress line, until every camera has ended.
  for (;;) {
    bool allDone = false;
    const std::string text = progressOf(runs, o.frames, allDone);
    if (hooks.progress) hooks.progress->updateText(text, allDone);
    if (allDone) break;
    std::unique_lock<std::mutex> lock(doneMutex);
    doneChanged.wait_for(lock, std::chrono::milliseconds(100));
  }
  for (const std::unique_ptr<CameraRun>& run : runs) run->thread.join();
  if (hooks.progress) hooks.progress->finish();

  std::vector<RigCameraReport> reports;
  std::string failure;  // the recording's last record
  std::vector<std::string> failedNames;
  for (const std::unique_ptr<CameraRun>& run : runs) {
    reports.push_back({run->name, run->report, run->failure});
    if (run->failure.empty()) continue;
    failedNames.push_back(run->name);
    failure +=
        (failure.empty() ? "" : "; ") + run->name + " (" + run->address + "): " + run->failure;
  }
  int status = 0;
  try {
    stage = "closing the recording " + o.outDir;
    rig->close(failure);
  } catch (const std::exception& e) {
    std::fprintf(err, "vyxgrab: error while %s: %s\n", stage.c_str(), e.what());
    status = kExitError;
  }
  for (RigCameraReport& r : reports) r.report.fileBytes = 0;  // the file's size after closing
  reports.front().report.fileBytes = fileSize(o.outDir);
  std::fputs(formatRigSummary(reports, o.outDir).c_str(), out);
  std::fflush(out);

  for (const std::unique_ptr<CameraRun>& run : runs) {
    if (!run->failure.empty())
      std::fprintf(err, "vyxgrab: camera %s at %s: %s\n", run->name.c_str(), run->address.c_str(),
                   run->failure.c_str());
    if (!run->report.closeNote.empty())
      std::fprintf(err, "vyxgrab: %s: %s\n", run->name.c_str(), run->report.closeNote.c_str());
  }
  if (!failedNames.empty()) {
    std::string names;
    for (const std::string& n : failedNames) names += (names.empty() ? "" : ", ") + n;
    std::fprintf(
        err, "vyxgrab: %zu of %zu cameras failed (%s); %s\n", failedNames.size(), runs.size(),
        names.c_str(),
        o.keepGoing ? "the others went on (--keep-going)" : "the others were stopped and closed");
    return kExitError;
  }
  if (status != 0) return status;
  for (const RigCameraReport& r : reports) {
    if (r.report.interrupted && r.report.stopSignal != 0)
      return kExitSignalBase + r.report.stopSignal;
  }
  return 0;
}

}  // namespace vyxgrab
