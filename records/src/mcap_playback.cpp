#include "vyxrec/mcap_playback.h"

#include <algorithm>
#include <cstring>

#include "vyxrec/recording_error.h"

namespace vyxrec {

namespace {
constexpr char kTopicRoot[] = "/lvt/";
}

McapPlayback::McapPlayback(const std::string& path) : reader_(path) {}

const ros2::CameraInfo* McapPlayback::cameraInfo(size_t camera) const {
  return camera < info_.size() && haveInfo_[camera] ? &info_[camera] : nullptr;
}

std::string McapPlayback::metadataValue(const std::string& name, const std::string& key) const {
  std::string value;
  for (const auto& m : reader_.metadata()) {
    if (m.name != name) continue;
    const auto it = m.entries.find(key);
    if (it != m.entries.end()) value = it->second;  // the last one counts
  }
  return value;
}

const McapPlayback::Route& McapPlayback::route(uint16_t id) {
  if (id >= routes_.size()) routes_.resize(size_t{id} + 1);
  Route& r = routes_[id];
  if (r.known) return r;
  r.known = true;
  const auto& channel = reader_.channels().at(id);  // the reader checked it exists
  const std::string& topic = channel.topic;
  const size_t root = sizeof(kTopicRoot) - 1;
  const size_t slash = topic.find('/', root);
  if (topic.compare(0, root, kTopicRoot) != 0 || slash == std::string::npos || slash == root) {
    return r;
  }
  const std::string kind = topic.substr(slash + 1);
  if (kind == "raw") {
    r.kind = Kind::kRaw;
  } else if (kind == "distance") {
    r.kind = Kind::kDistance;
  } else if (kind == "amplitude") {
    r.kind = Kind::kAmplitude;
  } else if (kind == "camera_info") {
    r.kind = Kind::kInfo;
  } else {
    return r;
  }
  const std::string name = topic.substr(root, slash - root);
  const auto it = std::find(cameras_.begin(), cameras_.end(), name);
  r.camera = static_cast<size_t>(it - cameras_.begin());
  if (it == cameras_.end()) {
    cameras_.push_back(name);
    pending_.emplace_back();
    info_.emplace_back();
    haveInfo_.push_back(false);
  }
  return r;
}

bool McapPlayback::apply(const McapMessage& m, const Route& r, PlaybackFrame& out) {
  Pending& p = pending_[r.camera];
  if (r.kind == Kind::kInfo) {
    info_[r.camera] = ros2::decodeCameraInfo(m.data, m.size);
    haveInfo_[r.camera] = true;
    return false;
  }
  const int slot = r.kind == Kind::kRaw ? 0 : r.kind == Kind::kDistance ? 1 : 2;
  bool handed = false;
  if (p.active && (p.frame.stampNs != m.logTime || p.has[slot])) {
    std::swap(out, p.frame);  // the buffers come back with the next frame
    handed = true;
    p.active = false;
  }
  if (!p.active) {
    p.active = true;
    std::fill(std::begin(p.has), std::end(p.has), false);
    p.frame.camera = r.camera;
    p.frame.stampNs = m.logTime;
    p.frame.sequence = m.sequence;
    p.frame.hasRaw = false;
    p.frame.raw.clear();
    p.frame.distance.clear();
    p.frame.amplitude.clear();
    p.frame.width = p.frame.height = 0;
  }
  p.has[slot] = true;
  if (r.kind == Kind::kRaw) {
    const ros2::RawFrame raw = ros2::decodeRawFrame(m.data, m.size);
    std::memcpy(p.frame.description.data(), raw.description, ros2::kDescriptionBytes);
    p.frame.raw.assign(raw.data, raw.data + raw.size);
    p.frame.hasRaw = true;
  } else {
    auto& pixels = r.kind == Kind::kDistance ? p.frame.distance : p.frame.amplitude;
    const ros2::Image image = ros2::decodeImage32FC1(m.data, m.size, pixels);
    p.frame.width = image.width;
    p.frame.height = image.height;
  }
  return handed;
}

bool McapPlayback::next(PlaybackFrame& frame) {
  McapMessage m;
  while (!drained_ && reader_.next(m)) {
    const Route& r = route(m.channelId);
    if (r.kind == Kind::kNone) continue;
    try {
      if (apply(m, r, frame)) return true;
    } catch (const ros2::MessageError& e) {
      throw RecordingError(reader_.name(), m.recordOffset, e.what());
    }
  }
  drained_ = true;
  // The frames still pending, oldest first.
  Pending* oldest = nullptr;
  for (auto& p : pending_) {
    if (p.active && (oldest == nullptr || p.frame.stampNs < oldest->frame.stampNs)) oldest = &p;
  }
  if (oldest == nullptr) return false;
  std::swap(frame, oldest->frame);
  oldest->active = false;
  return true;
}

}  // namespace vyxrec
