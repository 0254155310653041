// The host data types of raw frames: one per camera header layout.
#ifndef LVT_RAWFORMAT_H
#define LVT_RAWFORMAT_H

#include <cstdint>
#include <optional>

#include "lvtwire/frame_format.h"
#include "vyxdatadescription.h"

namespace lvt {

inline bool isRawFrame(uint32_t type) { return type == VYX_TYPE_50003 || type == VYX_TYPE_50004; }

// The header layout of the images in a raw frame of this type; null for any
// other type.
inline const lvtwire::HeaderLayout* layoutOfRawType(uint32_t type) {
  if (type == VYX_TYPE_50003) return &lvtwire::kShortHeader;
  if (type == VYX_TYPE_50004) return &lvtwire::kLongHeader;
  return nullptr;
}

// The raw frame type of a frame format version; none for an unknown version.
inline std::optional<uint32_t> rawTypeForVersion(uint32_t version) {
  if (version == lvtwire::kShortHeader.version) return VYX_TYPE_50003;
  if (version == lvtwire::kLongHeader.version) return VYX_TYPE_50004;
  return std::nullopt;
}

}  // namespace lvt

#endif
