// The exception barrier of the C boundary: no exception ever reaches the host.
#ifndef LVT_BOUNDARY_H
#define LVT_BOUNDARY_H

#include <exception>
#include <new>
#include <string>

#include "refusal.h"
#include "vyxsdk2common.h"

namespace lvt {

// Runs body and returns its result code. A Refusal it throws gives its code,
// its text handed to store. Anything else it throws that the entry point did
// not handle itself becomes VYX_RUNTIME_ERROR, with a short text handed to
// store.
template <typename Body, typename Store>
int guarded(Body&& body, Store&& store) noexcept {
  try {
    return body();
  } catch (const Refusal& refusal) {
    try {
      store(refusal.text);
      return refusal.code;
    } catch (...) {
    }
  } catch (const std::bad_alloc&) {
    try {
      store("out of memory");
    } catch (...) {
    }
  } catch (...) {
    try {
      store("internal error");
    } catch (...) {
    }
  }
  return VYX_RUNTIME_ERROR;
}

}  // namespace lvt

#endif
