#include "recorder.h"

#include <sys/stat.h>

#include <ctime>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "vyxrec/file_output.h"
#include "vyxrec/frame_file_names.h"
#include "vyxrec/mcap_recorder.h"

namespace vyxview {

namespace {

bool exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

std::string freshFileName(const std::string& root) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "view-%Y%m%d-%H%M%S", &local);
  std::string file = vyxrec::joinPath(root, std::string(stamp) + ".mcap");
  for (int n = 2; exists(file); ++n)
    file = vyxrec::joinPath(root, stamp + ("-" + std::to_string(n)) + ".mcap");
  return file;
}

}  // namespace

std::string countersJson(const vyxhost::Counters& c) {
  nlohmann::json j = {{"frames", c.frames},
                      {"image_blocks", c.imageBlocks},
                      {"stalls", c.stalls},
                      {"losses", c.losses},
                      {"reconnects", c.reconnects}};
  j["retried_images"] = c.retriedImages ? nlohmann::json(*c.retriedImages) : nlohmann::json();
  return j.dump();
}

Recorder::Recorder(std::string root, std::string cameraName)
    : root_(std::move(root)), name_(std::move(cameraName)) {}

Recorder::~Recorder() {
  // A recording still open when the viewer stops ends like one stopped by the user.
  if (recorder_) fail("the viewer stopped while recording", "{}");
}

std::string Recorder::start(const std::string& manifestJson, const vyxhost::LensModel& lens) {
  if (recorder_) stop("{}");
  vyxrec::makeDirectories(root_);
  const std::string file = freshFileName(root_);
  recorder_ = std::make_unique<vyxrec::McapRecorder>(file, manifestJson);
  camera_ = recorder_->addCamera(name_);
  file_ = file;
  frames_ = 0;
  this->lens(lens, 0);
  return file_;
}

void Recorder::lens(const vyxhost::LensModel& l, uint64_t stampNs) {
  if (!recorder_) return;
  vyxrec::ros2::CameraInfo info = vyxrec::ros2::pinholeCameraInfo(
      name_, static_cast<uint32_t>(l.width), static_cast<uint32_t>(l.height), l.fx, l.fy, l.cx,
      l.cy, l.distortion);
  info.stampNs = stampNs;
  recorder_->cameraInfo(camera_, info);
}

void Recorder::add(const vyxhost::Frame& frame, const vyxhost::DepthImages& images) {
  if (!recorder_) return;
  vyxrec::RecorderFrame f;
  f.stampNs = static_cast<uint64_t>(frame.utcNs);
  f.description = &frame.description;
  f.raw = frame.raw.data();
  f.rawSize = frame.raw.size();
  if (images.shape.pixels() > 0 && images.distance.size() == images.shape.pixels()) {
    f.distance = images.distance.data();
    f.amplitude = images.amplitude.data();
    f.width = images.shape.columns;
    f.height = images.shape.rows;
  }
  recorder_->record(camera_, f);
  ++frames_;
}

void Recorder::stop(const std::string& countersJson) {
  if (!recorder_) return;
  std::unique_ptr<vyxrec::McapRecorder> r = std::move(recorder_);
  r->finish(countersJson);
}

void Recorder::fail(const std::string& reason, const std::string& countersJson) {
  if (!recorder_) return;
  std::unique_ptr<vyxrec::McapRecorder> r = std::move(recorder_);
  r->fail(reason, countersJson);
}

}  // namespace vyxview
