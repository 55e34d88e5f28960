// How long tree removal waits before trying an entry again that another program holds for a
// moment: antivirus, backup and indexing tools often keep a fresh file open for tens of
// milliseconds. The waits begin at 1 ms and double up to 256 ms, until that entry has waited
// about three seconds; one removal waits ten seconds at most in all, so that a tree full of
// entries held for good is given up in reasonable time.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>

namespace platform {

inline constexpr std::uint32_t retry_first_wait_ms = 1;
inline constexpr std::uint32_t retry_longest_wait_ms = 256;
inline constexpr std::uint32_t entry_wait_budget_ms = 3000;
inline constexpr std::uint32_t removal_wait_budget_ms = 10000;

// The attempts at one entry so far.
struct RetrySeries {
  std::uint32_t next_wait_ms = retry_first_wait_ms;
  std::uint32_t waited_ms = 0;
};

// The waits of one removal.
class RetryWaits {
 public:
  // The wait before the next attempt at the entry, counted as waited; none when the entry's or
  // the removal's time is up.
  std::optional<std::uint32_t> next(RetrySeries& entry) {
    if (entry.waited_ms >= entry_wait_budget_ms || waited_ms_ >= removal_wait_budget_ms) return std::nullopt;
    const std::uint32_t wait = entry.next_wait_ms;
    entry.next_wait_ms = std::min(wait * 2, retry_longest_wait_ms);
    entry.waited_ms += wait;
    waited_ms_ += wait;
    return wait;
  }

 private:
  std::uint32_t waited_ms_ = 0;
};

}  // namespace platform
