// The byte vector that holds a frame. Growing it leaves the new bytes
// uninitialised instead of zeroing them: every byte of a frame is written by
// a receive before anything reads it, and zeroing two images per update
// would cost as much as the plug-in's own work on the frame.
#ifndef LVT_FRAMEBUFFER_H
#define LVT_FRAMEBUFFER_H

#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace lvt {

// std::allocator, except that construction without arguments default-
// initialises (for char: leaves the byte as it is).
template <typename T>
struct DefaultInitAllocator : std::allocator<T> {
  template <typename U>
  struct rebind {
    using other = DefaultInitAllocator<U>;
  };
  DefaultInitAllocator() = default;
  template <typename U>
  DefaultInitAllocator(const DefaultInitAllocator<U>&) noexcept {}

  template <typename U>
  void construct(U* p) noexcept(std::is_nothrow_default_constructible<U>::value) {
    ::new (static_cast<void*>(p)) U;
  }
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

using FrameBuffer = std::vector<char, DefaultInitAllocator<char>>;

}  // namespace lvt

#endif
