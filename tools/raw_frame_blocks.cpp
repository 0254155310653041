#include "raw_frame_blocks.h"

#include <cmath>
#include <cstring>

namespace vyxgrab {

namespace {

constexpr size_t kWordsNeeded = 3;

double wordAt(const std::vector<uint8_t>& bytes, size_t offset) {
  const uint32_t word = static_cast<uint32_t>(bytes[offset]) << 24 |
                        static_cast<uint32_t>(bytes[offset + 1]) << 16 |
                        static_cast<uint32_t>(bytes[offset + 2]) << 8 | bytes[offset + 3];
  float value;
  std::memcpy(&value, &word, sizeof value);
  return value;
}

}  // namespace

std::vector<int> imageTypesInFrame(const std::vector<uint8_t>& frame) {
  std::vector<int> types;
  size_t offset = 0;
  while (frame.size() - offset >= kWordsNeeded * 4) {
    const size_t left = frame.size() - offset;
    const double dataSize = wordAt(frame, offset);
    const double headerSize = wordAt(frame, offset + 4);
    const double type = wordAt(frame, offset + 8);
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
