#include "grab_session.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

#include "grab_output.h"
#include "raw_frame_blocks.h"
#include "vyxhost/camera.h"
#include "vyxhost/locate.h"
#include "vyxhost/output_types.h"
#include "vyxhost/vyxhost.h"
#include "vyxrec/run_manifest.h"

namespace vyxgrab {

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

// Every requested setting is checked against the camera's ranges before the first is written, so
// a setting out of range leaves the camera as it was.
void checkSettings(const GrabOptions& o, vyxhost::Camera& camera) {
  const std::optional<uint32_t> itimes[2] = {o.itime0, o.itime1};
  for (unsigned int idx = 0; idx < 2; ++idx) {
    if (!itimes[idx]) continue;
    const vyxhost::ValueRange r = camera.integrationTimeRange(idx);
    if (!r.contains(*itimes[idx])) {
      throw std::runtime_error("--itime" + std::to_string(idx) + " " +
                               std::to_string(*itimes[idx]) + " is outside the range " +
                               std::to_string(r.min) + " to " + std::to_string(r.max) +
                               " us the plug-in gives for integration time " + std::to_string(idx) +
                               "; nothing was written to the camera");
    }
  }
  const vyxhost::ValueRange fps = camera.frameRateRange();
  if (o.fps && !fps.contains(*o.fps)) {
    throw std::runtime_error("--fps " + std::to_string(*o.fps) + " is outside the range " +
                             std::to_string(fps.min) + " to " + std::to_string(fps.max) +
                             " frames/s the camera takes; nothing was written to the camera");
  }
}

// A refused frame rate leaves the camera at its old one; the session's error says what the
// camera took instead.
void applySettings(const GrabOptions& o, vyxhost::Camera& camera, GrabReport& report) {
  if (o.itime0) {
    report.stage = "setting integration time 0 to " + std::to_string(*o.itime0) + " us";
    camera.setIntegrationTime(0, *o.itime0);
  }
  if (o.itime1) {
    report.stage = "setting integration time 1 to " + std::to_string(*o.itime1) + " us";
    camera.setIntegrationTime(1, *o.itime1);
  }
  if (o.fps) {
    report.stage = "setting the frame rate to " + std::to_string(*o.fps) + " frames/s";
    camera.setFrameRate(*o.fps);
  }
}

void closeCamera(std::unique_ptr<vyxhost::Camera>& camera, GrabReport& report) {
  if (!camera) return;
  camera->close();
  report.closeNote = camera->closeNote();
}

std::optional<int64_t> number(const std::optional<uint32_t>& v) {
  return v ? std::optional<int64_t>(*v) : std::nullopt;
}

vyxrec::RunInfo runInfo(const GrabOptions& o, const vyxhost::Camera& camera,
                        const GrabHooks& hooks) {
  vyxrec::RunInfo r;
  r.tool = "vyxgrab";
  r.toolVersion = VYXGRAB_VERSION;
  r.pluginPath = camera.plugin().path();
  r.interfaceVersion = static_cast<int>(camera.plugin()->vyxpInterfaceVersion());
  r.address = camera.address();
  r.simulated = hooks.simulated;
  r.replay = hooks.replay;
  r.requested = {number(o.itime0), number(o.itime1), number(o.fps)};
  const vyxhost::AcceptedSettings accepted = camera.accepted();
  auto acceptedNumber = [](const std::optional<unsigned>& v) {
    return v ? std::optional<int64_t>(*v) : std::nullopt;
  };
  r.readBack = {acceptedNumber(accepted.itime0), acceptedNumber(accepted.itime1),
                acceptedNumber(accepted.fps)};
  r.calibration = vyxhost::calibrationJson(camera.lens());
  r.filters = o.filters.toJson();
  return r;
}

void readBack(vyxhost::Camera& camera, GrabReport& report, vyxrec::Settings& settings) {
  report.stage = "reading the settings back";
  report.itimeSetting = {camera.integrationTime(0), camera.integrationTime(1)};
  report.fps = camera.info("FPS");
  settings.itime0 = (*report.itimeSetting)[0];
  settings.itime1 = (*report.itimeSetting)[1];
  char* end = nullptr;
  const long long fps = std::strtoll(report.fps->c_str(), &end, 10);
  if (end != report.fps->c_str() && *end == '\0') settings.fps = fps;
}

// What the session counted: the image blocks delivered and, with the simulator, retried ones.
vyxhost::Counters takeCounters(const vyxhost::Camera* camera, GrabReport& report) {
  if (camera == nullptr) return {};
  const vyxhost::Counters c = camera->counters();
  report.imageBlocks = c.imageBlocks;
  report.retriedImages = c.retriedImages;
  report.stalls = c.stalls;
  report.losses = c.losses;
  report.reconnects = c.reconnects;
  report.lastLatencySeconds = c.lastLatencySeconds;
  return c;
}

// --calibration, else the lens the embedded simulator renders through, else none (nominal).
std::optional<vyxhost::LensModel> chooseLens(const GrabOptions& o, const GrabHooks& hooks) {
  if (!o.calibration.empty()) return vyxhost::readCalibration(o.calibration);
  return hooks.lens;
}

std::string describeLens(const vyxhost::LensModel& lens) {
  char numbers[160];
  std::snprintf(numbers, sizeof numbers, "fx %.2f fy %.2f cx %.2f cy %.2f", lens.fx, lens.fy,
                lens.cx, lens.cy);
  return (lens.nominal ? "nominal lens (no calibration given), " : lens.source + ", ") + numbers;
}

}  // namespace

void runGrab(const GrabOptions& o, const std::string& address, const GrabHooks& hooks,
             GrabReport& report) {
  report.address = address;
  report.outDir = o.outDir;
  report.framesWanted = o.frames;

  report.stage = "finding the plug-in";
  const std::string pluginPath = vyxhost::findPlugin(o.pluginPath);
  report.stage = "reading the calibration " + o.calibration;
  std::optional<vyxhost::LensModel> lens = chooseLens(o, hooks);
  report.stage =
      (recordsToMcap(o) ? "creating the recording " : "creating the output directory ") + o.outDir;
  std::unique_ptr<GrabOutput> output = hooks.output       ? hooks.output()
                                       : recordsToMcap(o) ? makeMcapOutput(o)
                                                          : makeFolderOutput(o);

  report.stage = "loading the plug-in " + pluginPath;
  // Held for the whole run, so that the camera below uses this very load.
  const std::shared_ptr<const vyxhost::Plugin> plugin = vyxhost::sharedPlugin(pluginPath);
  report.stage = "opening the camera at " + address;
  vyxhost::CameraOptions cameraOptions;
  cameraOptions.address = address;
  cameraOptions.pluginPath = pluginPath;
  cameraOptions.requestsReceived = hooks.requestsSent;
  cameraOptions.lens = std::move(lens);
  std::unique_ptr<vyxhost::Camera> camera;
  {
    const WaitNote::Scope waiting(hooks.waiting, "the camera at " + address + " to answer");
    camera = std::make_unique<vyxhost::Camera>(std::move(cameraOptions));
  }
  report.lens = describeLens(camera->lens());

  const Clock::time_point start = Clock::now();
  try {
    report.stage = "checking the settings";
    checkSettings(o, *camera);
    applySettings(o, *camera, report);
    report.stage = "starting the output " + o.outDir;
    output->begin(runInfo(o, *camera, hooks), camera->lens());

    vyxhost::Frame frame;
    for (uint64_t index = 0; o.frames == 0 || index < o.frames; ++index) {
      if (hooks.stopRequested && hooks.stopRequested()) {
        report.interrupted = true;
        if (hooks.stopSignal) report.stopSignal = hooks.stopSignal();
        break;
      }
      const std::string which = "frame " + std::to_string(index);
      report.stage = "grabbing " + which;
      {
        const WaitNote::Scope waiting(hooks.waiting, which + " from the camera at " + address);
        try {
          camera->grab(frame);
        } catch (const vyxhost::CameraError& e) {
          if (e.kind() == vyxhost::FailureKind::Stalled)
            report.waitAfterLastFrame = e.waitedSeconds();
          throw;
        }
      }
      const double at = since(start);
      const VYXDataDescription& desc = frame.description;
      report.cameraImageTypes = imageTypesInFrame(frame.raw);

      report.stage = "writing " + which;
      output->frame(frame, camera->converter(), report);

      if (index == 0) report.firstFrameAt = at;
      report.lastFrameAt = at;
      report.frames = index + 1;
      report.seconds = since(start);
      report.frameBytes = frame.raw.size();
      report.columns = desc.std.numColumns;
      report.rows = desc.std.numRows;
      report.itimeFrame = {desc.std.integrationTime[0], desc.std.integrationTime[1]};
      if (hooks.progress) hooks.progress->update(report.frames, o.frames, report.seconds);
      if (hooks.frameDone) {
        takeCounters(camera.get(), report);
        hooks.frameDone(report);
      }
    }
    if (hooks.progress) hooks.progress->finish();
    vyxrec::Settings readBackSettings;
    readBack(*camera, report, readBackSettings);
    const vyxhost::Counters counters = takeCounters(camera.get(), report);
    report.stage = "closing the output " + o.outDir;
    output->finish(readBackSettings, counters);
    output->summarise(report);
  } catch (const std::exception& e) {
    // The frames written so far stay described and counted.
    report.seconds = since(start);
    const vyxhost::Counters counters = takeCounters(camera.get(), report);
    output->fail("while " + report.stage + ": " + e.what(), counters);
    output->summarise(report);
    closeCamera(camera, report);
    throw;
  }
  report.stage = "closing the camera";
  closeCamera(camera, report);
  report.stage.clear();
}

}  // namespace vyxgrab
