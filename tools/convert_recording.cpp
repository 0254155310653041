#include "convert_recording.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "grab_output.h"
#include "lvtwire/frame_blocks.h"
#include "vyxhost/camera.h"
#include "vyxhost/locate.h"
#include "vyxhost/vyxhost.h"
#include "vyxrec/mcap_playback.h"

namespace vyxgrab {

namespace {

// The lens a recording's camera_info describes; the nominal lens when it holds none.
vyxhost::LensModel recordedLens(vyxrec::McapPlayback& playback, size_t camera) {
  const vyxrec::ros2::CameraInfo* info = playback.cameraInfo(camera);
  if (info == nullptr || info->d.size() != 5) return vyxhost::nominalLens();
  vyxhost::LensModel lens;
  lens.width = static_cast<int>(info->width);
  lens.height = static_cast<int>(info->height);
  lens.fx = info->k[0];
  lens.fy = info->k[4];
  lens.cx = info->k[2];
  lens.cy = info->k[5];
  for (size_t i = 0; i < 5; ++i) lens.distortion[i] = info->d[i];
  lens.source = "camera_info recorded in " + playback.reader().name();
  vyxhost::checkLens(lens);
  return lens;
}

// What the recording says of its camera, for the folder's run.json.
void takeRecordedRun(const std::string& json, vyxrec::RunInfo& run) {
  try {
    const nlohmann::json j = nlohmann::json::parse(json);
    run.address = j.at("camera").value("address", "");
    run.simulated = j.at("camera").value("simulated", false);
    if (j.contains("filters")) run.filters = j.at("filters").dump();
  } catch (const std::exception&) {
    // Another writer's description: the frames convert all the same.
  }
}

}  // namespace

void runConvert(const GrabOptions& o, GrabReport& report) {
  report.address = o.convert;
  report.cameraNote = "recording";
  report.outDir = o.outDir;
  report.stage = "finding the plug-in";
  const std::string pluginPath = vyxhost::findPlugin(o.pluginPath);
  report.stage = "reading " + o.convert;
  vyxrec::McapPlayback playback(o.convert);
  report.stage = "creating the output directory " + o.outDir;
  std::unique_ptr<GrabOutput> output = makeFolderOutput(o);
  report.stage = "loading the plug-in " + pluginPath;
  const vyxhost::FrameConverter converter(vyxhost::sharedPlugin(pluginPath));

  vyxrec::PlaybackFrame recorded;
  vyxhost::Frame frame;
  vyxrec::RunInfo run;
  bool begun = false;
  size_t camera = 0;
  try {
    while (playback.next(recorded)) {
      if (!begun) {
        // The camera of that name, else the first: chosen once the cameras are known.
        const auto& names = playback.cameras();
        for (size_t c = 0; c < names.size(); ++c)
          if (names[c] == o.name) camera = c;
        const vyxhost::LensModel lens = o.calibration.empty()
                                            ? recordedLens(playback, camera)
                                            : vyxhost::readCalibration(o.calibration);
        run.tool = "vyxgrab";
        run.toolVersion = VYXGRAB_VERSION;
        run.pluginPath = converter.plugin().path();
        run.interfaceVersion = static_cast<int>(converter.plugin()->vyxpInterfaceVersion());
        run.replay = o.convert;
        takeRecordedRun(playback.runManifest(), run);
        run.calibration = vyxhost::calibrationJson(lens);
        if (o.ply || run.filters.empty()) run.filters = o.filters.toJson();
        output->begin(run, lens);
        report.lens = lens.nominal ? "nominal lens (the recording holds none)" : lens.source;
        begun = true;
      }
      if (recorded.camera != camera || !recorded.hasRaw) continue;
      frame.sequence = report.frames;
      frame.raw = recorded.raw;
      std::memcpy(&frame.description, recorded.description.data(),
                  std::min(sizeof frame.description, recorded.description.size()));
      frame.utcNs = static_cast<int64_t>(recorded.stampNs);
      report.stage = "converting recorded frame " + std::to_string(recorded.sequence);
      output->frame(frame, converter, report);
      ++report.frames;
      report.frameBytes = frame.raw.size();
      report.cameraImageTypes = lvtwire::imageTypesInFrame(frame.raw);
      report.columns = frame.description.std.numColumns;
      report.rows = frame.description.std.numRows;
    }
    if (report.frames == 0) throw std::runtime_error(o.convert + " holds no raw frames to convert");
    vyxhost::Counters counters;
    counters.frames = report.frames;
    report.stage = "writing the manifest";
    output->finish({}, counters);
    output->summarise(report);
  } catch (const std::exception& e) {
    vyxhost::Counters counters;
    counters.frames = report.frames;
    output->fail(e.what(), counters);
    output->summarise(report);
    throw;
  }
  if (!playback.complete())
    report.closeNote = o.convert + " ends early: " + playback.stopReason() +
                       "; the frames before that point were converted";
  report.stage.clear();
}

}  // namespace vyxgrab
