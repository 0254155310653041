// A camera's way from a frame to points: its lens and time-of-flight filters in one
// vyxhost::DepthPipeline, shared by the camera and its frames. The pipeline keeps state (the
// temporal median), so one frame at a time goes through it.
#pragma once

#include <pybind11/pybind11.h>

#include <mutex>

#include "vyxhost/depth.h"

namespace lvtcam {

class Depth {
 public:
  // Throws std::invalid_argument (ValueError) for an unusable lens or filter settings.
  Depth(const vyxhost::LensModel& lens, const vyxhost::FilterSettings& filters)
      : pipeline_(lens, filters) {}

  const vyxhost::LensModel& lens() const { return pipeline_.lens(); }
  const vyxhost::FilterSettings& filters() const { return pipeline_.filters(); }
  // True when each frame must pass in the order it was taken (the temporal median).
  bool ordered() const { return filters().enabled && filters().temporalMedian > 0; }

  // Filters and deprojects: distance (filtered in place, NaN where invalid), valid, xyz.
  // Throws std::runtime_error when the images do not fit the lens.
  void process(float* distance, const float* amplitude, uint8_t* valid, float* xyz, size_t pixels);

 private:
  std::mutex mutex_;
  vyxhost::DepthPipeline pipeline_;
};

// The lens as Python sees it: a dict of width, height, fx, fy, cx, cy, distortion (k1, k2, p1,
// p2, k3), source and nominal.
pybind11::dict lensDict(const vyxhost::LensModel& lens);

}  // namespace lvtcam
