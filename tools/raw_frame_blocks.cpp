#include "raw_frame_blocks.h"

#include <cmath>

#include "lvtwire/frame_format.h"

namespace vyxgrab {

namespace {

namespace word = lvtwire::word;

// The size words and the type word.
constexpr size_t kWordsNeeded = word::kImageType + 1;

double wordAt(const std::vector<uint8_t>& bytes, size_t offset, unsigned k) {
  return lvtwire::getFloatBE(&bytes[offset + lvtwire::kWordBytes * k]);
}

}  // namespace

std::vector<int> imageTypesInFrame(const std::vector<uint8_t>& frame) {
  std::vector<int> types;
  size_t offset = 0;
  while (frame.size() - offset >= kWordsNeeded * 4) {
    const size_t left = frame.size() - offset;
    const double dataSize = wordAt(frame, offset, word::kDataSize);
    const double headerSize = wordAt(frame, offset, word::kHeaderSize);
    const double type = wordAt(frame, offset, word::kImageType);
    // Compare as doubles, so that huge or non-finite words never reach an integer conversion.
    const bool sane = dataSize >= 0 && headerSize >= kWordsNeeded * 4 &&
                      dataSize + headerSize <= static_cast<double>(left) && std::isfinite(type) &&
                      std::fabs(type) < 1e9;
    if (!sane) break;
    types.push_back(static_cast<int>(std::lround(type)));
    offset += static_cast<size_t>(headerSize) + static_cast<size_t>(dataSize);
  }
  return types;
}

}  // namespace vyxgrab
