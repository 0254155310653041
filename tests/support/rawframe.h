// Raw camera frames built byte by byte for the processing tests: image
// blocks of big-endian header words followed by 3200 big-endian pixel words,
// and the description the source plug-in would hand out with such a frame.
#ifndef VYX_TESTS_RAWFRAME_H
#define VYX_TESTS_RAWFRAME_H

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "lvtwire/frame_format.h"
#include "vyxdatadescription.h"

namespace vyxtest {

constexpr unsigned kPixelWords = lvtwire::kPixelWords;
constexpr unsigned kShortHeaderWords = lvtwire::kShortHeader.words();  // VYX_TYPE_50003 frames
constexpr unsigned kLongHeaderWords = lvtwire::kLongHeader.words();    // VYX_TYPE_50004 frames
constexpr uint32_t kImageBytes = lvtwire::kImageBytes;
// One image block with the short header, as the simulated camera sends it by default.
constexpr size_t kShortBlockBytes = lvtwire::kShortHeader.blockBytes();

inline uint32_t floatBits(float f) {
  uint32_t u;
  std::memcpy(&u, &f, sizeof u);
  return u;
}

// Pixels of a recognisable image: pixel i is the float seed * 4096 + i, exact
// in single precision and far from every camera image type.
inline std::vector<uint32_t> patternPixels(unsigned seed) {
  std::vector<uint32_t> pixels(kPixelWords);
  for (unsigned i = 0; i < kPixelWords; ++i) pixels[i] = floatBits(float(seed * 4096u + i));
  return pixels;
}

// The 32-bit words of a block in host order (memcpy, no alignment needed).
inline std::vector<uint32_t> hostWords(const void* data, size_t words) {
  std::vector<uint32_t> out(words);
  std::memcpy(out.data(), data, words * 4);
  return out;
}

class RawFrame {
 public:
  explicit RawFrame(unsigned headerWords = kShortHeaderWords) : headerWords_(headerWords) {}

  // Appends one image block: word 0 the data size, word 1 the header size,
  // word 2 the type word, filler up to the header's end, then the pixels given
  // as host-order bit patterns, stored big-endian.
  RawFrame& add(float typeWord, const std::vector<uint32_t>& pixels) {
    appendWord(floatBits(float(pixels.size() * 4)));
    appendWord(floatBits(float(headerWords_ * 4)));
    appendWord(floatBits(typeWord));
    for (unsigned w = 3; w < headerWords_; ++w) appendWord(floatBits(-1000.0f - float(w)));
    for (uint32_t p : pixels) appendWord(p);
    if (typeWord >= 0.0f && typeWord < 32.0f && std::floor(typeWord) == typeWord)
      subType_ |= 1u << unsigned(typeWord);
    return *this;
  }
  RawFrame& add(float typeWord, unsigned seed) { return add(typeWord, patternPixels(seed)); }

  const std::vector<uint8_t>& bytes() const { return bytes_; }

  // As the source plug-in describes the frame, with a distinctive value in
  // every image field so that a copy of them can be recognised.
  VYXDataDescription description() const {
    VYXDataDescription d;
    std::memset(&d, 0, sizeof d);
    d.PID = 7;
    d.DID = 1;
    d.type = headerWords_ == kLongHeaderWords ? VYX_TYPE_50004 : VYX_TYPE_50003;
    d.size = uint32_t(bytes_.size());
    d.subHeaderType = VYX_SUBHEADER_IMAGE;
    d.std.subType = subType_;
    d.std.numColumns = lvtwire::kColumns;
    d.std.numRows = lvtwire::kRows;
    d.std.numSubImages = 0;
    const int32_t itimes[4] = {200, 2000, -1, -1};
    constexpr auto f = static_cast<int32_t>(lvtwire::kModulationFrequencyHz);
    const int32_t freqs[4] = {f, f, -1, -1};
    const int32_t offsets[4] = {5, 6, 7, 8};
    std::memcpy(d.std.integrationTime, itimes, sizeof itimes);
    std::memcpy(d.std.modulationFrequency, freqs, sizeof freqs);
    std::memcpy(d.std.offset, offsets, sizeof offsets);
    d.std.pixelAspectRatio = 1000;
    d.std.pixelOrigin = 1;
    d.std.timeStampHi = 41;
    d.std.timeStampLo = 42;
    std::memset(d.std.reserved, 'r', sizeof d.std.reserved);
    d.std.userData0 = 0xC0FFEEu;
    return d;
  }

 private:
  void appendWord(uint32_t w) {
    bytes_.resize(bytes_.size() + lvtwire::kWordBytes);
    lvtwire::storeBE32(&bytes_[bytes_.size() - lvtwire::kWordBytes], w);
  }

  unsigned headerWords_;
  std::vector<uint8_t> bytes_;
  uint32_t subType_ = 0;
};

// A description of a block that is not a raw frame (say, a float image).
inline VYXDataDescription floatBlockDescription(uint32_t type, uint32_t subType) {
  VYXDataDescription d;
  std::memset(&d, 0, sizeof d);
  d.type = type;
  d.size = kImageBytes;
  d.subHeaderType = VYX_SUBHEADER_IMAGE;
  d.std.subType = subType;
  d.std.numColumns = lvtwire::kColumns;
  d.std.numRows = lvtwire::kRows;
  d.std.numSubImages = 1;
  return d;
}

}  // namespace vyxtest

#endif
