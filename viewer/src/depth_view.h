// What the page is shown of a frame: distance and amplitude through the lens and the
// time-of-flight filters (vyxhost::DepthPipeline), as one frame message. The filters can be
// changed from the page between two frames. Used by one thread (the camera's or the replay's).
#pragma once

#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "frame_encoding.h"
#include "vyxhost/depth.h"

namespace vyxview {

class DepthView {
 public:
  // Throws std::invalid_argument for an unusable lens or filters.
  DepthView(const vyxhost::LensModel& lens, const vyxhost::FilterSettings& filters);

  const vyxhost::LensModel& lens() const { return pipeline_->lens(); }
  const vyxhost::FilterSettings& filters() const { return pipeline_->filters(); }
  // Fields the object lacks keep their present values. Throws std::invalid_argument naming
  // the field at fault; the filters are then unchanged.
  void setFilters(const nlohmann::json& fields);

  // A live or replayed frame through the plug-in; false when it holds no distance image.
  bool process(const vyxhost::FrameConverter& converter, const vyxhost::Frame& frame);
  // Images already converted (a recording without raw frames).
  void process(const std::vector<float>& distance, const std::vector<float>& amplitude,
               uint32_t rows, uint32_t columns);
  const vyxhost::DepthImages& images() const { return images_; }
  // After a gap (a camera back, a replay moved): the temporal median starts afresh.
  void reset() { pipeline_->reset(); }
  // The last processed frame's message; the header's flags are filled in here.
  std::string message(FrameHeader header, bool points) const;

  // For the page's status: {"lens": {...calibration..., "nominal": bool}, "filters": {...}}.
  nlohmann::json describe() const;

 private:
  std::unique_ptr<vyxhost::DepthPipeline> pipeline_;
  vyxhost::DepthImages images_;
};

}  // namespace vyxview
