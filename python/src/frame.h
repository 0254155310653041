// One frame as Python sees it: the raw bytes and description the plug-in handed out, and float
// images converted from them on first use, straight into the arrays' own memory.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "vyxhost/camera.h"

namespace lvtcam {

namespace py = pybind11;

class Frame {
 public:
  // frame.sequence is the frame's index; timestamp is host UTC in seconds, when known.
  Frame(std::shared_ptr<const vyxhost::FrameConverter> converter, vyxhost::Frame frame,
        std::optional<double> timestamp);

  // The image of that output type name ("distance", "amplitude", ...) as a float32 array of
  // shape (rows, columns), or None when the frame has none. Converted once, then kept.
  py::object image(const std::string& name);
  py::bytes raw() const;
  py::dict description() const;
  py::tuple integrationTimes() const;
  uint64_t index() const { return frame_.sequence; }
  py::object timestamp() const;
  unsigned rows() const { return frame_.description.std.numRows; }
  unsigned columns() const { return frame_.description.std.numColumns; }
  // Names of the images this frame can give.
  std::vector<std::string> available() const;
  std::string repr() const;

 private:
  std::shared_ptr<const vyxhost::FrameConverter> converter_;
  vyxhost::Frame frame_;
  std::optional<double> timestamp_;
  std::map<uint32_t, py::object> images_;
};

void bindFrame(py::module_& m);

}  // namespace lvtcam
