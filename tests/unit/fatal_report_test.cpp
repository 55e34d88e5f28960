// The fatal reports' texts, built apart from the stop itself.
#include "platform/fatal.hpp"

#include <gtest/gtest.h>

namespace {

TEST(FatalReport, NamesTheMainThreadItsIdTheRelativeLocationAndTheMessage) {
  const std::source_location here = std::source_location::current();
  EXPECT_EQ(platform::fatal_report(4242, here, "failed printing to stdout: broken pipe (os error 109)"),
            "\nthread 'main' (4242) panicked at tests/unit/fatal_report_test.cpp:" + std::to_string(here.line()) +
                ":" + std::to_string(here.column()) +
                ":\nfailed printing to stdout: broken pipe (os error 109)\n");
}

TEST(FatalReport, SourceFilesAreShownFromTheirSourceFolderOn) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"/home/ci/build/zarvo/src/platform/windows/runtime.cpp", "src/platform/windows/runtime.cpp"},
      {"C:\\work\\zarvo\\src\\setup\\run.cpp", "src\\setup\\run.cpp"},
      {"src/setup/run.cpp", "src/setup/run.cpp"},
      {"/usr/src/checkout/src/setup/run.cpp", "src/setup/run.cpp"},
      {"/work/zarvo/tests/system/fatal_stop_test.cpp", "tests/system/fatal_stop_test.cpp"},
      {"/work/mysrc/main.cpp", "/work/mysrc/main.cpp"},
      {"main.cpp", "main.cpp"},
  };
  for (const auto& [file, shown] : cases) {
    SCOPED_TRACE(file);
    EXPECT_EQ(platform::relative_source_file(file), shown);
  }
}

TEST(FatalReport, StackOverflowAndAllocationReportsAreExact) {
  EXPECT_EQ(platform::stack_overflow_report(1234).view(), "\nthread 'main' (1234) has overflowed its stack\n");
  EXPECT_EQ(platform::allocation_failure_report(0).view(), "memory allocation of 0 bytes failed\n");
  EXPECT_EQ(platform::allocation_failure_report(18446744073709551615u).view(),
            "memory allocation of 18446744073709551615 bytes failed\n");
}

TEST(FatalReport, TheBacktraceIsAskedForByAnyValueButEmptyAndZero) {
  EXPECT_FALSE(platform::backtrace_requested(std::nullopt));
  EXPECT_FALSE(platform::backtrace_requested(""));
  EXPECT_FALSE(platform::backtrace_requested("0"));
  EXPECT_TRUE(platform::backtrace_requested("1"));
  EXPECT_TRUE(platform::backtrace_requested("full"));
  EXPECT_EQ(platform::backtrace_hint,
            "note: run with `ZARVO_BACKTRACE=1` environment variable to display a backtrace\n");
}

}  // namespace
