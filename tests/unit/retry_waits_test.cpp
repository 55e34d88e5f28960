// The waits of tree removal between attempts at an entry held by another program.
#include "platform/retry_waits.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<std::uint32_t> waits_for_one_entry(platform::RetryWaits& removal) {
  platform::RetrySeries entry;
  std::vector<std::uint32_t> waits;
  while (const auto wait = removal.next(entry)) waits.push_back(*wait);
  return waits;
}

TEST(RetryWaits, OneEntryWaitsFromOneMillisecondDoublingTo256UntilAboutThreeSeconds) {
  platform::RetryWaits removal;
  std::vector<std::uint32_t> expected = {1, 2, 4, 8, 16, 32, 64, 128};
  expected.insert(expected.end(), 11, 256);  // 3071 ms in all
  EXPECT_EQ(waits_for_one_entry(removal), expected);
}

TEST(RetryWaits, EveryEntryStartsShortUntilTheRemovalHasWaitedTenSeconds) {
  platform::RetryWaits removal;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(waits_for_one_entry(removal).size(), 19u);  // 9213 ms
  std::vector<std::uint32_t> fourth = {1, 2, 4, 8, 16, 32, 64, 128, 256, 256, 256};  // to 10236 ms
  EXPECT_EQ(waits_for_one_entry(removal), fourth);
  EXPECT_EQ(waits_for_one_entry(removal), std::vector<std::uint32_t>{});
}

}  // namespace
