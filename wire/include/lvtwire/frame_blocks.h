// A look inside a raw frame as the plug-in hands it out: image blocks one after another, each a
// header of big-endian float words (word 0 the data size in bytes, word 1 the header size, word 2
// the camera image type) followed by the image data.
#ifndef LVTWIRE_FRAME_BLOCKS_H
#define LVTWIRE_FRAME_BLOCKS_H

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "lvtwire/frame_format.h"

namespace lvtwire {

// Calls visit(type) with the camera image type of every complete block, in order. Stops at the
// first header that is cut short or names sizes that do not fit the frame.
template <typename Visit>
void visitImageBlocks(const uint8_t* frame, size_t size, Visit&& visit) {
  constexpr size_t kWordsNeeded = word::kImageType + 1;  // the size words and the type word
  size_t offset = 0;
  while (size - offset >= kWordsNeeded * kWordBytes) {
    const size_t left = size - offset;
    const uint8_t* block = frame + offset;
    const double dataSize = getFloatBE(block + kWordBytes * word::kDataSize);
    const double headerSize = getFloatBE(block + kWordBytes * word::kHeaderSize);
    const double type = getFloatBE(block + kWordBytes * word::kImageType);
    // Compared as doubles, so that huge or non-finite words never reach an integer conversion.
    const bool sane = dataSize >= 0 && headerSize >= kWordsNeeded * kWordBytes &&
                      dataSize + headerSize <= static_cast<double>(left) && std::isfinite(type) &&
                      std::fabs(type) < 1e9;
    if (!sane) break;
    visit(static_cast<int>(std::lround(type)));
    offset += static_cast<size_t>(headerSize) + static_cast<size_t>(dataSize);
  }
}

// The camera image type of every complete block, in order.
inline std::vector<int> imageTypesInFrame(const uint8_t* frame, size_t size) {
  std::vector<int> types;
  visitImageBlocks(frame, size, [&](int type) { types.push_back(type); });
  return types;
}

// How many complete blocks the frame holds; allocates nothing, for once per frame.
inline size_t imageBlockCount(const std::vector<uint8_t>& frame) {
  size_t count = 0;
  visitImageBlocks(frame.data(), frame.size(), [&](int) { ++count; });
  return count;
}

inline std::vector<int> imageTypesInFrame(const std::vector<uint8_t>& frame) {
  return imageTypesInFrame(frame.data(), frame.size());
}

}  // namespace lvtwire

#endif
