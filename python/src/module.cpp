// The compiled part of the lvtcam package. Everything reaches the plug-in through the camera
// session of libvyxhost.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <string>

#include "camera.h"
#include "frame.h"
#include "vyxhost/camera.h"
#include "vyxhost/locate.h"
#include "vyxhost/tof_filters.h"
#include "vyxhost/vyxhost.h"
#include "vyxrec/recording.h"

namespace lvtcam {
void bindSimulator(pybind11::module_& m);
void bindRecording(pybind11::module_& m);
void bindLoopBenchmark(pybind11::module_& m);
void bindRig(pybind11::module_& m);
}  // namespace lvtcam

namespace py = pybind11;

namespace {

// The failed call's name: what() starts with "CALL failed: ".
std::string callOf(const vyxhost::CallError& e) {
  const std::string what = e.what();
  return what.substr(0, what.find(" failed: "));
}

}  // namespace

PYBIND11_MODULE(_lvtcam, m) {
  m.doc() = "Compiled part of lvtcam; use the lvtcam package.";
  m.attr("__version__") = LVTCAM_VERSION;

  // NumPy and its C API are made ready now, while the import holds the GIL. Made on first use
  // instead, the thread making it would wait inside NumPy's import while holding the one-time
  // initialisation another thread, holding the GIL, waits for.
  py::array_t<float> warmUp(0);
  (void)warmUp;

  // Failures of the plug-in's calls become lvtcam.CameraError (defined in Python so that it
  // pickles and reads like any exception class). Kept for the life of the process: never
  // released after the interpreter is gone.
  static py::handle cameraError =
      py::object(py::module_::import("lvtcam._errors").attr("CameraError")).release();
  // pybind11 takes a plain function of std::exception_ptr by value.
  // NOLINTNEXTLINE(performance-unnecessary-value-param)
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const vyxhost::CameraError& e) {
      py::object error = cameraError(e.call(), e.code(), vyxhost::resultName(e.code()), e.text(),
                                     vyxhost::failureName(e.kind()), e.what());
      PyErr_SetObject(cameraError.ptr(), error.ptr());
    } catch (const vyxhost::CallError& e) {
      py::object error = cameraError(callOf(e), e.code(), vyxhost::resultName(e.code()), e.text(),
                                     vyxhost::failureName(vyxhost::FailureKind::Other), e.what());
      PyErr_SetObject(cameraError.ptr(), error.ptr());
    } catch (const vyxhost::LoadError& e) {
      PyErr_SetString(PyExc_OSError, e.what());
    } catch (const vyxrec::RecordingMissing& e) {
      PyErr_SetString(PyExc_FileNotFoundError, e.what());
    } catch (const vyxrec::RecordingError& e) {
      // One exception for a bad recording, wherever it is read (read_recording, a replay).
      PyErr_SetString(PyExc_ValueError, e.what());
    }
  });

  lvtcam::bindFrame(m);
  lvtcam::bindSimulator(m);
  lvtcam::bindCamera(m);
  lvtcam::bindRecording(m);
  lvtcam::bindRecorder(m);
  lvtcam::bindRig(m);
  lvtcam::bindLoopBenchmark(m);
  m.def("_default_filters", [] { return vyxhost::FilterSettings().toJson(); });
  m.def("_find_plugin", [](const std::string& path) { return vyxhost::findPlugin(path); });
  m.def("_plugin_search",
        [](const std::string& path) { return vyxhost::describePluginSearch(path); });
}
