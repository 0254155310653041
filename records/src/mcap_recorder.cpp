#include "vyxrec/mcap_recorder.h"

#include "vyxrec/recording_error.h"

namespace vyxrec {

namespace {
constexpr char kTopicRoot[] = "/lvt/";
}

McapRecorder::McapRecorder(const std::string& path, const std::string& runManifestJson,
                           McapWriterOptions options)
    : writer_(path, std::move(options)) {
  imageSchema_ =
      writer_.addSchema(ros2::kImage.name, ros2::kSchemaEncoding, ros2::kImage.definition);
  infoSchema_ = writer_.addSchema(ros2::kCameraInfo.name, ros2::kSchemaEncoding,
                                  ros2::kCameraInfo.definition);
  rawSchema_ =
      writer_.addSchema(ros2::kRawFrame.name, ros2::kSchemaEncoding, ros2::kRawFrame.definition);
  writer_.addMetadata("run", {{"json", runManifestJson}});
}

McapRecorder::~McapRecorder() {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (done_) return;
  try {
    writer_.addMetadata("counters", {{"json", "{\"frames\": " + std::to_string(frames_) + "}"}});
    writer_.close();
  } catch (...) {
    // A destructor cannot report; the file ends at its last whole chunk.
  }
}

int McapRecorder::addCamera(const std::string& name) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (name.empty() || name.find('/') != std::string::npos) {
    throw RecordingError(writer_.path(), "camera name \"" + name + "\" cannot be a topic part");
  }
  for (const Camera& other : cameras_) {
    if (other.name == name) {
      throw RecordingError(writer_.path(), "camera name \"" + name +
                                               "\" is taken by another camera; give each its own");
    }
  }
  const std::string root = kTopicRoot + name + "/";
  const McapWriter::Metadata meta{{"camera", name}};
  Camera c;
  c.name = name;
  c.raw = writer_.addChannel(rawSchema_, root + "raw", ros2::kMessageEncoding, meta);
  c.distance = writer_.addChannel(imageSchema_, root + "distance", ros2::kMessageEncoding, meta);
  c.amplitude = writer_.addChannel(imageSchema_, root + "amplitude", ros2::kMessageEncoding, meta);
  c.info = writer_.addChannel(infoSchema_, root + "camera_info", ros2::kMessageEncoding, meta);
  cameras_.push_back(std::move(c));
  return static_cast<int>(cameras_.size() - 1);
}

McapRecorder::Camera& McapRecorder::camera(int handle) {
  if (handle < 0 || static_cast<size_t>(handle) >= cameras_.size()) {
    throw RecordingError(writer_.path(), "no camera " + std::to_string(handle));
  }
  return cameras_[static_cast<size_t>(handle)];
}

void McapRecorder::record(int handle, const RecorderFrame& frame) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const RecorderFrame& f = frame;
  Camera& c = camera(handle);
  const uint64_t t = f.stampNs;
  writer_.beginGroup();
  if (f.raw != nullptr && f.description != nullptr) {
    ros2::encodeRawFrame(scratch_, t, c.name, f.description, f.raw, f.rawSize);
    writer_.write(c.raw, c.rawSeq++, t, t, scratch_.data(), scratch_.size());
  }
  if (f.distance != nullptr) {
    ros2::encodeImage32FC1(scratch_, t, c.name, f.width, f.height, f.distance);
    writer_.write(c.distance, c.distanceSeq++, t, t, scratch_.data(), scratch_.size());
  }
  if (f.amplitude != nullptr) {
    ros2::encodeImage32FC1(scratch_, t, c.name, f.width, f.height, f.amplitude);
    writer_.write(c.amplitude, c.amplitudeSeq++, t, t, scratch_.data(), scratch_.size());
  }
  ++frames_;
  writer_.endGroup();
}

void McapRecorder::cameraInfo(int handle, const ros2::CameraInfo& info) {
  const std::lock_guard<std::mutex> lock(mutex_);
  Camera& c = camera(handle);
  if (c.haveInfo && c.lastInfo.sameModel(info)) return;
  ros2::CameraInfo stamped = info;
  stamped.frameId = c.name;
  ros2::encodeCameraInfo(scratch_, stamped);
  writer_.write(c.info, c.infoSeq++, info.stampNs, info.stampNs, scratch_.data(), scratch_.size());
  c.lastInfo = stamped;
  c.haveInfo = true;
}

void McapRecorder::flushIfDue() {
  const std::lock_guard<std::mutex> lock(mutex_);
  writer_.flushIfDue();
}

void McapRecorder::finish(const std::string& countersJson) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (done_) return;
  done_ = true;
  writer_.addMetadata("counters", {{"json", countersJson}});
  writer_.close();
}

void McapRecorder::fail(const std::string& reason, const std::string& countersJson) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (done_) return;
  done_ = true;
  // Each step on its own: a full disk may refuse the metadata yet take the summary.
  try {
    writer_.flushChunk();
  } catch (...) {
  }
  try {
    writer_.addMetadata("counters", {{"json", countersJson}});
    writer_.addMetadata("failure", {{"reason", reason}});
  } catch (...) {
  }
  try {
    writer_.close();
  } catch (...) {
  }
}

}  // namespace vyxrec
