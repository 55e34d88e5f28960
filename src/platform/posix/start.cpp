// Start-up and the backend of fatal stops on POSIX: the stack-overflow report (a SIGSEGV on the
// main thread's guard region, caught on an alternate stack), raw writes to standard error,
// backtraces and the abort.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>

#if __has_include(<execinfo.h>)
#include <execinfo.h>
#endif

#include "platform/fatal.hpp"
#include "platform/runtime.hpp"

namespace platform {

namespace {

// Faults in [guard_low, guard_high) are taken as the main thread running off its stack.
std::uintptr_t guard_low = 0;
std::uintptr_t guard_high = 0;
alignas(16) char alternate_stack[64 * 1024];

void on_fault(int signal, siginfo_t* info, void*) {
  const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
  if (address >= guard_low && address < guard_high) {
    detail::write_stderr_raw(stack_overflow_report(detail::current_thread_id()).view());
  }
  // With the default action back in place, the fault recurs on return and ends the process.
  struct sigaction default_action = {};
  default_action.sa_handler = SIG_DFL;
  ::sigaction(signal, &default_action, nullptr);
  detail::write_coverage_counters();
}

void watch_for_stack_overflow() {
  pthread_attr_t attributes;
  if (::pthread_getattr_np(::pthread_self(), &attributes) != 0) return;
  void* lowest = nullptr;
  std::size_t size = 0;
  const bool known = ::pthread_attr_getstack(&attributes, &lowest, &size) == 0;
  ::pthread_attr_destroy(&attributes);
  if (!known) return;
  // The kernel keeps a gap of 256 pages below a growing stack; a fault there, or on the lowest
  // page itself, is the stack running out.
  const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto low = reinterpret_cast<std::uintptr_t>(lowest);
  guard_low = low > 256 * page ? low - 256 * page : 0;
  guard_high = low + page;

  stack_t stack = {};
  stack.ss_sp = alternate_stack;
  stack.ss_size = sizeof alternate_stack;
  if (::sigaltstack(&stack, nullptr) != 0) return;
  struct sigaction action = {};
  action.sa_sigaction = on_fault;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  ::sigemptyset(&action.sa_mask);
  ::sigaction(SIGSEGV, &action, nullptr);
  ::sigaction(SIGBUS, &action, nullptr);
}

}  // namespace

namespace detail {

void write_stderr_raw(std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(STDERR_FILENO, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    text.remove_prefix(static_cast<std::size_t>(written));
  }
}

std::uint64_t current_thread_id() { return static_cast<std::uint64_t>(::gettid()); }

std::optional<std::string_view> backtrace_variable(char (&)[32]) {
  const char* value = std::getenv("ZARVO_BACKTRACE");
  if (value == nullptr) return std::nullopt;
  return std::string_view(value);
}

void write_backtrace() {
  write_stderr_raw("stack backtrace:\n");
#if __has_include(<execinfo.h>)
  void* frames[62];
  const int count = ::backtrace(frames, 62);
  for (int i = 1; i < count; ++i) {  // from the caller on
    FixedText<48> line;
    line.append("  ").append_decimal(static_cast<std::uint64_t>(i - 1)).append(": 0x");
    line.append_hex(reinterpret_cast<std::uintptr_t>(frames[i]), 16).append("\n");
    write_stderr_raw(line.view());
  }
#endif
}

void abort_process() {
  write_coverage_counters();
  std::abort();
}

}  // namespace detail

void start(std::uint32_t (*body)()) {
  watch_for_stack_overflow();
  detail::allocation_failure_is_fatal.store(true);
  exit_process(body());
}

}  // namespace platform
