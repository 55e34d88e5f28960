// Start-up's stack-overflow watch and the fatal report's raw writes when the calls under them fail.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <string>
#include <vector>

#include "faults/posix/libc_faults.hpp"
#include "platform/fatal.hpp"
#include "platform/runtime.hpp"

namespace {

using faults::Act;
using faults::Armed;
using faults::Call;
using faults::every;

using Lines = std::vector<std::string>;

// ---- the raw writes of a fatal report ----------------------------------------------------------

// Standard error replaced by a pipe for the guard's lifetime; `text()` is what reached it.
class CapturedStderr {
 public:
  CapturedStderr() {
    EXPECT_EQ(::pipe(ends_.data()), 0);
    saved_ = ::dup(STDERR_FILENO);
    ::dup2(ends_[1], STDERR_FILENO);
  }
  ~CapturedStderr() {
    restore();
    ::close(ends_[0]);
  }
  std::string text() {
    restore();
    std::string text;
    char buffer[256];
    for (ssize_t n; (n = ::read(ends_[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
    return text;
  }

 private:
  void restore() {
    if (saved_ < 0) return;
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
    ::close(ends_[1]);
    saved_ = -1;
  }
  std::array<int, 2> ends_{-1, -1};
  int saved_ = -1;
};

TEST(FatalWriteFaults, AnInterruptedWriteIsMadeAgain) {
  CapturedStderr err;
  Lines log;
  {
    Armed fault({.call = Call::write, .error = EINTR, .times = 2});
    platform::detail::write_stderr_raw("report\n");
    log = fault.log();
  }
  EXPECT_EQ(err.text(), "report\n");
  EXPECT_EQ(log, (Lines{"write 7", "write 7", "write 7"}));
}

// Nothing can be reported about a report that cannot be written: the writes stop at once.
TEST(FatalWriteFaults, AFailingOrEmptyWriteEndsTheReportQuietly) {
  for (const faults::Fault& fault : {faults::Fault{.call = Call::write, .error = EIO, .times = every},
                                     faults::Fault{.call = Call::write, .times = every, .act = Act::ReturnZero}}) {
    SCOPED_TRACE(fault.act == Act::ReturnZero ? "nothing written" : "failed");
    CapturedStderr err;
    Lines log;
    {
      Armed armed(fault);
      platform::detail::write_stderr_raw("report\n");
      log = armed.log();
    }
    EXPECT_EQ(err.text(), "");
    EXPECT_EQ(log, Lines{"write 7"});
  }
}

// ---- the stack-overflow watch --------------------------------------------------------------------

// What start-up leaves as the SIGSEGV and SIGBUS handlers, seen from inside the body it runs, in a
// child process (start-up ends the process), with `fault` armed there. 1: both changed; 0: both
// left as they were; 2: anything else.
int handlers_changed_by_start(const faults::Fault* fault) {
  static struct sigaction before_segv, before_bus;
  ::sigaction(SIGSEGV, nullptr, &before_segv);
  ::sigaction(SIGBUS, nullptr, &before_bus);
  const pid_t child = ::fork();
  if (child == 0) {
    if (fault) new Armed(*fault);  // lives until the child ends
    platform::start([]() -> std::uint32_t {
      struct sigaction segv, bus;
      ::sigaction(SIGSEGV, nullptr, &segv);
      ::sigaction(SIGBUS, nullptr, &bus);
      const bool segv_changed = segv.sa_sigaction != before_segv.sa_sigaction;
      const bool bus_changed = bus.sa_sigaction != before_bus.sa_sigaction;
      return segv_changed && bus_changed ? 1 : !segv_changed && !bus_changed ? 0 : 2;
    });
  }
  int status = 0;
  EXPECT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status));
  return WEXITSTATUS(status);
}

TEST(StackWatchFaults, WithoutItsStackOrAnAlternateStackStartUpLeavesTheHandlersAlone) {
  ASSERT_EQ(handlers_changed_by_start(nullptr), 1) << "the watch is not set up even without a fault";
  for (const faults::Fault& fault : {faults::Fault{.call = Call::pthread_getattr_np, .error = ENOMEM},
                                     faults::Fault{.call = Call::pthread_attr_getstack, .error = EINVAL},
                                     faults::Fault{.call = Call::sigaltstack, .error = ENOMEM}}) {
    SCOPED_TRACE(static_cast<int>(fault.call));
    EXPECT_EQ(handlers_changed_by_start(&fault), 0);
  }
}

}  // namespace
