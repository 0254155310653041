#include "counting_allocator.h"

#include <cstddef>
#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VYX_BENCH_WRAP_MALLOC 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VYX_BENCH_WRAP_MALLOC 0
#endif
#endif
#ifndef VYX_BENCH_WRAP_MALLOC
#define VYX_BENCH_WRAP_MALLOC 1
#endif

namespace {

// Plain zero-initialised thread-locals of the executable: reading them never
// allocates, so the hooks below may use them from any thread at any time.
struct ThreadCount {
  bool on;
  uint64_t heap;
  uint64_t news;
};
thread_local ThreadCount t_count;

inline void countHeap() {
  if (t_count.on) ++t_count.heap;
}

void* allocate(std::size_t n) {
  if (t_count.on) ++t_count.news;
  if (n == 0) n = 1;
  for (;;) {
    if (void* p = std::malloc(n)) return p;
    std::new_handler handler = std::get_new_handler();
    if (handler == nullptr) throw std::bad_alloc();
    handler();
  }
}

void* allocateOrNull(std::size_t n) noexcept {
  try {
    return allocate(n);
  } catch (...) {
    return nullptr;
  }
}

}  // namespace

#if VYX_BENCH_WRAP_MALLOC
// glibc's allocator under its own names; the wrappers count and forward, and
// free stays glibc's.
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);

void* malloc(std::size_t n) noexcept {
  countHeap();
  return __libc_malloc(n);
}
void* calloc(std::size_t count, std::size_t n) noexcept {
  countHeap();
  return __libc_calloc(count, n);
}
void* realloc(void* p, std::size_t n) noexcept {
  countHeap();
  return __libc_realloc(p, n);
}
}
#endif

void* operator new(std::size_t n) {
#if !VYX_BENCH_WRAP_MALLOC
  countHeap();
#endif
  return allocate(n);
}
void* operator new[](std::size_t n) { return operator new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
#if !VYX_BENCH_WRAP_MALLOC
  countHeap();
#endif
  return allocateOrNull(n);
}
void* operator new[](std::size_t n, const std::nothrow_t& tag) noexcept {
  return operator new(n, tag);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace vyxbench {

AllocationCounter::AllocationCounter() { t_count = ThreadCount{true, 0, 0}; }
AllocationCounter::~AllocationCounter() { t_count.on = false; }
uint64_t AllocationCounter::heapAllocations() const { return t_count.heap; }
uint64_t AllocationCounter::newCalls() const { return t_count.news; }
bool AllocationCounter::mallocWrapped() { return VYX_BENCH_WRAP_MALLOC != 0; }

}  // namespace vyxbench
