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

#include "raw_frame_blocks.h"
#include "run_folder.h"
#include "vyxhost/camera.h"
#include "vyxhost/locate.h"
#include "vyxhost/output_types.h"
#include "vyxhost/vyxhost.h"
#include "vyxrec/frame_writer.h"
#include "vyxrec/run_manifest.h"

namespace vyxgrab {

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kManifestEverySeconds = 1.0;

std::string hex(uint32_t code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%" PRIx32, code);
  return text;
}

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

// Converts every output type the frame allows and writes its files; returns their names.
std::vector<std::string> convertFrame(const vyxhost::Frame& frame, const vyxhost::Camera& camera,
                                      vyxrec::FrameWriter& writer, GrabReport& report) {
  const uint64_t index = frame.sequence;
  std::vector<std::string> files;
  std::vector<std::pair<const char*, std::vector<float>>> images;
  for (const vyxhost::OutputType& type : vyxhost::outputTypes()) {
    report.stage = "converting frame " + std::to_string(index) + " to " + type.name;
    const int bytes = camera.imageBytes(type.code, frame);
    if (bytes <= 0) continue;
    std::vector<float> image(static_cast<size_t>(bytes) / sizeof(float), 0.0f);
    vyxhost::ImageShape shape;
    if (!camera.convert(type.code, frame, image.data(), image.size() * sizeof(float), &shape))
      continue;
    const uint64_t pixels = shape.pixels();
    if (pixels == 0 || pixels > image.size()) {
      throw std::runtime_error("the plug-in described a " + std::to_string(shape.columns) + " x " +
                               std::to_string(shape.rows) + " image in " + std::to_string(bytes) +
                               " bytes");
    }
    image.resize(static_cast<size_t>(pixels));
    for (const auto& [earlier, pixelsOfEarlier] : images) {
      if (pixelsOfEarlier.size() == image.size() &&
          std::memcmp(pixelsOfEarlier.data(), image.data(), image.size() * sizeof(float)) == 0) {
        const std::string note = std::string(type.name) + " has the same pixels as " + earlier;
        if (std::find(report.sameImages.begin(), report.sameImages.end(), note) ==
            report.sameImages.end())
          report.sameImages.push_back(note);
        break;
      }
    }
    report.stage = "writing frame " + std::to_string(index) + " " + type.name + " files";
    const std::vector<std::string> written = writer.writeImage(
        index, {type.code, type.name, type.unit}, image.data(), shape.rows, shape.columns);
    files.insert(files.end(), written.begin(), written.end());
    const std::string made = std::string(type.name) + " (" + hex(type.code) + ")";
    if (std::find(report.outputs.begin(), report.outputs.end(), made) == report.outputs.end()) {
      report.outputs.push_back(made);
    }
    images.emplace_back(type.name, std::move(image));
  }
  return files;
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
void takeCounters(const vyxhost::Camera* camera, GrabReport& report) {
  if (camera == nullptr) return;
  const vyxhost::Counters c = camera->counters();
  report.imageBlocks = c.imageBlocks;
  report.retriedImages = c.retriedImages;
}

void summariseScales(const vyxrec::FrameWriter& writer, bool previews, GrabReport& report) {
  report.clipped.clear();
  if (!previews) return;
  for (const auto& [type, scale] : writer.previewScales()) {
    if (scale.empty) continue;
    const auto clipped = writer.clippedValues().find(type);
    report.clipped.push_back({type, scale.min, scale.max,
                              clipped == writer.clippedValues().end() ? 0 : clipped->second});
  }
}

}  // namespace

void runGrab(const GrabOptions& o, const std::string& address, const GrabHooks& hooks,
             GrabReport& report) {
  report.address = address;
  report.outDir = o.outDir;
  report.framesWanted = o.frames;

  report.stage = "finding the plug-in";
  const std::string pluginPath = vyxhost::findPlugin(o.pluginPath);
  report.stage = "creating the output directory " + o.outDir;
  claimRunFolder(o.outDir, o.overwrite);
  vyxrec::FrameWriter writer(o.outDir, o.zoom, o.write, o.ranges);
  const bool convert = o.write.npy || o.write.png || o.write.preview;

  report.stage = "loading the plug-in " + pluginPath;
  // Held for the whole run, so that the camera below uses this very load.
  const std::shared_ptr<const vyxhost::Plugin> plugin = vyxhost::sharedPlugin(pluginPath);
  report.stage = "opening the camera at " + address;
  vyxhost::CameraOptions cameraOptions;
  cameraOptions.address = address;
  cameraOptions.pluginPath = pluginPath;
  cameraOptions.requestsReceived = hooks.requestsSent;
  std::unique_ptr<vyxhost::Camera> camera;
  {
    const WaitNote::Scope waiting(hooks.waiting, "the camera at " + address + " to answer");
    camera = std::make_unique<vyxhost::Camera>(std::move(cameraOptions));
  }

  vyxrec::Manifest manifest;
  manifest.run = runInfo(o, *camera, hooks);
  const Clock::time_point start = Clock::now();
  Clock::time_point manifestWritten = start;
  auto saveManifest = [&] {
    if (manifest.frames.empty()) return;  // a run without frames leaves no claim on the folder
    report.stage = "writing " + vyxrec::manifestPath(o.outDir);
    vyxrec::writeManifest(o.outDir, manifest);
    manifestWritten = Clock::now();
  };
  try {
    report.stage = "checking the settings";
    checkSettings(o, *camera);
    applySettings(o, *camera, report);

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
      vyxrec::FrameEntry entry;
      entry.stamp = vyxrec::stampNow();
      const double at = since(start);
      const std::vector<uint8_t>& raw = frame.raw;
      const VYXDataDescription& desc = frame.description;
      report.cameraImageTypes = imageTypesInFrame(raw);

      report.stage = "writing " + which;
      entry.index = index;
      entry.integrationTimes = {frame.integrationTime(0), frame.integrationTime(1)};
      entry.files = writer.writeRaw(index, raw, desc);
      if (!entry.files.empty()) {
        entry.raw = entry.files[0];
        entry.description = entry.files[1];
      }
      if (convert) {
        const std::vector<std::string> images = convertFrame(frame, *camera, writer, report);
        entry.files.insert(entry.files.end(), images.begin(), images.end());
      }
      manifest.frames.push_back(std::move(entry));
      if (since(manifestWritten) >= kManifestEverySeconds) saveManifest();

      if (index == 0) report.firstFrameAt = at;
      report.lastFrameAt = at;
      report.frames = index + 1;
      report.seconds = since(start);
      report.frameBytes = raw.size();
      report.columns = desc.std.numColumns;
      report.rows = desc.std.numRows;
      report.itimeFrame = {desc.std.integrationTime[0], desc.std.integrationTime[1]};
      report.files = writer.filesWritten();
      report.fileBytes = writer.bytesWritten();
      if (hooks.progress) hooks.progress->update(report.frames, o.frames, report.seconds);
    }
    if (hooks.progress) hooks.progress->finish();
    takeCounters(camera.get(), report);
    summariseScales(writer, o.write.preview, report);
    readBack(*camera, report, manifest.run.readBack);
    saveManifest();
  } catch (...) {
    // The frames written so far stay described and counted.
    report.seconds = since(start);
    takeCounters(camera.get(), report);
    summariseScales(writer, o.write.preview, report);
    const std::string stage = report.stage;
    try {
      saveManifest();
    } catch (const std::exception&) {
    }
    report.stage = stage;
    closeCamera(camera, report);
    throw;
  }
  report.stage = "closing the camera";
  closeCamera(camera, report);
  report.stage.clear();
}

}  // namespace vyxgrab
