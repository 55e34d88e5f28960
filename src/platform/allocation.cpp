// The global allocation functions, replaced so that running out of memory after start-up is
// reported with the size asked for ("memory allocation of N bytes failed") and aborts, rather
// than surfacing as an exception nobody catches. Before start(), and in programs that never call
// it (the tests), a failure throws std::bad_alloc as usual. Memory comes from malloc, so new and
// delete stay paired however the program was linked.
#include <cstdlib>
#include <new>

#include "platform/fatal.hpp"

namespace {

// Null only for the nothrow forms; the others report (after start) or throw.
void* allocate(std::size_t size, bool null_on_failure) {
  if (size == 0) size = 1;
  for (;;) {
    if (void* memory = std::malloc(size)) return memory;
    if (std::new_handler handler = std::get_new_handler()) {
      handler();  // may free memory, or throw
      continue;
    }
    if (null_on_failure) return nullptr;
    if (platform::detail::allocation_failure_is_fatal.load(std::memory_order_relaxed)) {
      platform::detail::report_allocation_failure(size);
    }
    throw std::bad_alloc();
  }
}

void* allocate_or_null(std::size_t size) noexcept {
  try {
    return allocate(size, true);
  } catch (const std::bad_alloc&) {
    return nullptr;  // thrown by a new handler
  }
}

}  // namespace

void* operator new(std::size_t size) { return allocate(size, false); }
void* operator new[](std::size_t size) { return allocate(size, false); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate_or_null(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate_or_null(size); }

void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
