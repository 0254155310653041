// Reads a camera recording (see mcap_recorder.h) back frame by frame: the
// messages of one camera with one stamp make a frame. Other channels in the
// file are passed over, so a recording that other tools added to still plays.
//
//   vyxrec::McapPlayback play(path);
//   vyxrec::PlaybackFrame f;
//   while (play.next(f)) use(play.cameras()[f.camera], f.stampNs, f.distance, ...);
//   if (!play.complete()) warn(play.stopReason());
#ifndef VYXREC_MCAP_PLAYBACK_H
#define VYXREC_MCAP_PLAYBACK_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "vyxrec/mcap_reader.h"
#include "vyxrec/ros2_messages.h"

namespace vyxrec {

struct PlaybackFrame {
  size_t camera = 0;  // index into McapPlayback::cameras()
  uint64_t stampNs = 0;
  uint32_t sequence = 0;  // the frame's number in its channels
  bool hasRaw = false;
  std::array<uint8_t, ros2::kDescriptionBytes> description{};
  std::vector<uint8_t> raw;
  uint32_t width = 0, height = 0;
  std::vector<float> distance, amplitude;  // empty when not recorded
};

class McapPlayback {
 public:
  explicit McapPlayback(const std::string& path);  // throws RecordingError

  // The next frame in file order; false at the end. The frame's buffers are reused.
  bool next(PlaybackFrame& frame);

  const std::vector<std::string>& cameras() const { return cameras_; }
  // The lens model last met for this camera, or null.
  const ros2::CameraInfo* cameraInfo(size_t camera) const;
  // The "json" of the run and counters records, the failure's reason: "" when absent.
  std::string runManifest() const { return metadataValue("run", "json"); }
  std::string counters() const { return metadataValue("counters", "json"); }
  std::string failure() const { return metadataValue("failure", "reason"); }

  bool complete() const { return reader_.complete(); }
  const std::string& stopReason() const { return reader_.stopReason(); }
  McapReader& reader() { return reader_; }

 private:
  enum class Kind : uint8_t { kNone, kRaw, kDistance, kAmplitude, kInfo };
  struct Route {
    bool known = false;
    Kind kind = Kind::kNone;
    size_t camera = 0;
  };
  struct Pending {
    bool active = false;
    bool has[3] = {false, false, false};  // raw, distance, amplitude
    PlaybackFrame frame;
  };

  const Route& route(uint16_t channelId);
  // Applies a message to the camera's pending frame; true if it first handed
  // the finished frame over into `out`.
  bool apply(const McapMessage& m, const Route& r, PlaybackFrame& out);
  std::string metadataValue(const std::string& name, const std::string& key) const;

  McapReader reader_;
  std::vector<Route> routes_;  // by channel id
  std::vector<std::string> cameras_;
  std::vector<Pending> pending_;
  std::vector<ros2::CameraInfo> info_;
  std::vector<bool> haveInfo_;
  bool drained_ = false;
};

}  // namespace vyxrec

#endif
