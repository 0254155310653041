#include "vyxhost/depth.h"

#include <stdexcept>
#include <string>

namespace vyxhost {

DepthPipeline::DepthPipeline(const LensModel& lens, const FilterSettings& filters)
    : rays_(lens), filter_(filters, lens.width, lens.height) {}

size_t DepthPipeline::process(float* distance, const float* amplitude, uint8_t* valid, float* xyz) {
  const size_t usable = filter_.apply(distance, amplitude, valid);
  maskInvalid(valid, distance, rays_.pixels());
  deproject(rays_, distance, xyz, valid);
  return usable;
}

bool DepthPipeline::process(const FrameConverter& converter, const Frame& frame, DepthImages& out) {
  const size_t pixels = rays_.pixels();
  out.distance.resize(pixels);
  out.amplitude.resize(pixels);
  out.valid.resize(pixels);
  out.xyz.resize(pixels * 3);
  const size_t bytes = pixels * sizeof(float);
  ImageShape shape;
  if (!converter.convert(VYX_TYPE_10001, frame.description, frame.raw.data(), out.distance.data(),
                         bytes, &shape))
    return false;
  if (shape.pixels() != pixels || static_cast<int>(shape.columns) != rays_.width()) {
    throw std::runtime_error("the frame's distance image is " + std::to_string(shape.columns) +
                             " x " + std::to_string(shape.rows) + ", the lens model is for " +
                             std::to_string(rays_.width()) + " x " +
                             std::to_string(rays_.height()));
  }
  ImageShape amplitudeShape;
  const bool amplitude = converter.convert(VYX_TYPE_10002, frame.description, frame.raw.data(),
                                           out.amplitude.data(), bytes, &amplitudeShape) &&
                         amplitudeShape.pixels() == pixels;
  if (!amplitude) out.amplitude.assign(pixels, 0.0f);
  out.shape = shape;
  out.validCount = process(out.distance.data(), amplitude ? out.amplitude.data() : nullptr,
                           out.valid.data(), out.xyz.data());
  return true;
}

}  // namespace vyxhost
