// A sleep's length in the units the system calls take, rounded up so that a sleep never ends
// early, and saturating instead of wrapping for absurd lengths.
#pragma once

#include <cstdint>
#include <limits>

namespace platform {

// Whole seconds and nanoseconds (which may exceed one second) in 100-ns units, as a waitable
// timer's due time wants them.
constexpr std::int64_t timer_units(std::uint64_t seconds, std::uint64_t nanoseconds) {
  constexpr std::uint64_t max = std::numeric_limits<std::int64_t>::max();
  const std::uint64_t from_nanoseconds = nanoseconds / 100 + (nanoseconds % 100 != 0 ? 1 : 0);
  if (seconds > (max - from_nanoseconds) / 10'000'000) return static_cast<std::int64_t>(max);
  return static_cast<std::int64_t>(seconds * 10'000'000 + from_nanoseconds);
}

constexpr std::uint64_t whole_milliseconds(std::uint64_t seconds, std::uint64_t nanoseconds) {
  constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
  const std::uint64_t from_nanoseconds = nanoseconds / 1'000'000 + (nanoseconds % 1'000'000 != 0 ? 1 : 0);
  if (seconds > (max - from_nanoseconds) / 1000) return max;
  return seconds * 1000 + from_nanoseconds;
}

constexpr std::uint64_t total_nanoseconds(std::uint64_t seconds, std::uint64_t nanoseconds) {
  constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
  if (seconds > (max - nanoseconds) / 1'000'000'000) return max;
  return seconds * 1'000'000'000 + nanoseconds;
}

}  // namespace platform
