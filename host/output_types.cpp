#include "vyxhost/output_types.h"

#include <cstring>

#include "vyxdatadescription.h"

namespace vyxhost {

const std::array<OutputType, 6>& outputTypes() {
  // 0x10002 and 0x10004 are the same camera image; the host treats the first as an amplitude
  // and the second as an intensity image.
  static const std::array<OutputType, 6> types = {{
      {VYX_TYPE_10001, "distance", "m"},
      {VYX_TYPE_10002, "amplitude", "counts"},
      {VYX_TYPE_10004, "intensity", "counts"},
      {VYX_TYPE_10020, "x", "m"},
      {VYX_TYPE_10040, "y", "m"},
      {VYX_TYPE_10080, "z", "m"},
  }};
  return types;
}

const OutputType* findOutputType(const std::string& name) {
  for (const OutputType& t : outputTypes())
    if (name == t.name) return &t;
  return nullptr;
}

const OutputType* findOutputType(uint32_t code) {
  for (const OutputType& t : outputTypes())
    if (code == t.code) return &t;
  return nullptr;
}

}  // namespace vyxhost
