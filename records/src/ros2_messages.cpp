#include "vyxrec/ros2_messages.h"

#include <cstring>

namespace vyxrec::ros2 {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "CDR here is little-endian, as the host: floats are copied as they are");

namespace {

#define VYX_RULE \
  "================================================================================\n"
#define VYX_HEADER_DEPS                                        \
  VYX_RULE                                                     \
  "MSG: std_msgs/Header\n"                                     \
  "# Standard metadata for higher-level stamped data types.\n" \
  "builtin_interfaces/Time stamp\n"                            \
  "string frame_id\n" VYX_RULE                                 \
  "MSG: builtin_interfaces/Time\n"                             \
  "int32 sec\n"                                                \
  "uint32 nanosec\n"

constexpr char kImageText[] =
    "# An uncompressed image; (0, 0) is the top-left corner.\n"
    "std_msgs/Header header\n"
    "uint32 height\n"
    "uint32 width\n"
    "string encoding\n"
    "uint8 is_bigendian\n"
    "uint32 step\n"
    "uint8[] data\n" VYX_HEADER_DEPS;

constexpr char kCameraInfoText[] =
    "# Calibration of a pinhole camera.\n"
    "std_msgs/Header header\n"
    "uint32 height\n"
    "uint32 width\n"
    "string distortion_model\n"
    "float64[] d\n"
    "float64[9] k\n"
    "float64[9] r\n"
    "float64[12] p\n"
    "uint32 binning_x\n"
    "uint32 binning_y\n"
    "sensor_msgs/RegionOfInterest roi\n" VYX_HEADER_DEPS VYX_RULE
    "MSG: sensor_msgs/RegionOfInterest\n"
    "uint32 x_offset\n"
    "uint32 y_offset\n"
    "uint32 height\n"
    "uint32 width\n"
    "bool do_rectify\n";

constexpr char kRawFrameText[] =
    "# One data block exactly as the camera plug-in handed it to the host, for a\n"
    "# replay that is exact to the bit.\n"
    "std_msgs/Header header\n"
    "# The 128-byte VYXDataDescription that came with the block, as the plug-in\n"
    "# filled it (little-endian): PID, DID, type, size, subHeaderType, then the\n"
    "# image sub-header (columns, rows, sub-images, integration times, ...).\n"
    "uint8[128] description\n"
    "# The block it describes, unchanged: for types 0x50003 and 0x50004 each\n"
    "# image's header words and pixels in the camera's big-endian order.\n"
    "uint8[] data\n" VYX_HEADER_DEPS;

#undef VYX_HEADER_DEPS
#undef VYX_RULE

constexpr uint64_t kNanosPerSecond = 1000000000ull;

// CDR with the little-endian encapsulation: alignment counts from the byte
// after the 4-byte encapsulation header.
class CdrOut {
 public:
  explicit CdrOut(Buffer& out) : out_(out) {
    out_.clear();
    out_.insert(out_.end(), {0x00, 0x01, 0x00, 0x00});
  }
  void align(size_t n) {
    while ((out_.size() - 4) % n != 0) out_.push_back(0);
  }
  template <typename T>
  void put(T v) {
    align(sizeof(T));
    raw(&v, sizeof(T));
  }
  void raw(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    out_.insert(out_.end(), b, b + n);
  }
  void string(std::string_view s) {
    put<uint32_t>(static_cast<uint32_t>(s.size() + 1));
    raw(s.data(), s.size());
    out_.push_back(0);
  }
  void header(uint64_t stampNs, std::string_view frameId) {
    put<int32_t>(static_cast<int32_t>(stampNs / kNanosPerSecond));
    put<uint32_t>(static_cast<uint32_t>(stampNs % kNanosPerSecond));
    string(frameId);
  }

 private:
  Buffer& out_;
};

class CdrIn {
 public:
  CdrIn(const uint8_t* data, size_t size, const char* type)
      : data_(data), size_(size), type_(type) {
    if (size < 4) fail("shorter than its encapsulation header");
    if (data[0] != 0x00 || data[1] != 0x01) fail("not little-endian CDR");
    pos_ = 4;
  }
  [[noreturn]] void fail(const std::string& what) const {
    throw MessageError(std::string(type_) + ": " + what + " (at byte " + std::to_string(pos_) +
                       " of " + std::to_string(size_) + ")");
  }
  void align(size_t n) {
    const size_t pad = (n - (pos_ - 4) % n) % n;
    take(pad);
  }
  const uint8_t* take(size_t n) {
    if (n > size_ - pos_) fail("ends early");
    const uint8_t* p = data_ + pos_;
    pos_ += n;
    return p;
  }
  template <typename T>
  T get() {
    align(sizeof(T));
    T v;
    std::memcpy(&v, take(sizeof(T)), sizeof(T));
    return v;
  }
  std::string string() {
    const uint32_t n = get<uint32_t>();
    if (n == 0) fail("a string without its terminating zero");
    const uint8_t* p = take(n);
    if (p[n - 1] != 0) fail("a string without its terminating zero");
    return std::string(reinterpret_cast<const char*>(p), n - 1);
  }
  // The element count of a sequence, checked against the bytes left.
  uint32_t count(size_t elementSize) {
    const uint32_t n = get<uint32_t>();
    if (n > (size_ - pos_) / elementSize) fail("a sequence longer than the message");
    return n;
  }
  void header(uint64_t& stampNs, std::string& frameId) {
    const int32_t sec = get<int32_t>();
    const uint32_t nanosec = get<uint32_t>();
    if (sec < 0 || nanosec >= kNanosPerSecond) fail("a time stamp out of range");
    stampNs = static_cast<uint64_t>(sec) * kNanosPerSecond + nanosec;
    frameId = string();
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  const char* type_;
};

}  // namespace

const MessageType kImage{"sensor_msgs/msg/Image", kImageText};
const MessageType kCameraInfo{"sensor_msgs/msg/CameraInfo", kCameraInfoText};
const MessageType kRawFrame{"lvt_msgs/msg/RawFrame", kRawFrameText};

bool CameraInfo::sameModel(const CameraInfo& o) const {
  return height == o.height && width == o.width && distortionModel == o.distortionModel &&
         d == o.d && k == o.k && r == o.r && p == o.p && binningX == o.binningX &&
         binningY == o.binningY && roi.xOffset == o.roi.xOffset && roi.yOffset == o.roi.yOffset &&
         roi.height == o.roi.height && roi.width == o.roi.width && roi.doRectify == o.roi.doRectify;
}

CameraInfo pinholeCameraInfo(std::string_view frameId, uint32_t width, uint32_t height, double fx,
                             double fy, double cx, double cy, const std::array<double, 5>& d) {
  CameraInfo info;
  info.frameId = std::string(frameId);
  info.width = width;
  info.height = height;
  info.d.assign(d.begin(), d.end());
  info.k = {fx, 0, cx, 0, fy, cy, 0, 0, 1};
  info.p = {fx, 0, cx, 0, 0, fy, cy, 0, 0, 0, 1, 0};
  return info;
}

void encodeImage32FC1(Buffer& out, uint64_t stampNs, std::string_view frameId, uint32_t width,
                      uint32_t height, const float* pixels) {
  CdrOut cdr(out);
  cdr.header(stampNs, frameId);
  cdr.put<uint32_t>(height);
  cdr.put<uint32_t>(width);
  cdr.string("32FC1");
  cdr.put<uint8_t>(0);  // is_bigendian
  cdr.put<uint32_t>(width * 4);
  const size_t bytes = size_t{width} * height * sizeof(float);
  cdr.put<uint32_t>(static_cast<uint32_t>(bytes));
  cdr.raw(pixels, bytes);
}

void encodeCameraInfo(Buffer& out, const CameraInfo& info) {
  CdrOut cdr(out);
  cdr.header(info.stampNs, info.frameId);
  cdr.put<uint32_t>(info.height);
  cdr.put<uint32_t>(info.width);
  cdr.string(info.distortionModel);
  cdr.put<uint32_t>(static_cast<uint32_t>(info.d.size()));
  for (const double v : info.d) cdr.put<double>(v);
  for (const double v : info.k) cdr.put<double>(v);
  for (const double v : info.r) cdr.put<double>(v);
  for (const double v : info.p) cdr.put<double>(v);
  cdr.put<uint32_t>(info.binningX);
  cdr.put<uint32_t>(info.binningY);
  cdr.put<uint32_t>(info.roi.xOffset);
  cdr.put<uint32_t>(info.roi.yOffset);
  cdr.put<uint32_t>(info.roi.height);
  cdr.put<uint32_t>(info.roi.width);
  cdr.put<uint8_t>(info.roi.doRectify ? 1 : 0);
}

void encodeRawFrame(Buffer& out, uint64_t stampNs, std::string_view frameId,
                    const void* description, const void* data, size_t size) {
  CdrOut cdr(out);
  cdr.header(stampNs, frameId);
  cdr.raw(description, kDescriptionBytes);
  cdr.put<uint32_t>(static_cast<uint32_t>(size));
  cdr.raw(data, size);
}

namespace {
// Header, height, width and a text: how an image and a camera model begin.
template <class Message>
void readHead(CdrIn& cdr, Message& m, std::string& text) {
  cdr.header(m.stampNs, m.frameId);
  m.height = cdr.get<uint32_t>();
  m.width = cdr.get<uint32_t>();
  text = cdr.string();
}
}  // namespace

Image decodeImage(const uint8_t* message, size_t size) {
  CdrIn cdr(message, size, kImage.name);
  Image image;
  readHead(cdr, image, image.encoding);
  image.bigEndian = cdr.get<uint8_t>() != 0;
  image.step = cdr.get<uint32_t>();
  image.size = cdr.count(1);
  image.data = cdr.take(image.size);
  if (uint64_t{image.step} * image.height != image.size) {
    cdr.fail("step * height differs from the data's length");
  }
  return image;
}

Image decodeImage32FC1(const uint8_t* message, size_t size, std::vector<float>& pixels) {
  Image image = decodeImage(message, size);
  if (image.encoding != "32FC1" || image.bigEndian ||
      uint64_t{image.width} * sizeof(float) != image.step) {
    throw MessageError(std::string(kImage.name) + ": not a little-endian 32FC1 image (" +
                       image.encoding + ")");
  }
  pixels.resize(image.size / sizeof(float));
  if (image.size != 0) std::memcpy(pixels.data(), image.data, image.size);
  return image;
}

CameraInfo decodeCameraInfo(const uint8_t* message, size_t size) {
  CdrIn cdr(message, size, kCameraInfo.name);
  CameraInfo info;
  readHead(cdr, info, info.distortionModel);
  info.d.resize(cdr.count(sizeof(double)));
  for (double& v : info.d) v = cdr.get<double>();
  for (double& v : info.k) v = cdr.get<double>();
  for (double& v : info.r) v = cdr.get<double>();
  for (double& v : info.p) v = cdr.get<double>();
  info.binningX = cdr.get<uint32_t>();
  info.binningY = cdr.get<uint32_t>();
  info.roi.xOffset = cdr.get<uint32_t>();
  info.roi.yOffset = cdr.get<uint32_t>();
  info.roi.height = cdr.get<uint32_t>();
  info.roi.width = cdr.get<uint32_t>();
  info.roi.doRectify = cdr.get<uint8_t>() != 0;
  return info;
}

RawFrame decodeRawFrame(const uint8_t* message, size_t size) {
  CdrIn cdr(message, size, kRawFrame.name);
  RawFrame frame;
  cdr.header(frame.stampNs, frame.frameId);
  frame.description = cdr.take(kDescriptionBytes);
  frame.size = cdr.count(1);
  frame.data = cdr.take(frame.size);
  return frame;
}

}  // namespace vyxrec::ros2
