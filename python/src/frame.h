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
class Depth;

class Frame {
 public:
  // frame.sequence is the frame's index; timestamp is host UTC in seconds, when known.
  // depth turns it into points (the camera's lens and filters); camera is the camera's name in a
  // recording or a rig ("" for a single camera's live frame).
  Frame(std::shared_ptr<const vyxhost::FrameConverter> converter, vyxhost::Frame frame,
        std::optional<double> timestamp, std::shared_ptr<Depth> depth = nullptr,
        std::string camera = "");

  // The image of that output type name ("distance", "amplitude", ...) as a float32 array of
  // shape (rows, columns), or None when the frame has none. Converted once, then kept.
  py::object image(const std::string& name);
  // An image the frame carries already converted (a recording without raw bytes).
  void setImage(uint32_t code, py::object pixels);
  // Points (rows, columns, 3) float32, NaN where invalid, and the valid mask (rows, columns)
  // bool, made once through the camera's depth pipeline; None without a distance image.
  py::object points();
  py::object valid();
  py::object lens() const;
  py::object camera() const;
  py::bytes raw() const;
  py::dict description() const;
  py::tuple integrationTimes() const;
  uint64_t index() const { return frame_.sequence; }
  py::object timestamp() const;
  const vyxhost::Frame& data() const { return frame_; }
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
  std::shared_ptr<Depth> depth_;
  std::string camera_;
  bool depthDone_ = false;
  py::object points_, valid_;

  void makeDepth();
};

void bindFrame(py::module_& m);

}  // namespace lvtcam
