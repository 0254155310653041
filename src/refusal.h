// Refusing a call: the texts and checks both plug-ins share. A check that
// fails throws a Refusal; the exception barrier of the entry point
// (boundary.h) turns it into the result code and stores its text.
#ifndef LVT_REFUSAL_H
#define LVT_REFUSAL_H

#include <mutex>

#include "vyxsdk2common.h"

namespace lvt {

// For calls that pass a null pointer where the host must provide memory or a text.
constexpr const char* kNullArgument = "null pointer argument";

// A call refused with `code`; `text` is what vyxpGetLastError reports after it.
struct Refusal {
  int code;
  const char* text;
};

[[noreturn]] inline void refuse(int code, const char* text) { throw Refusal{code, text}; }

// Both registries change only under this lock, and every look-up takes it, so that calls on
// different handles may run on different threads at once. A record, once found, stays where it
// is until its own handle is closed (std::map never moves its nodes); only the look-up, the
// insertion and the erasure need the lock, never a wait for the camera.
std::mutex& registryMutex();
using RegistryLock = std::lock_guard<std::mutex>;

// The record a handle names in a plug-in's registry. An unknown handle is
// refused with VYX_INVALID_HANDLE and an empty text, which the barrier
// stores in that plug-in's error slot.
template <typename Registry>
typename Registry::mapped_type& recordOf(Registry& registry, unsigned int id) {
  const RegistryLock lock(registryMutex());
  auto it = registry.find(id);
  if (it == registry.end()) refuse(VYX_INVALID_HANDLE, "");
  return it->second;
}

// Stores a refusal's text under the handle's record when it is open, else in the registry's
// error slot (handle 0).
template <typename Registry>
void storeText(Registry& registry, unsigned int id, const char* text) {
  const RegistryLock lock(registryMutex());
  auto it = registry.find(id);
  (it != registry.end() ? it->second : registry[0]).errorMessage = text;
}

// A pointer the call must use.
inline void requireArgument(const void* pointer) {
  if (pointer == nullptr) refuse(VYX_INVALID_VALUE, kNullArgument);
}

}  // namespace lvt

#endif
