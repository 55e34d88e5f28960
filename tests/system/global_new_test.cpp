// The global allocation functions. The setup replaces them (src/platform/allocation.cpp) with
// malloc and free underneath; they must keep the standard's contract for failures, the new
// handler and empty requests. A sanitizer build keeps the runtime's own, so that AddressSanitizer
// can tell memory from new apart from memory from malloc and report a release by the wrong
// function.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

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

#ifndef ZARVO_ADDRESS_SANITIZER
// (AddressSanitizer refuses an impossible request itself rather than failing it.)
namespace {

// More than any system gives.
constexpr std::size_t impossible = std::size_t{1} << 62;

int handler_calls = 0;

void give_up_on_third_call() {
  if (++handler_calls == 3) std::set_new_handler(nullptr);
}

void throw_on_third_call() {
  if (++handler_calls == 3) throw std::bad_alloc();
}

// Installs a new handler for a scope and puts the previous one back.
class ScopedNewHandler {
 public:
  explicit ScopedNewHandler(std::new_handler handler) : previous_(std::set_new_handler(handler)) { handler_calls = 0; }
  ~ScopedNewHandler() { std::set_new_handler(previous_); }

 private:
  std::new_handler previous_;
};

TEST(GlobalNew, AFailedRequestGivesNullToTheNothrowFormsAndThrowsFromTheOthers) {
  EXPECT_EQ(::operator new(impossible, std::nothrow), nullptr);
  EXPECT_EQ(::operator new[](impossible, std::nothrow), nullptr);
  EXPECT_THROW(static_cast<void>(::operator new(impossible)), std::bad_alloc);
  EXPECT_THROW(static_cast<void>(::operator new[](impossible)), std::bad_alloc);
}

TEST(GlobalNew, TheNewHandlerIsCalledAfterEveryFailureUntilItGivesUpOrThrows) {
  {
    ScopedNewHandler scoped(give_up_on_third_call);
    EXPECT_EQ(::operator new(impossible, std::nothrow), nullptr);
    EXPECT_EQ(handler_calls, 3);
  }
  {
    ScopedNewHandler scoped(give_up_on_third_call);
    EXPECT_THROW(static_cast<void>(::operator new[](impossible)), std::bad_alloc);
    EXPECT_EQ(handler_calls, 3);
  }
  {
    // What the handler throws reaches the caller of a throwing form, and a nothrow form gives null.
    ScopedNewHandler scoped(throw_on_third_call);
    EXPECT_EQ(::operator new[](impossible, std::nothrow), nullptr);
    EXPECT_EQ(handler_calls, 3);
    handler_calls = 0;
    EXPECT_THROW(static_cast<void>(::operator new(impossible)), std::bad_alloc);
    EXPECT_EQ(handler_calls, 3);
  }
}

TEST(GlobalNew, ZeroBytesAreAnAllocationOfTheirOwn) {
  void* const first = ::operator new(0);
  void* const second = ::operator new[](0);
  void* const third = ::operator new(0, std::nothrow);
  EXPECT_NE(first, nullptr);
  EXPECT_NE(second, nullptr);
  EXPECT_NE(third, nullptr);
  EXPECT_NE(first, second);
  EXPECT_NE(first, third);
  EXPECT_NE(second, third);
  ::operator delete(first);
  ::operator delete[](second);
  ::operator delete(third, std::nothrow);
}

}  // namespace
#endif
