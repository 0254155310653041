// The time-of-flight filters on the element's distance image, with the settings every door uses
// by default (vyxhost::FilterSettings): a pixel the filters find unusable (too little light, a
// full sensor, out of range, a flying pixel at a depth edge) becomes NaN, and so 0 in the 16-bit
// output. Validity depends on distance and amplitude alone, not on the lens.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "vyxhost/camera.h"
#include "vyxhost/tof_filters.h"

namespace lvtgst {

class DistanceFilter {
 public:
  // Tests the frame's pixels and sets the unusable ones of distance (shape's size, converted
  // from frame) to NaN. The amplitude image is converted from the same frame; without one, its
  // tests are skipped. A gap in the frames' sequence starts the temporal median afresh.
  void apply(const vyxhost::Camera& camera, const vyxhost::Frame& frame,
             const vyxhost::ImageShape& shape, float* distance);

 private:
  std::unique_ptr<vyxhost::TofFilter> filter_;  // for shape_
  vyxhost::ImageShape shape_;
  uint64_t nextSequence_ = 0;
  std::vector<float> amplitude_;
  std::vector<uint8_t> valid_;
};

}  // namespace lvtgst
