// The camera's frame format: what one answer on the data port looks like and
// how the words of the front-end settings block are ordered.
//
// An answer to a request byte is one image block: a header of big-endian
// 32-bit float words (carrying whole numbers), then the image, itself
// big-endian float words. A raw frame is such blocks one after another.
#ifndef LVTWIRE_FRAME_FORMAT_H
#define LVTWIRE_FRAME_FORMAT_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <vector>

namespace lvtwire {

constexpr size_t kWordBytes = 4;

// ---- Image geometry: one camera image is 64 x 50 float pixels.
constexpr uint32_t kColumns = 64;
constexpr uint32_t kRows = 50;
constexpr uint32_t kPixelWords = kColumns * kRows;
constexpr uint32_t kImageBytes = kPixelWords * kWordBytes;

// ---- Header layouts. The header size word tells which format the camera
// speaks; each format has its own version number.
struct HeaderLayout {
  uint32_t bytes;
  uint32_t version;
  constexpr uint32_t words() const { return bytes / kWordBytes; }
  constexpr uint32_t blockBytes() const { return bytes + kImageBytes; }  // header and one image
};
inline constexpr HeaderLayout kShortHeader{68, 1007};
inline constexpr HeaderLayout kLongHeader{412, 1013};

// The layout a header size word names, or null for any other size. (A
// pointer rather than an optional: it stays in a register on the
// conversion's per-call path.)
constexpr const HeaderLayout* layoutForHeaderBytes(uint32_t bytes) {
  if (bytes == kShortHeader.bytes) return &kShortHeader;
  if (bytes == kLongHeader.bytes) return &kLongHeader;
  return nullptr;
}

// The layout of a format version, or null for an unknown version.
constexpr const HeaderLayout* layoutForVersion(uint32_t version) {
  if (version == kShortHeader.version) return &kShortHeader;
  if (version == kLongHeader.version) return &kLongHeader;
  return nullptr;
}

// ---- Header word indices.
namespace word {
constexpr unsigned kDataSize = 0;    // image bytes after the header
constexpr unsigned kHeaderSize = 1;  // header bytes, these words included
constexpr unsigned kImageType = 2;   // 1 distance, 2 amplitude, 8/9/10 x/y/z; 0 none
constexpr unsigned kFrameCounter = 3;
constexpr unsigned kRequest = 4;  // the request byte that asked for the image
constexpr unsigned kItime0 = 5;   // integration times in microseconds
constexpr unsigned kItime1 = 6;
constexpr unsigned kFps = 7;
constexpr unsigned kValidity = 15;  // negative: the image is not valid
}  // namespace word
// Words the camera fills in; the rest of a header is zero.
constexpr unsigned kFilledHeaderWords = word::kValidity + 1;
// Both size words, which come first and are read before the rest.
constexpr size_t kSizeWordsBytes = 2 * kWordBytes;

// ---- The front-end settings block read and written over the control channel.
constexpr size_t kFrontendWords = 9;
namespace frontend {
constexpr size_t kItime0 = 4;  // microseconds
constexpr size_t kItime1 = 5;
constexpr size_t kFps = 7;  // frames per second
}  // namespace frontend

// The modulation frequency, fixed in the camera.
constexpr uint32_t kModulationFrequencyHz = 20000000;

// ---- Big-endian words. Bits are moved, not values, so every pattern (NaNs
// included) passes unchanged.
inline uint32_t loadBE32(const void* src) {
  const auto* p = static_cast<const uint8_t*>(src);
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

inline void storeBE32(void* dst, uint32_t bits) {
  auto* p = static_cast<uint8_t*>(dst);
  p[0] = static_cast<uint8_t>(bits >> 24);
  p[1] = static_cast<uint8_t>(bits >> 16);
  p[2] = static_cast<uint8_t>(bits >> 8);
  p[3] = static_cast<uint8_t>(bits);
}

inline float getFloatBE(const void* src) {
  const uint32_t bits = loadBE32(src);
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

inline void putFloatBE(void* dst, float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  storeBE32(dst, bits);
}

// Word k of the `size` bytes at `bytes`, or none when it does not lie whole
// inside them.
inline std::optional<float> wordAt(const void* bytes, size_t size, size_t k) {
  if (k >= size / kWordBytes) return std::nullopt;
  return getFloatBE(static_cast<const uint8_t*>(bytes) + kWordBytes * k);
}

// The same for a whole block; throws std::out_of_range past its end.
inline float wordAt(const std::vector<uint8_t>& bytes, size_t k) {
  const auto value = wordAt(bytes.data(), bytes.size(), k);
  if (!value) throw std::out_of_range("header word beyond the end of the data");
  return *value;
}

}  // namespace lvtwire

#endif
