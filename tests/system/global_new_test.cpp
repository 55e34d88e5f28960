// The global allocation functions in the AddressSanitizer builds. The setup replaces them
// (src/platform/allocation.cpp) with malloc and free underneath; a sanitizer build keeps the
// runtime's own, so that AddressSanitizer can tell memory from new apart from memory from malloc
// and report a release by the wrong function.
#include <gtest/gtest.h>

#include <cstdlib>

#ifndef ZARVO_GLOBAL_NEW_REPLACED
#error "the build says whether it replaces the global operator new (ZARVO_GLOBAL_NEW_REPLACED)"
#endif

#if defined(__SANITIZE_ADDRESS__)
#define ZARVO_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZARVO_ADDRESS_SANITIZER 1
#endif
#endif

#ifdef ZARVO_ADDRESS_SANITIZER
namespace {

[[gnu::noinline]] void free_what_new_gave() {
  int* volatile memory = new int(1);
  std::free(memory);
}

[[gnu::noinline]] void delete_one_of_an_array() {
  int* volatile memory = new int[4]();
  delete memory;
}

TEST(GlobalNew, AddressSanitizerReportsAReleaseByTheWrongFunction) {
#if ZARVO_GLOBAL_NEW_REPLACED
  GTEST_SKIP() << "this sanitizer build replaces operator new (ZARVO_REPLACE_GLOBAL_NEW=ON), so every "
                  "allocation is malloc to AddressSanitizer and no mismatch can be seen";
#endif
  EXPECT_DEATH(free_what_new_gave(), "AddressSanitizer: alloc-dealloc-mismatch \\(operator new vs free\\)");
  EXPECT_DEATH(delete_one_of_an_array(),
               "AddressSanitizer: alloc-dealloc-mismatch \\(operator new \\[\\] vs operator delete\\)");
}

}  // namespace
#endif
