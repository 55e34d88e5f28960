// A sleep's length in system units: rounded up, never wrapped. The waits of tree removal between
// attempts at an entry another program holds (the fault tests show one entry's waits).
#include "platform/sleep_duration.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "platform/retry_waits.hpp"

namespace {

TEST(SleepDuration, FifteenSecondsIs150MillionTimerUnitsOr15000Milliseconds) {
  EXPECT_EQ(platform::timer_units(15, 0), 150'000'000);
  EXPECT_EQ(platform::whole_milliseconds(15, 0), 15'000u);
  EXPECT_EQ(platform::total_nanoseconds(15, 0), 15'000'000'000u);
}

TEST(SleepDuration, PartialUnitsRoundUpSoASleepNeverEndsEarly) {
  EXPECT_EQ(platform::timer_units(0, 1), 1);
  EXPECT_EQ(platform::timer_units(0, 100), 1);
  EXPECT_EQ(platform::timer_units(0, 101), 2);
  EXPECT_EQ(platform::timer_units(1, 999'999'999), 20'000'000);
  EXPECT_EQ(platform::whole_milliseconds(0, 1), 1u);
  EXPECT_EQ(platform::whole_milliseconds(0, 1'000'000), 1u);
  EXPECT_EQ(platform::whole_milliseconds(0, 1'000'001), 2u);
  EXPECT_EQ(platform::whole_milliseconds(2, 500'000'000), 2'500u);
}

TEST(SleepDuration, HugeLengthsSaturate) {
  constexpr auto max_u64 = std::numeric_limits<std::uint64_t>::max();
  EXPECT_EQ(platform::timer_units(max_u64, 999'999'999), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(platform::timer_units(922'337'203'685, 0), 9'223'372'036'850'000'000);
  EXPECT_EQ(platform::whole_milliseconds(max_u64, 0), max_u64);
  EXPECT_EQ(platform::total_nanoseconds(max_u64 / 1'000'000'000, max_u64), max_u64);
}

TEST(RetryWaits, EveryEntryStartsShortUntilTheRemovalHasWaitedTenSeconds) {
  platform::RetryWaits removal;
  const auto waits_for_one_entry = [&] {
    platform::RetrySeries entry;
    std::vector<std::uint32_t> waits;
    while (const auto wait = removal.next(entry)) waits.push_back(*wait);
    return waits;
  };
  for (int i = 0; i < 3; ++i) EXPECT_EQ(waits_for_one_entry().size(), 19u);  // 3071 ms each
  EXPECT_EQ(waits_for_one_entry(), (std::vector<std::uint32_t>{1, 2, 4, 8, 16, 32, 64, 128, 256, 256, 256}));
  EXPECT_EQ(waits_for_one_entry(), std::vector<std::uint32_t>{});
}

}  // namespace
