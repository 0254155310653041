// A frame in 3D: its distance and amplitude images converted by the plug-in, the time-of-flight
// filters (tof_filters.h) deciding which pixels are usable, and the usable ones turned into
// points along the lens's rays (lens.h). What every door shows, writes and hands on.
//
// Conventions: x right, y down, z forward, metres; the distance image is the radial distance
// along each pixel's ray (not z). Unusable pixels are NaN in every float output.
#ifndef VYXHOST_DEPTH_H
#define VYXHOST_DEPTH_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "vyxhost/camera.h"
#include "vyxhost/lens.h"
#include "vyxhost/tof_filters.h"

namespace vyxhost {

struct DepthImages {
  ImageShape shape;
  std::vector<float> distance;   // rows x columns, filtered (temporal median), NaN where invalid
  std::vector<float> amplitude;  // rows x columns, as converted (0 where the frame has none)
  std::vector<uint8_t> valid;    // rows x columns, 1 usable
  std::vector<float> xyz;        // rows x columns x 3, NaN where invalid
  size_t validCount = 0;
};

class DepthPipeline {
 public:
  // Throws std::invalid_argument for an unusable lens or filter settings.
  DepthPipeline(const LensModel& lens, const FilterSettings& filters);

  const LensModel& lens() const { return rays_.lens(); }
  const FilterSettings& filters() const { return filter_.settings(); }

  // Converts the frame's distance (VYX_TYPE_10001) and amplitude (VYX_TYPE_10002), filters and
  // deprojects into out (its buffers are reused). Returns false when the frame holds no
  // distance image; throws std::runtime_error when the image does not match the lens's size.
  bool process(const FrameConverter& converter, const Frame& frame, DepthImages& out);
  // The same from images already converted (distance is filtered in place).
  size_t process(float* distance, const float* amplitude, uint8_t* valid, float* xyz);
  // After a gap in the stream: the temporal median starts afresh.
  void reset() { filter_.reset(); }

 private:
  RayTable rays_;
  TofFilter filter_;
};

}  // namespace vyxhost

#endif
