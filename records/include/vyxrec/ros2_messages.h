// The ROS 2 messages a recording holds, in CDR with the little-endian
// encapsulation header (00 01 00 00), and their definitions as the schema text
// (encoding "ros2msg") that ROS 2's recorder writes: the message first, then
// each type it uses after a line of 80 '=' and "MSG: package/Type".
//
//   sensor_msgs/msg/Image       distance and amplitude: "32FC1", little-endian,
//                               step = width * 4
//   sensor_msgs/msg/CameraInfo  the lens model: "plumb_bob", d (5), k, r, p
//   lvt_msgs/msg/RawFrame       ours, for an exact replay:
//                                 std_msgs/Header header
//                                 uint8[128] description   VYXDataDescription as
//                                                          the plug-in filled it,
//                                                          little-endian
//                                 uint8[] data             the data block it
//                                                          describes, unchanged
//
// Time stamps are nanoseconds since the Unix epoch (UTC), split into the
// header's seconds and nanoseconds.
#ifndef VYXREC_ROS2_MESSAGES_H
#define VYXREC_ROS2_MESSAGES_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vyxrec::ros2 {

using Buffer = std::vector<uint8_t>;

inline constexpr char kSchemaEncoding[] = "ros2msg";
inline constexpr char kMessageEncoding[] = "cdr";
inline constexpr size_t kDescriptionBytes = 128;

struct MessageType {
  const char* name;        // e.g. "sensor_msgs/msg/Image"
  const char* definition;  // the full ros2msg text, dependencies included
};
extern const MessageType kImage;
extern const MessageType kCameraInfo;
extern const MessageType kRawFrame;

// A message that does not decode as its type claims.
class MessageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Image {
  uint64_t stampNs = 0;
  std::string frameId;
  uint32_t height = 0, width = 0;
  std::string encoding;
  bool bigEndian = false;
  uint32_t step = 0;
  const uint8_t* data = nullptr;  // into the decoded message
  size_t size = 0;
};

struct RegionOfInterest {
  uint32_t xOffset = 0, yOffset = 0, height = 0, width = 0;
  bool doRectify = false;
};

struct CameraInfo {
  uint64_t stampNs = 0;
  std::string frameId;
  uint32_t height = 0, width = 0;
  std::string distortionModel = "plumb_bob";
  std::vector<double> d = std::vector<double>(5, 0.0);  // k1 k2 t1 t2 k3
  std::array<double, 9> k{};
  std::array<double, 9> r{1, 0, 0, 0, 1, 0, 0, 0, 1};
  std::array<double, 12> p{};
  uint32_t binningX = 0, binningY = 0;
  RegionOfInterest roi;

  bool sameModel(const CameraInfo& o) const;  // all but the header
};

// A pinhole camera's info: K and P from the focal lengths and principal point (pixels), R the
// identity, D = k1, k2, p1, p2, k3 ("plumb_bob").
CameraInfo pinholeCameraInfo(std::string_view frameId, uint32_t width, uint32_t height, double fx,
                             double fy, double cx, double cy, const std::array<double, 5>& d);

struct RawFrame {
  uint64_t stampNs = 0;
  std::string frameId;
  const uint8_t* description = nullptr;  // kDescriptionBytes, into the decoded message
  const uint8_t* data = nullptr;
  size_t size = 0;
};

// Each encoder replaces `out`'s contents (its capacity is kept, so a reused
// buffer does not allocate once it is large enough).
void encodeImage32FC1(Buffer& out, uint64_t stampNs, std::string_view frameId, uint32_t width,
                      uint32_t height, const float* pixels);
void encodeCameraInfo(Buffer& out, const CameraInfo& info);
void encodeRawFrame(Buffer& out, uint64_t stampNs, std::string_view frameId,
                    const void* description, const void* data, size_t size);

// Decoders check every length against the message; they throw MessageError.
Image decodeImage(const uint8_t* message, size_t size);
// A 32FC1 little-endian image's pixels into `pixels` (resized to width * height).
Image decodeImage32FC1(const uint8_t* message, size_t size, std::vector<float>& pixels);
CameraInfo decodeCameraInfo(const uint8_t* message, size_t size);
RawFrame decodeRawFrame(const uint8_t* message, size_t size);

}  // namespace vyxrec::ros2

#endif
