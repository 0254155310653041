#include "recorder.h"

#include <sys/stat.h>

#include <ctime>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <utility>

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

Recorder::Recorder(std::string root, std::vector<std::string> cameraNames, CountersSource counters)
    : root_(std::move(root)), names_(std::move(cameraNames)), counters_(std::move(counters)) {}

Recorder::~Recorder() {
  // A recording still open when the viewer stops ends like one stopped by the user.
  const std::lock_guard<std::mutex> lock(mutex_);
  if (recorder_) recorder_->fail("the viewer stopped while recording", "{}");
}

std::string Recorder::countersNow() const {
  try {
    return counters_ ? counters_() : "{}";
  } catch (const std::exception&) {
    return "{}";
  }
}

std::string Recorder::start(const std::string& manifestJson,
                            const std::vector<vyxhost::LensModel>& lenses) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (recorder_) {
    std::unique_ptr<vyxrec::McapRecorder> r = std::move(recorder_);
    r->finish(countersNow());
  }
  vyxrec::makeDirectories(root_);
  const std::string file = freshFileName(root_);
  auto recorder = std::make_unique<vyxrec::McapRecorder>(file, manifestJson);
  std::vector<int> handles;
  for (const std::string& name : names_) handles.push_back(recorder->addCamera(name));
  recorder_ = std::move(recorder);
  handles_ = std::move(handles);
  file_ = file;
  frames_ = 0;
  error_.clear();
  for (size_t c = 0; c < lenses.size() && c < handles_.size(); ++c) lensLocked(c, lenses[c], 0);
  return file_;
}

void Recorder::lens(size_t camera, const vyxhost::LensModel& l, uint64_t stampNs) {
  const std::lock_guard<std::mutex> lock(mutex_);
  lensLocked(camera, l, stampNs);
}

void Recorder::lensLocked(size_t camera, const vyxhost::LensModel& l, uint64_t stampNs) {
  if (!recorder_ || camera >= handles_.size()) return;
  vyxrec::ros2::CameraInfo info = vyxrec::ros2::pinholeCameraInfo(
      names_[camera], static_cast<uint32_t>(l.width), static_cast<uint32_t>(l.height), l.fx, l.fy,
      l.cx, l.cy, l.distortion);
  info.stampNs = stampNs;
  recorder_->cameraInfo(handles_[camera], info);
}

void Recorder::add(size_t camera, const vyxhost::Frame& frame, const vyxhost::DepthImages& images) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (!recorder_ || camera >= handles_.size()) return;
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
  recorder_->record(handles_[camera], f);
  ++frames_;
}

void Recorder::stop() {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (!recorder_) return;
  std::unique_ptr<vyxrec::McapRecorder> r = std::move(recorder_);
  r->finish(countersNow());
}

void Recorder::fail(const std::string& reason) {
  const std::lock_guard<std::mutex> lock(mutex_);
  error_ = reason;
  if (!recorder_) return;
  std::unique_ptr<vyxrec::McapRecorder> r = std::move(recorder_);
  r->fail(reason, countersNow());
}

bool Recorder::active() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return recorder_ != nullptr;
}

RecordingStatus Recorder::status() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return {recorder_ != nullptr, file_, frames_, error_};
}

}  // namespace vyxview
