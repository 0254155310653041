// Fuzzes the MCAP reader and the ROS 2 message decoders with whole files:
// whatever the bytes, reading must end in messages or a RecordingError, never a
// crash, a hang or an allocation beyond what the input justifies. Each message
// is decoded as the type its schema names.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "vyxrec/mcap_reader.h"
#include "vyxrec/recording_error.h"
#include "vyxrec/ros2_messages.h"

namespace {

void decode(const std::string& type, const vyxrec::McapMessage& m, std::vector<float>& pixels) {
  namespace ros2 = vyxrec::ros2;
  try {
    if (type == ros2::kImage.name) {
      ros2::decodeImage(m.data, m.size);
      ros2::decodeImage32FC1(m.data, m.size, pixels);
    } else if (type == ros2::kCameraInfo.name) {
      ros2::decodeCameraInfo(m.data, m.size);
    } else if (type == ros2::kRawFrame.name) {
      ros2::decodeRawFrame(m.data, m.size);
    }
  } catch (const ros2::MessageError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<float> pixels;
  try {
    vyxrec::McapReader reader("fuzz.mcap", data, size);
    vyxrec::McapMessage m;
    for (int pass = 0; pass < 2; ++pass) {
      while (reader.next(m)) {
        const auto& channel = reader.channels().at(m.channelId);
        const auto schema = reader.schemas().find(channel.schemaId);
        if (schema != reader.schemas().end()) decode(schema->second.name, m, pixels);
      }
      // Again from a time in the middle, for one channel: the indexed paths.
      if (const auto* stats = reader.statistics()) {
        reader.seek(stats->messageStartTime / 2 + stats->messageEndTime / 2);
      } else {
        reader.seek(1);
      }
      if (!reader.channels().empty()) reader.onlyChannels({reader.channels().begin()->first});
    }
  } catch (const vyxrec::RecordingError&) {
  }
  return 0;
}
