// --out NAME.mcap: the frames of one camera in one recording (vyxrec::McapRecorder): raw data for
// an exact replay, distance and amplitude as the plug-in converts them, the lens as camera_info,
// the run's description first and the counters last. A failed grab closes the file properly, the
// reason in its last metadata record.
#include <sys/stat.h>

#include <nlohmann/json.hpp>
#include <stdexcept>
#include <vector>

#include "grab_output.h"
#include "vyxrec/mcap_recorder.h"

namespace vyxgrab {

namespace {

vyxrec::ros2::CameraInfo cameraInfoOf(const vyxhost::LensModel& lens, const std::string& name) {
  vyxrec::ros2::CameraInfo info;
  info.frameId = name;
  info.width = static_cast<uint32_t>(lens.width);
  info.height = static_cast<uint32_t>(lens.height);
  info.distortionModel = "plumb_bob";
  info.d.assign(lens.distortion.begin(), lens.distortion.end());
  info.k = {lens.fx, 0, lens.cx, 0, lens.fy, lens.cy, 0, 0, 1};
  info.p = {lens.fx, 0, lens.cx, 0, 0, lens.fy, lens.cy, 0, 0, 0, 1, 0};
  return info;
}

uint64_t fileSize(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

class McapOutput : public GrabOutput {
 public:
  explicit McapOutput(const GrabOptions& o) : o_(o) {
    struct stat st {};
    if (::stat(o.outDir.c_str(), &st) == 0 && !o.overwrite) {
      throw std::runtime_error(o.outDir +
                               " already exists; choose another --out, or add --overwrite to "
                               "replace it");
    }
  }

  void begin(const vyxrec::RunInfo& run, const vyxhost::LensModel& lens) override {
    recorder_ = std::make_unique<vyxrec::McapRecorder>(o_.outDir, vyxrec::runInfoJson(run));
    camera_ = recorder_->addCamera(o_.name);
    info_ = cameraInfoOf(lens, o_.name);
  }

  void frame(const vyxhost::Frame& frame, const vyxhost::FrameConverter& converter,
             GrabReport& report) override {
    report.stage = "converting frame " + std::to_string(frame.sequence);
    vyxhost::ImageShape shape;
    const bool haveDistance = convert(VYX_TYPE_10001, frame, converter, distance_, shape);
    vyxhost::ImageShape amplitudeShape;
    const bool haveAmplitude =
        convert(VYX_TYPE_10002, frame, converter, amplitude_, amplitudeShape) &&
        (!haveDistance || amplitudeShape.pixels() == shape.pixels());
    if (!haveDistance) shape = amplitudeShape;
    report.stage = "recording frame " + std::to_string(frame.sequence) + " into " + o_.outDir;
    info_.stampNs = static_cast<uint64_t>(frame.utcNs);
    recorder_->cameraInfo(camera_, info_);
    recorder_->record(camera_,
                      {static_cast<uint64_t>(frame.utcNs), &frame.description, frame.raw.data(),
                       frame.raw.size(), haveDistance ? distance_.data() : nullptr,
                       haveAmplitude ? amplitude_.data() : nullptr, shape.columns, shape.rows});
    report.files = 1;
    report.fileBytes = fileSize(o_.outDir);
  }

  void idle() override {
    if (recorder_) recorder_->flushIfDue();
  }

  void finish(const vyxrec::Settings& readBack, const vyxhost::Counters& counters) override {
    if (recorder_) recorder_->finish(countersJson(counters, readBack));
  }

  void fail(const std::string& reason, const vyxhost::Counters& counters) noexcept override {
    if (!recorder_) return;
    try {
      recorder_->fail(reason, countersJson(counters, {}));
    } catch (...) {
      // fail() itself does not throw; the counters' text could not even be made.
    }
  }

  void summarise(GrabReport& report) const override {
    report.outputs = {"/lvt/" + o_.name + "/{raw,distance,amplitude,camera_info}"};
    report.files = 1;
    report.fileBytes = fileSize(o_.outDir);
  }

 private:
  static bool convert(uint32_t type, const vyxhost::Frame& frame,
                      const vyxhost::FrameConverter& converter, std::vector<float>& image,
                      vyxhost::ImageShape& shape) {
    const int bytes = converter.imageBytes(type, frame.description);
    if (bytes <= 0) return false;
    image.resize(static_cast<size_t>(bytes) / sizeof(float));
    if (!converter.convert(type, frame.description, frame.raw.data(), image.data(),
                           image.size() * sizeof(float), &shape))
      return false;
    if (shape.pixels() == 0 || shape.pixels() > image.size())
      throw std::runtime_error("the plug-in described a " + std::to_string(shape.columns) + " x " +
                               std::to_string(shape.rows) + " image in " + std::to_string(bytes) +
                               " bytes");
    return true;
  }

  const GrabOptions& o_;
  std::unique_ptr<vyxrec::McapRecorder> recorder_;
  int camera_ = 0;
  vyxrec::ros2::CameraInfo info_;
  std::vector<float> distance_, amplitude_;
};

}  // namespace

std::unique_ptr<GrabOutput> makeMcapOutput(const GrabOptions& options) {
  return std::make_unique<McapOutput>(options);
}

std::string countersJson(const vyxhost::Counters& c, const vyxrec::Settings& readBack) {
  nlohmann::json j = {{"frames", c.frames},         {"image_blocks", c.imageBlocks},
                      {"stalls", c.stalls},         {"losses", c.losses},
                      {"reconnects", c.reconnects}, {"last_latency_s", c.lastLatencySeconds}};
  j["retried_images"] = c.retriedImages ? nlohmann::json(*c.retriedImages) : nlohmann::json();
  auto value = [](const std::optional<int64_t>& v) {
    return v ? nlohmann::json(*v) : nlohmann::json();
  };
  j["settings_read_back"] = {{"itime0", value(readBack.itime0)},
                             {"itime1", value(readBack.itime1)},
                             {"fps", value(readBack.fps)}};
  return j.dump();
}

}  // namespace vyxgrab
