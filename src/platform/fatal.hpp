// Fatal reports: the texts written to standard error when the process stops outside the logic's
// own error handling, and the hooks through which the shared part reaches its backend.
// Reports made after memory ran out or on an overflowed stack are built without allocating.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <source_location>
#include <string>
#include <string_view>

namespace platform {

// A bounded text on the stack; what does not fit is cut off.
template <std::size_t N>
class FixedText {
 public:
  FixedText& append(std::string_view text) {
    const std::size_t n = text.size() < N - size_ ? text.size() : N - size_;
    for (std::size_t i = 0; i < n; ++i) data_[size_ + i] = text[i];
    size_ += n;
    return *this;
  }
  FixedText& append_decimal(std::uint64_t value) {
    char digits[20];
    std::size_t n = 0;
    do {
      digits[n++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
    while (n > 0 && size_ < N) data_[size_++] = digits[--n];
    return *this;
  }
  FixedText& append_hex(std::uint64_t value, int width) {
    for (int shift = (width - 1) * 4; shift >= 0 && size_ < N; shift -= 4) {
      data_[size_++] = "0123456789abcdef"[(value >> shift) & 0xF];
    }
    return *this;
  }
  std::string_view view() const { return std::string_view(data_, size_); }

 private:
  char data_[N];
  std::size_t size_ = 0;
};

// The source file as shown in a report: from its "src/" (or else "tests/") folder on, so that no
// build path appears. A path without either is shown unchanged.
std::string_view relative_source_file(std::string_view file);

// "\nthread 'main' ({thread_id}) panicked at {file}:{line}:{column}:\n{message}\n"
std::string fatal_report(std::uint64_t thread_id, const std::source_location& where, std::string_view message);

// "\nthread 'main' ({thread_id}) has overflowed its stack\n"
FixedText<96> stack_overflow_report(std::uint64_t thread_id);

// "memory allocation of {size} bytes failed\n"
FixedText<64> allocation_failure_report(std::uint64_t size);

// The line that follows the first report when no backtrace is asked for.
inline constexpr std::string_view backtrace_hint =
    "note: run with `ZARVO_BACKTRACE=1` environment variable to display a backtrace\n";

// Whether the value of ZARVO_BACKTRACE asks for a backtrace: set, not empty and not "0".
bool backtrace_requested(std::optional<std::string_view> value);

namespace detail {

// Writes the hint, or the backtrace when asked for, after the first report of the process only.
void write_backtrace_or_hint();

// After start(): a failed allocation reports and aborts instead of throwing std::bad_alloc.
extern std::atomic<bool> allocation_failure_is_fatal;
[[noreturn]] void report_allocation_failure(std::size_t size);

// ---- provided by each backend ----
// Writes to standard error as best it can; never fails and never allocates.
void write_stderr_raw(std::string_view text);
std::uint64_t current_thread_id();
// The value of ZARVO_BACKTRACE, cut to the buffer, read without allocating.
std::optional<std::string_view> backtrace_variable(char (&buffer)[32]);
// Writes "stack backtrace:" and the return addresses of the calling thread.
void write_backtrace();
// Ends the process at once: no flush, no further output.
[[noreturn]] void abort_process();

}  // namespace detail

}  // namespace platform
