// One frame as Python sees it: the raw bytes and description the plug-in
// handed out, and float images converted from them on first use.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "plugin_access.h"
#include "vyxdatadescription.h"

namespace lvtcam {

namespace py = pybind11;

struct RawFrame {
  std::unique_ptr<uint8_t[]> bytes;  // not zero-filled: the plug-in writes every byte
  size_t size = 0;
  VYXDataDescription description{};
  uint64_t index = 0;
  std::optional<double> timestamp;  // seconds since the epoch, host clock
};

class Frame {
 public:
  Frame(std::shared_ptr<PluginAccess> access, RawFrame raw);

  // The image of that output type name ("distance", "amplitude", ...) as a
  // float32 array of shape (rows, columns), or None when the frame has none.
  // Converted once, straight into the array's own memory, then kept.
  py::object image(const std::string& name);
  py::bytes raw() const;
  py::dict description() const;
  py::tuple integrationTimes() const;
  uint64_t index() const { return raw_.index; }
  py::object timestamp() const;
  unsigned rows() const { return raw_.description.std.numRows; }
  unsigned columns() const { return raw_.description.std.numColumns; }
  // Names of the images this frame can give.
  std::vector<std::string> available() const;
  std::string repr() const;

 private:
  std::shared_ptr<PluginAccess> access_;
  RawFrame raw_;
  std::map<uint32_t, py::object> images_;
};

void bindFrame(py::module_& m);

}  // namespace lvtcam
