// --out NAME.mcap: the frames of one camera, or of a rig's cameras, in one recording
// (vyxrec::McapRecorder): raw data for an exact replay, distance and amplitude as the plug-in
// converts them, the lens as camera_info, the run's description first and the counters last. A
// failed grab closes the file properly, the reason in its last metadata record.
#include <sys/stat.h>

#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "grab_output.h"
#include "vyxrec/mcap_recorder.h"

namespace vyxgrab {

uint64_t fileSize(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

namespace {

vyxrec::ros2::CameraInfo cameraInfoOf(const vyxhost::LensModel& lens, const std::string& name) {
  return vyxrec::ros2::pinholeCameraInfo(name, static_cast<uint32_t>(lens.width),
                                         static_cast<uint32_t>(lens.height), lens.fx, lens.fy,
                                         lens.cx, lens.cy, lens.distortion);
}

void refuseExisting(const GrabOptions& o) {
  struct stat st {};
  if (::stat(o.outDir.c_str(), &st) == 0 && !o.overwrite) {
    throw std::runtime_error(o.outDir +
                             " already exists; choose another --out, or add --overwrite to "
                             "replace it");
  }
}

// One camera's frames into a recorder: distance and amplitude converted, the lens as
// camera_info, the raw frame.
class CameraChannel {
 public:
  CameraChannel(vyxrec::McapRecorder& recorder, int handle, std::string name, std::string path)
      : recorder_(recorder), handle_(handle), name_(std::move(name)), path_(std::move(path)) {}

  void begin(const vyxhost::LensModel& lens) { info_ = cameraInfoOf(lens, name_); }

  void frame(const vyxhost::Frame& frame, const vyxhost::FrameConverter& converter,
             GrabReport& report) {
    report.stage = "converting frame " + std::to_string(frame.sequence);
    vyxhost::ImageShape shape;
    const bool haveDistance = convert(VYX_TYPE_10001, frame, converter, distance_, shape);
    vyxhost::ImageShape amplitudeShape;
    const bool haveAmplitude =
        convert(VYX_TYPE_10002, frame, converter, amplitude_, amplitudeShape) &&
        (!haveDistance || amplitudeShape.pixels() == shape.pixels());
    if (!haveDistance) shape = amplitudeShape;
    report.stage = "recording frame " + std::to_string(frame.sequence) + " into " + path_;
    info_.stampNs = static_cast<uint64_t>(frame.utcNs);
    recorder_.cameraInfo(handle_, info_);
    recorder_.record(handle_,
                     {static_cast<uint64_t>(frame.utcNs), &frame.description, frame.raw.data(),
                      frame.raw.size(), haveDistance ? distance_.data() : nullptr,
                      haveAmplitude ? amplitude_.data() : nullptr, shape.columns, shape.rows});
    report.files = 1;
    report.fileBytes = fileSize(path_);
  }

  void summarise(GrabReport& report) const {
    report.outputs = {"/lvt/" + name_ + "/{raw,distance,amplitude,camera_info}"};
    report.files = 1;
    report.fileBytes = fileSize(path_);
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

  vyxrec::McapRecorder& recorder_;
  int handle_;
  std::string name_, path_;
  vyxrec::ros2::CameraInfo info_;
  std::vector<float> distance_, amplitude_;
};

// One camera, one recording: the recorder starts with the run's description once the camera is
// open, and ends with this camera's counters.
class McapOutput : public GrabOutput {
 public:
  explicit McapOutput(const GrabOptions& o) : o_(o) { refuseExisting(o); }

  void begin(const vyxrec::RunInfo& run, const vyxhost::LensModel& lens) override {
    recorder_ = std::make_unique<vyxrec::McapRecorder>(o_.outDir, vyxrec::runInfoJson(run));
    channel_ = std::make_unique<CameraChannel>(*recorder_, recorder_->addCamera(o_.name), o_.name,
                                               o_.outDir);
    channel_->begin(lens);
  }

  void frame(const vyxhost::Frame& frame, const vyxhost::FrameConverter& converter,
             GrabReport& report) override {
    channel_->frame(frame, converter, report);
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
    if (channel_) {
      channel_->summarise(report);
      return;
    }
    report.outputs = {"/lvt/" + o_.name + "/{raw,distance,amplitude,camera_info}"};
    report.files = 1;
    report.fileBytes = fileSize(o_.outDir);
  }

 private:
  const GrabOptions& o_;
  std::unique_ptr<vyxrec::McapRecorder> recorder_;
  std::unique_ptr<CameraChannel> channel_;
};

// One camera of a rig: its frames go into the rig's recorder, its end into the rig's counters.
class RigCameraOutput : public GrabOutput {
 public:
  RigCameraOutput(RigRecording& rig, vyxrec::McapRecorder& recorder, int handle,
                  const std::string& name, const std::string& path)
      : rig_(rig), recorder_(recorder), name_(name), channel_(recorder, handle, name, path) {}

  void begin(const vyxrec::RunInfo&, const vyxhost::LensModel& lens) override {
    channel_.begin(lens);
  }
  void frame(const vyxhost::Frame& frame, const vyxhost::FrameConverter& converter,
             GrabReport& report) override {
    channel_.frame(frame, converter, report);
  }
  void idle() override { recorder_.flushIfDue(); }
  void summarise(GrabReport& report) const override { channel_.summarise(report); }
  void finish(const vyxrec::Settings& readBack, const vyxhost::Counters& counters) override {
    rig_.cameraCounters(name_, countersJson(counters, readBack));
  }
  void fail(const std::string&, const vyxhost::Counters& counters) noexcept override {
    try {
      rig_.cameraCounters(name_, countersJson(counters, {}));
    } catch (...) {
      // The rig then records this camera's counters as zero.
    }
  }

 private:
  RigRecording& rig_;
  vyxrec::McapRecorder& recorder_;
  std::string name_;
  CameraChannel channel_;
};

}  // namespace

std::unique_ptr<GrabOutput> makeMcapOutput(const GrabOptions& options) {
  return std::make_unique<McapOutput>(options);
}

RigRecording::RigRecording(const GrabOptions& options, const std::string& runManifestJson)
    : options_(options) {
  refuseExisting(options);
  recorder_ = std::make_unique<vyxrec::McapRecorder>(options.outDir, runManifestJson);
  for (const std::string& name : options.names) handles_.push_back(recorder_->addCamera(name));
}

RigRecording::~RigRecording() = default;

std::unique_ptr<GrabOutput> RigRecording::cameraOutput(size_t index) {
  return std::make_unique<RigCameraOutput>(*this, *recorder_, handles_.at(index),
                                           options_.names.at(index), options_.outDir);
}

void RigRecording::cameraCounters(const std::string& name, const std::string& json) {
  const std::lock_guard<std::mutex> lock(mutex_);
  counters_[name] = json;
}

void RigRecording::close(const std::string& failure) {
  nlohmann::json all = nlohmann::json::object();
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    for (const std::string& name : options_.names) {
      const auto found = counters_.find(name);
      // A camera that never opened counted nothing.
      all[name] =
          nlohmann::json::parse(found != counters_.end() ? found->second : countersJson({}, {}));
    }
  }
  if (failure.empty()) {
    recorder_->finish(all.dump());
  } else {
    recorder_->fail(failure, all.dump());
  }
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
