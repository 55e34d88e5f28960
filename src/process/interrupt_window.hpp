// When the setup leaves Ctrl+C and Ctrl+Break to the child it waits for: from the start of the
// wait until a moment after its end. The system hands such an event to every process on the
// console on a thread of its own, so the setup's copy of an interrupt that ended the child can
// arrive after the wait has returned; the moment keeps that copy from ending the setup before it
// reports. Closing the window, logging off and shutting down are never left to the child.
#pragma once

#include <atomic>
#include <cstdint>
#include <limits>

namespace process {

class InterruptWindow {
 public:
  static constexpr std::uint64_t grace_ms = 1000;

  void open() { closes_at_ms_.store(std::numeric_limits<std::uint64_t>::max()); }
  void close(std::uint64_t now_ms) { closes_at_ms_.store(now_ms + grace_ms); }
  // Whether an event (an interrupt, or another console event) is left to the child at `now_ms`.
  bool leaves_to_child(bool interrupt, std::uint64_t now_ms) const { return interrupt && now_ms < closes_at_ms_.load(); }

 private:
  std::atomic<std::uint64_t> closes_at_ms_{0};
};

}  // namespace process
