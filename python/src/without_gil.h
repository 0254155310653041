// Running plug-in calls with the GIL released.
//
// Not pybind11::gil_scoped_release: it takes the GIL back in a destructor,
// and a daemon thread that comes back while the interpreter finalizes is
// ended there by a forced unwind, which may not pass a noexcept destructor
// (std::terminate). Here the GIL is taken back by a plain call, after the
// body's own exception, if any, has been put aside.
#pragma once

#include <Python.h>

#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

namespace lvtcam {

template <typename Body>
auto withoutGil(Body&& body) -> decltype(body()) {
  using Result = decltype(body());
  PyThreadState* state = PyEval_SaveThread();
  std::exception_ptr failure;
  if constexpr (std::is_void_v<Result>) {
    try {
      body();
    } catch (...) {
      failure = std::current_exception();
    }
    PyEval_RestoreThread(state);
    if (failure) std::rethrow_exception(failure);
  } else {
    std::optional<Result> result;
    try {
      result.emplace(body());
    } catch (...) {
      failure = std::current_exception();
    }
    PyEval_RestoreThread(state);
    if (failure) std::rethrow_exception(failure);
    return std::move(*result);
  }
}

}  // namespace lvtcam
