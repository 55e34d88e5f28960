// The process as a whole on POSIX: temporary directory, process id, environment, sleeping and
// the exit.
#include "platform/runtime.hpp"

#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <limits>

#include "platform/console/console.hpp"

namespace platform {

// TMPDIR, else /tmp; always with a trailing separator, as Windows gives its temporary directory.
std::string temp_directory() {
  const char* configured = std::getenv("TMPDIR");
  std::string path = configured != nullptr && *configured != '\0' ? configured : "/tmp/";
  if (!path.ends_with('/')) path += '/';
  return path;
}

std::uint32_t current_process_id() { return static_cast<std::uint32_t>(::getpid()); }

std::optional<std::string> environment_variable(std::string_view name) {
  // getenv would match "A=B" against a variable A whose value begins with "B=".
  if (name.empty() || name.find('\0') != std::string_view::npos || name.find('=') != std::string_view::npos) {
    return std::nullopt;
  }
  const char* value = std::getenv(std::string(name).c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

void sleep_for(std::uint64_t seconds, std::uint32_t nanoseconds) {
  if (seconds == 0 && nanoseconds == 0) {
    ::sched_yield();
    return;
  }
  seconds += nanoseconds / 1'000'000'000;
  constexpr std::uint64_t max_seconds = static_cast<std::uint64_t>(std::numeric_limits<std::time_t>::max());
  timespec remaining{static_cast<std::time_t>(seconds < max_seconds ? seconds : max_seconds),
                     static_cast<long>(nanoseconds % 1'000'000'000)};
  // A signal cuts the sleep short; what is left is slept again.
  while (::nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}

void exit_process(std::uint32_t code) {
  static std::atomic<bool> finished{false};
  if (!finished.exchange(true)) finish_stdout();
  detail::write_coverage_counters();
  ::_exit(static_cast<int>(code));
}

}  // namespace platform
