// The process-wide operations against the real system.
#include "platform/runtime.hpp"

#include <gtest/gtest.h>

#include <chrono>

#include "platform/path.hpp"
#include "system/process_harness.hpp"

namespace {

using platform_test::ScopedVariable;

TEST(EnvironmentVariable, AnEmptyValueIsPresentAndAnUnsetVariableAbsent) {
  ScopedVariable empty("ZARVO_TEST_EMPTY", "");
  ScopedVariable unset("ZARVO_TEST_UNSET", std::nullopt);
  EXPECT_EQ(platform::environment_variable("ZARVO_TEST_EMPTY"), std::optional<std::string>(""));
  EXPECT_EQ(platform::environment_variable("ZARVO_TEST_UNSET"), std::nullopt);
}

TEST(EnvironmentVariable, ValuesComeBackWholeWhateverTheirLengthAndLetters) {
  const std::string long_value(5000, 'v');
  const std::string letters = "C:\\Users\\Bj\xC3\xB6rn \xE2\x82\xAC\\\xF0\x9F\x98\x80";
  ScopedVariable long_variable("ZARVO_TEST_LONG", long_value);
  ScopedVariable letters_variable("ZARVO_TEST_LETTERS", letters);
  EXPECT_EQ(platform::environment_variable("ZARVO_TEST_LONG"), long_value);
  EXPECT_EQ(platform::environment_variable("ZARVO_TEST_LETTERS"), letters);
}

TEST(EnvironmentVariable, ANameWithANulIsAbsentWithoutALookup) {
  ScopedVariable set("ZARVO_TEST_NUL", "value");
  using namespace std::string_literals;
  EXPECT_EQ(platform::environment_variable("ZARVO_TEST_NUL\0"s), std::nullopt);
  EXPECT_EQ(platform::environment_variable("ZARVO_TEST_NUL\0x"s), std::nullopt);
  EXPECT_EQ(platform::environment_variable(""), std::nullopt);
}

// A name with "=" names no variable: "A=B" must not find A through a value that begins with "B=".
TEST(EnvironmentVariable, ANameHoldingAnEqualsSignIsAbsent) {
  ScopedVariable set("ZARVO_TEST_EQ", "B=value");
  EXPECT_EQ(platform::environment_variable("ZARVO_TEST_EQ"), std::optional<std::string>("B=value"));
  EXPECT_EQ(platform::environment_variable("ZARVO_TEST_EQ=B"), std::nullopt);
  EXPECT_EQ(platform::environment_variable("="), std::nullopt);
}

TEST(TempDirectory, IsAnAbsolutePathEndingInASeparator) {
  const std::string directory = platform::temp_directory();
  ASSERT_FALSE(directory.empty());
#ifdef _WIN32
  EXPECT_EQ(directory.back(), '\\');
#else
  EXPECT_EQ(directory.back(), '/');
#endif
#ifdef _WIN32
  ASSERT_GE(directory.size(), 3u);
  EXPECT_EQ(directory.substr(1, 2), ":\\") << directory;
#else
  EXPECT_EQ(directory.front(), '/');
#endif
}

TEST(TempDirectory, FollowsTheConfiguredVariableExactly) {
#ifdef _WIN32
  // GetTempPathW (and GetTempPath2W for a user) take TMP first.
  ScopedVariable tmp("TMP", "C:\\zarvo tmp \xC3\xA9");
  EXPECT_EQ(platform::temp_directory(), "C:\\zarvo tmp \xC3\xA9\\");
#else
  {
    ScopedVariable tmpdir("TMPDIR", "/var/zarvo tmp");
    EXPECT_EQ(platform::temp_directory(), "/var/zarvo tmp/");
  }
  {
    ScopedVariable tmpdir("TMPDIR", "/var/zarvo/");
    EXPECT_EQ(platform::temp_directory(), "/var/zarvo/");
  }
  {
    ScopedVariable tmpdir("TMPDIR", std::nullopt);
    EXPECT_EQ(platform::temp_directory(), "/tmp/");
  }
  {
    ScopedVariable tmpdir("TMPDIR", "");  // set but empty: as if unset
    EXPECT_EQ(platform::temp_directory(), "/tmp/");
  }
#endif
}

TEST(CurrentProcessId, IsTheIdTheSystemReports) {
  EXPECT_EQ(platform::current_process_id(), platform_test::process_id_from_system());
}

TEST(SleepFor, AZeroSleepReturnsAndAShortSleepLastsAtLeastItsLength) {
  using Clock = std::chrono::steady_clock;
  const auto zero_start = Clock::now();
  platform::sleep_for(0, 0);
  // A bound far above any scheduler delay: the zero sleep must not turn into a real wait.
  EXPECT_LT(Clock::now() - zero_start, std::chrono::seconds(1));

  for (const auto& [seconds, nanoseconds] : {std::pair<std::uint64_t, std::uint32_t>{0, 30'000'000},
                                             {0, 1'500'000}}) {
    SCOPED_TRACE(std::to_string(seconds) + " s " + std::to_string(nanoseconds) + " ns");
    const auto start = Clock::now();
    platform::sleep_for(seconds, nanoseconds);
    EXPECT_GE(Clock::now() - start, std::chrono::seconds(seconds) + std::chrono::nanoseconds(nanoseconds));
  }
}

}  // namespace
