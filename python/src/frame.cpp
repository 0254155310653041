#include "frame.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <stdexcept>

#include "vyxhost/output_types.h"
#include "without_gil.h"

namespace lvtcam {

namespace {

const vyxhost::OutputType& outputTypeNamed(const std::string& name) {
  for (const auto& t : vyxhost::outputTypes())
    if (name == t.name) return t;
  std::string known;
  for (const auto& t : vyxhost::outputTypes())
    known += std::string(known.empty() ? "" : ", ") + t.name;
  throw py::value_error("no image type '" + name + "'; the plug-in makes " + known);
}

py::list ints(const int32_t* values, size_t n) {
  py::list out;
  for (size_t i = 0; i < n; ++i) out.append(values[i]);
  return out;
}

}  // namespace

Frame::Frame(std::shared_ptr<PluginAccess> access, RawFrame raw)
    : access_(std::move(access)), raw_(std::move(raw)) {}

py::object Frame::image(const std::string& name) {
  const vyxhost::OutputType& type = outputTypeNamed(name);
  auto cached = images_.find(type.code);
  if (cached != images_.end()) return cached->second;

  const size_t bytes = size_t{rows()} * columns() * sizeof(float);
  std::unique_ptr<float[]> pixels(
      new float[bytes / sizeof(float)]);  // no zero-fill: converted into
  const bool converted = withoutGil([&] {
    return access_->convert(type.code, raw_.description, raw_.bytes.get(), pixels.get(), bytes);
  });
  if (!converted) pixels.reset();
  py::object result = py::none();
  if (pixels) {
    float* data = pixels.get();
    py::capsule owner(pixels.release(), [](void* p) { delete[] static_cast<float*>(p); });
    result = py::array_t<float>(
        {static_cast<py::ssize_t>(rows()), static_cast<py::ssize_t>(columns())}, data, owner);
  }
  images_.emplace(type.code, result);
  return result;
}

py::bytes Frame::raw() const {
  return py::bytes(reinterpret_cast<const char*>(raw_.bytes.get()), raw_.size);
}

py::dict Frame::description() const {
  const VYXDataDescription& d = raw_.description;
  py::dict out;
  out["PID"] = d.PID;
  out["DID"] = d.DID;
  out["type"] = d.type;
  out["size"] = d.size;
  out["subHeaderType"] = d.subHeaderType;
  out["subType"] = d.std.subType;
  out["numColumns"] = d.std.numColumns;
  out["numRows"] = d.std.numRows;
  out["numSubImages"] = d.std.numSubImages;
  out["integrationTime"] = ints(d.std.integrationTime, 4);
  out["modulationFrequency"] = ints(d.std.modulationFrequency, 4);
  out["offset"] = ints(d.std.offset, 4);
  out["pixelAspectRatio"] = d.std.pixelAspectRatio;
  out["pixelOrigin"] = d.std.pixelOrigin;
  out["timeStampHi"] = d.std.timeStampHi;
  out["timeStampLo"] = d.std.timeStampLo;
  out["userData0"] = d.std.userData0;
  return out;
}

py::tuple Frame::integrationTimes() const {
  return py::make_tuple(raw_.description.std.integrationTime[0],
                        raw_.description.std.integrationTime[1]);
}

py::object Frame::timestamp() const {
  return raw_.timestamp ? py::object(py::float_(*raw_.timestamp)) : py::object(py::none());
}

std::vector<std::string> Frame::available() const {
  return withoutGil([&] {
    std::vector<std::string> names;
    for (const auto& t : vyxhost::outputTypes())
      if (access_->canProcess(t.code, raw_.description) > 0) names.emplace_back(t.name);
    return names;
  });
}

std::string Frame::repr() const {
  std::string text = "<lvtcam.Frame index=" + std::to_string(raw_.index) + " " +
                     std::to_string(rows()) + "x" + std::to_string(columns());
  for (const std::string& name : available()) text += " " + name;
  return text + ">";
}

void bindFrame(py::module_& m) {
  py::class_<Frame>(m, "Frame", R"doc(
One camera frame: the bytes the plug-in handed out, their 128-byte description,
and the float images the processing plug-in makes from them.

Images are float32 NumPy arrays of shape (rows, columns) in host byte order,
converted on first access and then kept; each array owns its memory and stays
valid after later grabs. An image the frame does not hold is None.)doc")
      .def_property_readonly(
          "distance", [](Frame& f) { return f.image("distance"); },
          "Radial distance in metres, float32 (rows, columns), or None.")
      .def_property_readonly(
          "amplitude", [](Frame& f) { return f.image("amplitude"); },
          "Amplitude, float32 (rows, columns), or None.")
      .def_property_readonly(
          "intensity", [](Frame& f) { return f.image("intensity"); },
          "Intensity (the amplitude image as the host's intensity type), or None.")
      .def("image", &Frame::image, py::arg("name"),
           "The image of that name (distance, amplitude, intensity, x, y, z) or None.")
      .def_property_readonly("images", &Frame::available, "Names of the images this frame holds.")
      .def_property_readonly("raw", &Frame::raw,
                             "The frame's bytes exactly as received (big-endian image blocks).")
      .def_property_readonly("description", &Frame::description,
                             "The frame's 128-byte description record as a dict of its fields.")
      .def_property_readonly("integration_times", &Frame::integrationTimes,
                             "(itime0, itime1) in microseconds, as the frame's headers carry them.")
      .def_property_readonly("index", &Frame::index,
                             "Position of the frame: counted per camera from 0, or as recorded.")
      .def_property_readonly(
          "timestamp", &Frame::timestamp,
          "Host time (seconds since the epoch) when the frame's update returned, or None.")
      .def_property_readonly("rows", &Frame::rows)
      .def_property_readonly("columns", &Frame::columns)
      .def("__repr__", &Frame::repr);
}

}  // namespace lvtcam
