#include "distance_filter.h"

#include "vyxdatadescription.h"

namespace lvtgst {

void DistanceFilter::apply(const vyxhost::Camera& camera, const vyxhost::Frame& frame,
                           const vyxhost::ImageShape& shape, float* distance) {
  const size_t pixels = shape.pixels();
  if (!filter_ || shape.columns != shape_.columns || shape.rows != shape_.rows) {
    filter_ = std::make_unique<vyxhost::TofFilter>(
        vyxhost::FilterSettings{}, static_cast<int>(shape.columns), static_cast<int>(shape.rows));
    shape_ = shape;
    amplitude_.resize(pixels);
    valid_.resize(pixels);
  } else if (frame.sequence != nextSequence_) {
    filter_->reset();
  }
  nextSequence_ = frame.sequence + 1;
  vyxhost::ImageShape amplitudeShape;
  const bool amplitude = camera.convert(VYX_TYPE_10002, frame, amplitude_.data(),
                                        pixels * sizeof(float), &amplitudeShape) &&
                         amplitudeShape.pixels() == pixels;
  filter_->apply(distance, amplitude ? amplitude_.data() : nullptr, valid_.data());
  vyxhost::maskInvalid(valid_.data(), distance, pixels);
}

}  // namespace lvtgst
