#include "grab_session.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <stdexcept>
#include <vector>

#include "file_output.h"
#include "frame_writer.h"
#include "output_types.h"
#include "raw_frame_blocks.h"
#include "vyxhost/vyxhost.h"

namespace vyxgrab {

namespace {

// Handles of our instances; the two plug-ins keep separate registries.
constexpr unsigned int kSourceHandle = 1;
constexpr unsigned int kProcessingHandle = 1;

std::string hex(uint32_t code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%" PRIx32, code);
  return text;
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

// Converts every output type the frame allows and writes its files.
void convertFrame(uint64_t frame, const std::vector<uint8_t>& raw, const VYXDataDescription& desc,
                  const vyxhost::ProcessingInstance& processing, FrameWriter& writer,
                  GrabReport& report) {
  std::vector<float> image;
  for (const OutputType& type : outputTypes()) {
    report.stage = "converting frame " + std::to_string(frame) + " to " + type.name;
    const int bytes = processing.canProcess(type.code, desc);
    if (bytes <= 0) continue;
    image.assign(static_cast<size_t>(bytes) / sizeof(float), 0.0f);
    const VYXDataDescription out =
        processing.process(type.code, desc, raw.data(), image.data(), image.size() * sizeof(float));
    const uint64_t pixels = uint64_t{out.std.numRows} * out.std.numColumns;
    if (pixels == 0 || pixels > image.size()) {
      throw std::runtime_error("the plug-in described a " + std::to_string(out.std.numColumns) +
                               " x " + std::to_string(out.std.numRows) + " image in " +
                               std::to_string(bytes) + " bytes");
    }
    report.stage = "writing frame " + std::to_string(frame) + " " + type.name + " files";
    writer.writeImage(frame, type, image.data(), out.std.numRows, out.std.numColumns);
    const std::string made = std::string(type.name) + " (" + hex(type.code) + ")";
    if (std::find(report.outputs.begin(), report.outputs.end(), made) == report.outputs.end()) {
      report.outputs.push_back(made);
    }
  }
}

}  // namespace

void runGrab(const GrabOptions& o, const std::string& address, const GrabHooks& hooks,
             GrabReport& report) {
  using Clock = std::chrono::steady_clock;
  report.address = address;
  report.outDir = o.outDir;
  report.framesWanted = o.frames;

  report.stage = "creating the output directory " + o.outDir;
  makeDirectories(o.outDir);
  FrameWriter writer(o.outDir, o.zoom);

  report.stage = "loading the plug-in " + o.pluginPath;
  vyxhost::Plugin plugin(o.pluginPath);
  report.stage = "opening the camera at " + address;
  vyxhost::SourceInstance source(plugin, kSourceHandle, address);
  applySettings(o, source, report);
  report.stage = "opening a processing instance";
  vyxhost::ProcessingInstance processing(plugin, kProcessingHandle);

  std::vector<uint8_t> raw;
  const Clock::time_point start = Clock::now();
  auto elapsed = [&] { return std::chrono::duration<double>(Clock::now() - start).count(); };
  for (uint64_t frame = 0; o.frames == 0 || frame < o.frames; ++frame) {
    if (hooks.stopRequested && hooks.stopRequested()) {
      report.interrupted = true;
      break;
    }
    const std::string which = "frame " + std::to_string(frame);
    report.stage = "grabbing " + which;
    source.update();
    source.rawData(raw);
    const VYXDataDescription desc = source.description();

    report.stage = "writing " + which;
    writer.writeRaw(frame, raw, desc);
    convertFrame(frame, raw, desc, processing, writer, report);

    report.frames = frame + 1;
    report.seconds = elapsed();
    report.frameBytes = raw.size();
    report.columns = desc.std.numColumns;
    report.rows = desc.std.numRows;
    report.cameraImageTypes = imageTypesInFrame(raw);
    report.imageBlocks += report.cameraImageTypes.size();
    report.itimeFrame = {desc.std.integrationTime[0], desc.std.integrationTime[1]};
    report.files = writer.filesWritten();
    report.fileBytes = writer.bytesWritten();
    if (hooks.progress) hooks.progress->update(report.frames, o.frames, report.seconds);
  }
  if (hooks.progress) hooks.progress->finish();
  if (hooks.requestsSent) report.requestsSent = hooks.requestsSent();

  report.stage = "reading the settings back";
  report.itimeSetting = {source.integrationTime(0), source.integrationTime(1)};
  report.fps = source.info("FPS");
  report.stage.clear();
}

}  // namespace vyxgrab
