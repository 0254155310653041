#include "depth.h"

#include <pybind11/stl.h>

#include <stdexcept>
#include <string>

namespace lvtcam {

namespace py = pybind11;

void Depth::process(float* distance, const float* amplitude, uint8_t* valid, float* xyz,
                    size_t pixels) {
  const vyxhost::LensModel& l = lens();
  if (pixels != static_cast<size_t>(l.width) * static_cast<size_t>(l.height))
    throw std::runtime_error("the frame has " + std::to_string(pixels) +
                             " pixels, the lens model is for " + std::to_string(l.width) + " x " +
                             std::to_string(l.height));
  const std::lock_guard<std::mutex> lock(mutex_);
  pipeline_.process(distance, amplitude, valid, xyz);
}

py::dict lensDict(const vyxhost::LensModel& lens) {
  py::dict out;
  out["width"] = lens.width;
  out["height"] = lens.height;
  out["fx"] = lens.fx;
  out["fy"] = lens.fy;
  out["cx"] = lens.cx;
  out["cy"] = lens.cy;
  out["distortion"] = py::tuple(py::cast(lens.distortion));
  out["source"] = lens.source;
  out["nominal"] = lens.nominal;
  return out;
}

}  // namespace lvtcam
