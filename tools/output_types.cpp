#include "output_types.h"

#include "vyxdatadescription.h"

namespace vyxgrab {

const std::array<OutputType, 6>& outputTypes() {
  // 0x10002 and 0x10004 both carry camera image type 2; the host treats the first as an
  // amplitude and the second as an intensity image.
  static const std::array<OutputType, 6> types = {{
      {VYX_TYPE_10001, 1, "distance", "m"},
      {VYX_TYPE_10002, 2, "amplitude", "counts"},
      {VYX_TYPE_10004, 2, "intensity", "counts"},
      {VYX_TYPE_10020, 8, "x", "m"},
      {VYX_TYPE_10040, 9, "y", "m"},
      {VYX_TYPE_10080, 10, "z", "m"},
  }};
  return types;
}

}  // namespace vyxgrab
