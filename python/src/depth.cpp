#include "depth.h"

#include <pybind11/stl.h>

#include <stdexcept>
#include <string>

#include "vyxhost/lens.h"

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
  // The calibration file's fields, from its one writer; its notes on meaning left out.
  const py::dict file = py::module_::import("json").attr("loads")(vyxhost::calibrationJson(lens));
  py::dict out;
  for (const char* key : {"width", "height", "fx", "fy", "cx", "cy", "source", "nominal"})
    out[key] = file[key];
  out["distortion"] = py::tuple(file["distortion"]);
  return out;
}

}  // namespace lvtcam
