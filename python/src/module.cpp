// The compiled part of the lvtcam package. Everything reaches the plug-in
// through libvyxhost and the exported entry points.
#include <pybind11/pybind11.h>

#include "camera.h"
#include "frame.h"
#include "plugin_access.h"
#include "vyxhost/locate.h"
#include "vyxhost/vyxhost.h"
#include "without_gil.h"

namespace lvtcam {
void bindSimulator(pybind11::module_& m);
void bindRecording(pybind11::module_& m);
void bindLoopBenchmark(pybind11::module_& m);
}  // namespace lvtcam

namespace py = pybind11;

PYBIND11_MODULE(_lvtcam, m) {
  m.doc() = "Compiled part of lvtcam; use the lvtcam package.";
  m.attr("__version__") = LVTCAM_VERSION;

  // Failures of the plug-in's calls become lvtcam.CameraError (defined in
  // Python so that it pickles and reads like any exception class).
  // Kept for the life of the process: never released after the interpreter is gone.
  static py::handle cameraError =
      py::object(py::module_::import("lvtcam._errors").attr("CameraError")).release();
  // pybind11 takes a plain function of std::exception_ptr by value.
  // NOLINTNEXTLINE(performance-unnecessary-value-param)
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const lvtcam::CallFailure& f) {
      py::object error = cameraError(f.call, f.code, vyxhost::resultName(f.code), f.text);
      PyErr_SetObject(cameraError.ptr(), error.ptr());
    } catch (const vyxhost::LoadError& e) {
      PyErr_SetString(PyExc_OSError, e.what());
    }
  });

  lvtcam::bindFrame(m);
  lvtcam::bindCamera(m);
  lvtcam::bindSimulator(m);
  lvtcam::bindRecording(m);
  lvtcam::bindLoopBenchmark(m);
  m.def("_shut_down", [] { lvtcam::withoutGil([] { lvtcam::PluginAccess::shutDownAll(); }); });
  m.def("_result_name", [](int code) { return std::string(vyxhost::resultName(code)); });
  m.def("_find_plugin", [](const std::string& path) { return vyxhost::findPlugin(path); });
  m.def("_plugin_search",
        [](const std::string& path) { return vyxhost::describePluginSearch(path); });
}
