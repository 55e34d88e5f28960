// Fatal stops and their reports; the same on every backend.
#include "platform/fatal.hpp"

#include "platform/runtime.hpp"

namespace platform {

namespace {

bool is_separator(char c) { return c == '/' || c == '\\'; }

// The start of the last component named `folder` that has more path after it, or npos.
std::size_t last_folder(std::string_view file, std::string_view folder) {
  std::size_t found = std::string_view::npos;
  for (std::size_t at = file.find(folder); at != std::string_view::npos; at = file.find(folder, at + 1)) {
    const std::size_t end = at + folder.size();
    if ((at == 0 || is_separator(file[at - 1])) && end < file.size() && is_separator(file[end])) found = at;
  }
  return found;
}

}  // namespace

std::string_view relative_source_file(std::string_view file) {
  std::size_t at = last_folder(file, "src");
  if (at == std::string_view::npos) at = last_folder(file, "tests");
  return at == std::string_view::npos ? file : file.substr(at);
}

std::string fatal_report(std::uint64_t thread_id, const std::source_location& where, std::string_view message) {
  std::string report = "\nthread 'main' (" + std::to_string(thread_id) + ") panicked at ";
  report += relative_source_file(where.file_name());
  report += ':' + std::to_string(where.line()) + ':' + std::to_string(where.column()) + ":\n";
  report += message;
  report += '\n';
  return report;
}

FixedText<96> stack_overflow_report(std::uint64_t thread_id) {
  FixedText<96> text;
  text.append("\nthread 'main' (").append_decimal(thread_id).append(") has overflowed its stack\n");
  return text;
}

FixedText<64> allocation_failure_report(std::uint64_t size) {
  FixedText<64> text;
  text.append("memory allocation of ").append_decimal(size).append(" bytes failed\n");
  return text;
}

bool backtrace_requested(std::optional<std::string_view> value) {
  return value && !value->empty() && *value != "0";
}

namespace detail {

std::atomic<bool> allocation_failure_is_fatal{false};

void write_backtrace_or_hint() {
  static std::atomic<bool> reported{false};
  if (reported.exchange(true)) return;
  char buffer[32];
  if (backtrace_requested(backtrace_variable(buffer))) {
    write_backtrace();
  } else {
    write_stderr_raw(backtrace_hint);
  }
}

void report_allocation_failure(std::size_t size) {
  write_stderr_raw(allocation_failure_report(size).view());
  write_backtrace_or_hint();
  abort_process();
}

}  // namespace detail

void fatal_stop(std::string_view message, std::source_location where) {
  // A stop raised while stopping (for example from the final flush) must not loop.
  static std::atomic<bool> stopping{false};
  if (stopping.exchange(true)) {
    detail::write_stderr_raw("fatal runtime error: fatal stop during a fatal stop, aborting\n");
    detail::abort_process();
  }
  detail::write_stderr_raw(fatal_report(detail::current_thread_id(), where, message));
  detail::write_backtrace_or_hint();
  exit_process(101);
}

void fatal_unwrap(const PlatformError& error, std::source_location where) {
  fatal_stop("called `Result::unwrap()` on an `Err` value: " + error_detail(error), where);
}

}  // namespace platform
