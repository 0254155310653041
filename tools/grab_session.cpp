#include "grab_session.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

#include "raw_frame_blocks.h"
#include "run_folder.h"
#include "vyxhost/locate.h"
#include "vyxhost/output_types.h"
#include "vyxhost/vyxhost.h"
#include "vyxrec/frame_writer.h"
#include "vyxrec/run_manifest.h"

namespace vyxgrab {

namespace {

using Clock = std::chrono::steady_clock;

// Handles of our instances. The two plug-ins keep separate registries, but vyxpDeinitPlugin
// serves both and looks at the cameras first: with the same number, closing the processing
// instance would close a camera that refused to close once more.
constexpr unsigned int kSourceHandle = 1;
constexpr unsigned int kProcessingHandle = 2;
constexpr uint16_t kControlPort = 8080;  // where the plug-in reaches the camera's control
constexpr double kManifestEverySeconds = 1.0;

// A camera that did not answer its closing, left open until the process ends (closeCamera).
// volatile: the store must stay, so that the instance is still referenced at exit.
vyxhost::SourceInstance* volatile unansweredCamera = nullptr;

std::string hex(uint32_t code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%" PRIx32, code);
  return text;
}

std::string secondsText(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", seconds);
  return text;
}

double since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

struct Limits {
  unsigned int min = 0, max = 0;
};

// The integration times the plug-in accepts, asked before anything is set.
Limits integrationTimeLimits(const vyxhost::Plugin& plugin, unsigned int idx) {
  Limits l;
  plugin.check(plugin->vyxpGetValidIntegrationTime(kSourceHandle, &l.min, idx, AtLeast, 0),
               "vyxpGetValidIntegrationTime", kSourceHandle);
  plugin.check(plugin->vyxpGetValidIntegrationTime(kSourceHandle, &l.max, idx, AtMost, UINT_MAX),
               "vyxpGetValidIntegrationTime", kSourceHandle);
  return l;
}

// Every requested setting is checked before the first is written, so a refused one leaves the
// camera as it was.
void checkSettings(const GrabOptions& o, const vyxhost::Plugin& plugin) {
  const std::optional<uint32_t> itimes[2] = {o.itime0, o.itime1};
  for (unsigned int idx = 0; idx < 2; ++idx) {
    if (!itimes[idx]) continue;
    const Limits l = integrationTimeLimits(plugin, idx);
    if (*itimes[idx] < l.min || *itimes[idx] > l.max) {
      throw std::runtime_error("--itime" + std::to_string(idx) + " " +
                               std::to_string(*itimes[idx]) + " is outside the range " +
                               std::to_string(l.min) + " to " + std::to_string(l.max) +
                               " us the plug-in gives for integration time " + std::to_string(idx) +
                               "; nothing was written to the camera");
    }
  }
  if (o.fps && (*o.fps < 1 || *o.fps > static_cast<uint32_t>(INT32_MAX))) {
    throw std::runtime_error("--fps " + std::to_string(*o.fps) + " is outside the range 1 to " +
                             std::to_string(INT32_MAX) +
                             " frames/s the plug-in takes; nothing was written to the camera");
  }
}

void applySettings(const GrabOptions& o, vyxhost::SourceInstance& source, GrabReport& report) {
  if (o.itime0) {
    report.stage = "setting integration time 0 to " + std::to_string(*o.itime0) + " us";
    source.setIntegrationTime(0, *o.itime0);
  }
  if (o.itime1) {
    report.stage = "setting integration time 1 to " + std::to_string(*o.itime1) + " us";
    source.setIntegrationTime(1, *o.itime1);
  }
  if (o.fps) {
    report.stage = "setting the frame rate to " + std::to_string(*o.fps) + " frames/s";
    source.command("SetFPS " + std::to_string(*o.fps));
  }
}

// The plug-in's error (call, code name, text) with what the tool knows added.
std::runtime_error withContext(const std::exception& e, const std::string& context) {
  return std::runtime_error(std::string(e.what()) + "; " + context);
}

std::unique_ptr<vyxhost::SourceInstance> openCamera(const vyxhost::Plugin& plugin,
                                                    const std::string& address) {
  const Clock::time_point start = Clock::now();
  try {
    return std::make_unique<vyxhost::SourceInstance>(plugin, kSourceHandle, address);
  } catch (const vyxhost::CallError& e) {
    const double waited = since(start);
    const std::string where = address + " port " + std::to_string(kControlPort);
    if (waited >= kStallSeconds)
      throw withContext(e,
                        "no answer from the camera at " + where + " within " + secondsText(waited));
    throw withContext(e, "camera control at " + where + ", failed after " + secondsText(waited));
  }
}

void updateFrame(vyxhost::SourceInstance& source, const std::string& address) {
  const Clock::time_point start = Clock::now();
  try {
    source.update();
  } catch (const vyxhost::CallError& e) {
    const double waited = since(start);
    if (waited < kStallSeconds) throw;
    throw withContext(
        e, "the camera at " + address + " stopped answering: no image for " + secondsText(waited));
  }
}

void closeCamera(std::unique_ptr<vyxhost::SourceInstance>& source, GrabReport& report) {
  if (!source) return;
  const Clock::time_point start = Clock::now();
  const int code = source->close();
  const double took = since(start);
  if (code == VYX_OK) {
    source.reset();
  } else {
    // Still open in the plug-in, and its destructor would wait just as long again for a camera
    // that no longer answers. The process ends soon; the instance is kept, reachable, until then.
    unansweredCamera = source.release();
  }
  const std::string answer = code == VYX_OK ? std::string()
                                            : std::string(" (vyxpDeinitPlugin answered ") +
                                                  vyxhost::resultName(code) + " (" +
                                                  std::to_string(code) + "))";
  if (took >= kStallSeconds) {
    report.closeNote = "closing the camera took " + secondsText(took) +
                       ": it no longer answered, and the plug-in gave up waiting" + answer;
  } else if (code != VYX_OK) {
    report.closeNote = "closing the camera failed after " + secondsText(took) + answer;
  }
}

// Converts every output type the frame allows and writes its files; returns their names.
std::vector<std::string> convertFrame(uint64_t frame, const std::vector<uint8_t>& raw,
                                      const VYXDataDescription& desc,
                                      const vyxhost::ProcessingInstance& processing,
                                      vyxrec::FrameWriter& writer, GrabReport& report) {
  std::vector<std::string> files;
  std::vector<std::pair<const char*, std::vector<float>>> images;
  for (const vyxhost::OutputType& type : vyxhost::outputTypes()) {
    report.stage = "converting frame " + std::to_string(frame) + " to " + type.name;
    const int bytes = processing.canProcess(type.code, desc);
    if (bytes <= 0) continue;
    std::vector<float> image(static_cast<size_t>(bytes) / sizeof(float), 0.0f);
    const VYXDataDescription out =
        processing.process(type.code, desc, raw.data(), image.data(), image.size() * sizeof(float));
    const uint64_t pixels = uint64_t{out.std.numRows} * out.std.numColumns;
    if (pixels == 0 || pixels > image.size()) {
      throw std::runtime_error("the plug-in described a " + std::to_string(out.std.numColumns) +
                               " x " + std::to_string(out.std.numRows) + " image in " +
                               std::to_string(bytes) + " bytes");
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
    report.stage = "writing frame " + std::to_string(frame) + " " + type.name + " files";
    const std::vector<std::string> written =
        writer.writeImage(frame, {type.code, type.name, type.unit}, image.data(), out.std.numRows,
                          out.std.numColumns);
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

vyxrec::RunInfo runInfo(const GrabOptions& o, const std::string& pluginPath,
                        const vyxhost::Plugin& plugin, const std::string& address,
                        const GrabHooks& hooks) {
  vyxrec::RunInfo r;
  r.tool = "vyxgrab";
  r.toolVersion = VYXGRAB_VERSION;
  r.pluginPath = pluginPath;
  r.interfaceVersion = static_cast<int>(plugin->vyxpInterfaceVersion());
  r.address = address;
  r.simulated = hooks.simulated;
  r.replay = hooks.replay;
  r.requested = {number(o.itime0), number(o.itime1), number(o.fps)};
  return r;
}

void readBack(vyxhost::SourceInstance& source, GrabReport& report, vyxrec::Settings& settings) {
  report.stage = "reading the settings back";
  report.itimeSetting = {source.integrationTime(0), source.integrationTime(1)};
  report.fps = source.info("FPS");
  settings.itime0 = (*report.itimeSetting)[0];
  settings.itime1 = (*report.itimeSetting)[1];
  char* end = nullptr;
  const long long fps = std::strtoll(report.fps->c_str(), &end, 10);
  if (end != report.fps->c_str() && *end == '\0') settings.fps = fps;
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
  vyxhost::Plugin plugin(pluginPath);
  report.stage = "opening the camera at " + address;
  std::unique_ptr<vyxhost::SourceInstance> source = openCamera(plugin, address);

  vyxrec::Manifest manifest;
  manifest.run = runInfo(o, pluginPath, plugin, address, hooks);
  const Clock::time_point start = Clock::now();
  Clock::time_point manifestWritten = start;
  auto saveManifest = [&] {
    if (manifest.frames.empty()) return;  // a run without frames leaves no claim on the folder
    report.stage = "writing " + vyxrec::manifestPath(o.outDir);
    vyxrec::writeManifest(o.outDir, manifest);
    manifestWritten = Clock::now();
  };
  // Outlives the camera: closed after it, so that a camera that no longer answers is closed once,
  // in closeCamera, and timed there.
  std::unique_ptr<vyxhost::ProcessingInstance> processingInstance;
  try {
    report.stage = "checking the settings";
    checkSettings(o, plugin);
    applySettings(o, *source, report);
    report.stage = "opening a processing instance";
    processingInstance = std::make_unique<vyxhost::ProcessingInstance>(plugin, kProcessingHandle);
    const vyxhost::ProcessingInstance& processing = *processingInstance;

    std::vector<uint8_t> raw;
    for (uint64_t frame = 0; o.frames == 0 || frame < o.frames; ++frame) {
      if (hooks.stopRequested && hooks.stopRequested()) {
        report.interrupted = true;
        if (hooks.stopSignal) report.stopSignal = hooks.stopSignal();
        break;
      }
      const std::string which = "frame " + std::to_string(frame);
      report.stage = "grabbing " + which;
      updateFrame(*source, address);
      vyxrec::FrameEntry entry;
      entry.stamp = vyxrec::stampNow();
      const double at = since(start);
      source->rawData(raw);
      const VYXDataDescription desc = source->description();
      // Counted as delivered, so that a frame that cannot be written does not look retried.
      report.cameraImageTypes = imageTypesInFrame(raw);
      report.imageBlocks += report.cameraImageTypes.size();

      report.stage = "writing " + which;
      entry.index = frame;
      entry.integrationTimes = {static_cast<uint32_t>(std::max(0, desc.std.integrationTime[0])),
                                static_cast<uint32_t>(std::max(0, desc.std.integrationTime[1]))};
      entry.files = writer.writeRaw(frame, raw, desc);
      if (!entry.files.empty()) {
        entry.raw = entry.files[0];
        entry.description = entry.files[1];
      }
      if (convert) {
        const std::vector<std::string> images =
            convertFrame(frame, raw, desc, processing, writer, report);
        entry.files.insert(entry.files.end(), images.begin(), images.end());
      }
      manifest.frames.push_back(std::move(entry));
      if (since(manifestWritten) >= kManifestEverySeconds) saveManifest();

      if (frame == 0) report.firstFrameAt = at;
      report.lastFrameAt = at;
      report.frames = frame + 1;
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
    if (hooks.requestsSent) report.requestsSent = hooks.requestsSent();
    summariseScales(writer, o.write.preview, report);
    readBack(*source, report, manifest.run.readBack);
    saveManifest();
  } catch (...) {
    // The summary covers the time spent waiting for a camera that failed, and the frames
    // written so far stay described.
    report.seconds = since(start);
    if (hooks.requestsSent) report.requestsSent = hooks.requestsSent();
    summariseScales(writer, o.write.preview, report);
    const std::string stage = report.stage;
    try {
      saveManifest();
    } catch (const std::exception&) {
    }
    report.stage = stage;
    closeCamera(source, report);
    throw;
  }
  report.stage = "closing the camera";
  closeCamera(source, report);
  report.stage.clear();
}

}  // namespace vyxgrab
