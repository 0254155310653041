// Counts the heap allocations a thread makes. The benchmark binary replaces
// the global operator new and, where no sanitizer owns the allocator, wraps
// malloc, calloc and realloc; the plug-in, loaded into the same process, then
// allocates through them too. Only the thread that holds an
// AllocationCounter is counted: the simulated cameras allocate on threads of
// their own.
#ifndef VYX_BENCH_COUNTING_ALLOCATOR_H
#define VYX_BENCH_COUNTING_ALLOCATOR_H

#include <cstdint>

namespace vyxbench {

class AllocationCounter {
 public:
  AllocationCounter();   // counting on for this thread, from zero
  ~AllocationCounter();  // counting off
  AllocationCounter(const AllocationCounter&) = delete;
  AllocationCounter& operator=(const AllocationCounter&) = delete;

  // Calls of malloc, calloc and realloc (operator new included, it
  // allocates through malloc) on this thread since construction.
  uint64_t heapAllocations() const;
  // Calls of operator new alone.
  uint64_t newCalls() const;
  // False when malloc is not wrapped (sanitizer builds): heapAllocations()
  // then counts operator new only.
  static bool mallocWrapped();
};

}  // namespace vyxbench

#endif
