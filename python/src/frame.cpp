#include "frame.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <stdexcept>

#include "depth.h"
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

Frame::Frame(std::shared_ptr<const vyxhost::FrameConverter> converter, vyxhost::Frame frame,
             std::optional<double> timestamp, std::shared_ptr<Depth> depth, std::string camera)
    : converter_(std::move(converter)),
      frame_(std::move(frame)),
      timestamp_(timestamp),
      depth_(std::move(depth)),
      camera_(std::move(camera)) {}

void Frame::setImage(uint32_t code, py::object pixels) { images_[code] = std::move(pixels); }

void Frame::makeDepth() {
  if (depthDone_) return;
  py::object distance = image("distance");
  if (distance.is_none() || !depth_) {
    depthDone_ = true;
    points_ = valid_ = py::none();
    return;
  }
  py::object amplitude = image("amplitude");
  const auto r = static_cast<py::ssize_t>(rows()), c = static_cast<py::ssize_t>(columns());
  // The filters work on a copy: frame.distance stays the image as converted.
  py::array_t<float> filtered = py::array_t<float>(distance).attr("copy")();
  py::array_t<float> xyz({r, c, py::ssize_t{3}});
  py::array_t<bool> mask({r, c});
  float* d = filtered.mutable_data();
  const float* a = amplitude.is_none() ? nullptr : py::array_t<float>(amplitude).data();
  static_assert(sizeof(bool) == 1, "NumPy's bool is one byte");
  auto* v = reinterpret_cast<uint8_t*>(mask.mutable_data());
  float* out = xyz.mutable_data();
  const auto pixels = static_cast<size_t>(r * c);
  withoutGil([&] { depth_->process(d, a, v, out, pixels); });
  points_ = std::move(xyz);
  valid_ = std::move(mask);
  depthDone_ = true;
}

py::object Frame::points() {
  makeDepth();
  return points_;
}

py::object Frame::valid() {
  makeDepth();
  return valid_;
}

py::object Frame::lens() const {
  return depth_ ? py::object(lensDict(depth_->lens())) : py::none();
}

py::object Frame::camera() const {
  return camera_.empty() ? py::none() : py::object(py::str(camera_));
}

py::object Frame::image(const std::string& name) {
  const vyxhost::OutputType& type = outputTypeNamed(name);
  auto cached = images_.find(type.code);
  if (cached != images_.end()) return cached->second;
  if (frame_.raw.empty()) return py::none();  // a recorded frame without its bytes

  // The array is made with the GIL, the conversion runs without it, straight into the array.
  py::array_t<float> pixels(
      {static_cast<py::ssize_t>(rows()), static_cast<py::ssize_t>(columns())});
  void* out = pixels.mutable_data();
  const size_t bytes = static_cast<size_t>(pixels.nbytes());
  vyxhost::ImageShape shape;
  bool converted = withoutGil([&] {
    return converter_->convert(type.code, frame_.description, frame_.raw.data(), out, bytes,
                               &shape);
  });
  // An image of another size than the description's (a damaged recording) is not handed out
  // half written.
  if (converted && (shape.rows != rows() || shape.columns != columns())) converted = false;
  py::object result = converted ? py::object(std::move(pixels)) : py::object(py::none());
  images_.emplace(type.code, result);
  return result;
}

py::bytes Frame::raw() const {
  return py::bytes(reinterpret_cast<const char*>(frame_.raw.data()), frame_.raw.size());
}

py::dict Frame::description() const {
  const VYXDataDescription& d = frame_.description;
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
  return py::make_tuple(frame_.description.std.integrationTime[0],
                        frame_.description.std.integrationTime[1]);
}

py::object Frame::timestamp() const {
  return timestamp_ ? py::object(py::float_(*timestamp_)) : py::object(py::none());
}

std::vector<std::string> Frame::available() const {
  return withoutGil([&] {
    std::vector<std::string> names;
    for (const auto& t : vyxhost::outputTypes())
      if (converter_->imageBytes(t.code, frame_.description) > 0 ||
          (frame_.raw.empty() && images_.count(t.code) != 0))
        names.emplace_back(t.name);
    return names;
  });
}

std::string Frame::repr() const {
  std::string text = "<lvtcam.Frame index=" + std::to_string(frame_.sequence) + " " +
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
      .def_property_readonly(
          "points", &Frame::points,
          "Points (rows, columns, 3) float32 in metres (x right, y down, z forward), NaN where\n"
          "the filters found the pixel unusable; made once from the distance image along the\n"
          "lens's rays. None without a distance image.")
      .def_property_readonly("valid", &Frame::valid,
                             "Boolean mask (rows, columns): True where the point is usable.")
      .def_property_readonly(
          "lens", &Frame::lens,
          "The lens the points are made with (a dict; 'nominal' True when it is assumed, not\n"
          "measured on this camera).")
      .def_property_readonly("camera", &Frame::camera,
                             "The camera's name in a recording or a rig, or None for a single\n"
                             "camera's live frame.")
      .def_property_readonly("sequence", &Frame::index,
                             "The frame's number: as index (counted per camera from 0).")
      .def_property_readonly("rows", &Frame::rows)
      .def_property_readonly("columns", &Frame::columns)
      .def("__repr__", &Frame::repr);
}

}  // namespace lvtcam
