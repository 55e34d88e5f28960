// The standard streams' raw reads and writes, and sleeping, when the calls under them are
// interrupted or fail.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "faults/posix/fault_support.hpp"
#include "faults/posix/libc_faults.hpp"
#include "platform/console/raw.hpp"
#include "platform/runtime.hpp"

namespace {

using faults::Armed;
using faults::Call;
using fault_test::expect_failure;
using platform::ErrorKind;
using platform::PlatformError;
using platform::raw::OutputStream;

using Lines = std::vector<std::string>;

// One of the standard descriptors replaced by one end of a pipe for the guard's lifetime.
class Redirected {
 public:
  Redirected(int standard, int replacement) : standard_(standard), saved_(::dup(standard)) {
    std::fflush(nullptr);
    ::dup2(replacement, standard);
  }
  ~Redirected() {
    ::dup2(saved_, standard_);
    ::close(saved_);
  }
  Redirected(const Redirected&) = delete;
  Redirected& operator=(const Redirected&) = delete;

 private:
  int standard_;
  int saved_;
};

struct Pipe {
  Pipe() { EXPECT_EQ(::pipe(ends.data()), 0); }
  ~Pipe() {
    for (int end : ends) {
      if (end >= 0) ::close(end);
    }
  }
  void close(int which) {
    ::close(ends[which]);
    ends[which] = -1;
  }
  std::string drain() {
    close(1);
    std::string text;
    char buffer[256];
    for (ssize_t n; (n = ::read(ends[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
    return text;
  }
  std::array<int, 2> ends{-1, -1};
};

bool sigpipe_pending() {
  sigset_t pending;
  ::sigpending(&pending);
  return ::sigismember(&pending, SIGPIPE) == 1;
}

bool sigpipe_blocked() {
  sigset_t mask;
  ::pthread_sigmask(SIG_BLOCK, nullptr, &mask);
  return ::sigismember(&mask, SIGPIPE) == 1;
}

// ---- writes ------------------------------------------------------------------------------------

TEST(RawStreamFaults, AnInterruptedWriteIsMadeAgain) {
  Pipe pipe;
  platform::ConsoleUtf8Writer carry;
  platform::Result<std::size_t> written;
  Lines log;
  {
    Redirected out(STDOUT_FILENO, pipe.ends[1]);
    Armed fault({.call = Call::write, .error = EINTR, .times = 2});
    written = platform::raw::write(OutputStream::Stdout, "hello", carry);
    log = fault.log();
  }
  ASSERT_TRUE(written) << platform::error_text(written.error());
  EXPECT_EQ(*written, 5u);
  EXPECT_EQ(log, (Lines{"write 5", "write 5", "write 5"}));
  EXPECT_EQ(pipe.drain(), "hello");
}

// The SIGPIPE a write into a closed pipe raises is taken back, even when taking it back is
// interrupted, and the signal mask is as before.
TEST(RawStreamFaults, AnInterruptedTakingBackOfTheBrokenPipeSignalIsMadeAgain) {
  ASSERT_FALSE(sigpipe_pending());
  ASSERT_FALSE(sigpipe_blocked());
  Pipe pipe;
  pipe.close(0);
  platform::ConsoleUtf8Writer carry;
  platform::Result<std::size_t> written;
  Lines log;
  {
    Redirected err(STDERR_FILENO, pipe.ends[1]);
    Armed fault({.call = Call::sigtimedwait, .error = EINTR, .times = 2});
    written = platform::raw::write(OutputStream::Stderr, "lost", carry);
    log = fault.log();
  }
  expect_failure(written, PlatformError::os(EPIPE), ErrorKind::BrokenPipe, "Broken pipe (os error 32)");
  EXPECT_EQ(log, (Lines{"sigtimedwait", "sigtimedwait", "sigtimedwait"}));
  EXPECT_FALSE(sigpipe_pending());
  EXPECT_FALSE(sigpipe_blocked());
}

// A SIGPIPE already waiting before the write is not the write's own: it is left waiting.
TEST(RawStreamFaults, ABrokenPipeSignalPendingBeforehandIsLeftPending) {
  sigset_t sigpipe, previous;
  ::sigemptyset(&sigpipe);
  ::sigaddset(&sigpipe, SIGPIPE);
  ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &sigpipe, &previous), 0);
  ASSERT_EQ(::pthread_kill(::pthread_self(), SIGPIPE), 0);
  ASSERT_TRUE(sigpipe_pending());

  Pipe pipe;
  pipe.close(0);
  platform::ConsoleUtf8Writer carry;
  platform::Result<std::size_t> written;
  int taking_back = -1;
  {
    Redirected err(STDERR_FILENO, pipe.ends[1]);
    Armed watched({.call = Call::sigtimedwait, .times = 0});
    written = platform::raw::write(OutputStream::Stderr, "lost", carry);
    taking_back = watched.calls();
  }
  expect_failure(written, PlatformError::os(EPIPE), ErrorKind::BrokenPipe, "Broken pipe (os error 32)");
  EXPECT_EQ(taking_back, 0);
  EXPECT_TRUE(sigpipe_pending());
  EXPECT_TRUE(sigpipe_blocked());

  const timespec no_wait{};
  EXPECT_EQ(::sigtimedwait(&sigpipe, nullptr, &no_wait), SIGPIPE);
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

// A broken pipe reported without its signal (as the write fault gives it here): looking for the
// signal to take back finds none, and nothing else changes.
TEST(RawStreamFaults, ABrokenPipeWithoutItsSignalLeavesNothingToTakeBack) {
  Pipe pipe;
  platform::ConsoleUtf8Writer carry;
  platform::Result<std::size_t> written;
  Lines writes, looks;
  {
    Redirected err(STDERR_FILENO, pipe.ends[1]);
    Armed fault({.call = Call::write, .error = EPIPE});
    Armed watched({.call = Call::sigtimedwait, .times = 0});
    written = platform::raw::write(OutputStream::Stderr, "lost", carry);
    writes = fault.log();
    looks = watched.log();
  }
  expect_failure(written, PlatformError::os(EPIPE), ErrorKind::BrokenPipe, "Broken pipe (os error 32)");
  EXPECT_EQ(writes, Lines{"write 4"});
  EXPECT_EQ(looks, Lines{"sigtimedwait"});
  EXPECT_FALSE(sigpipe_pending());
  EXPECT_FALSE(sigpipe_blocked());
  EXPECT_EQ(pipe.drain(), "");
}

// ---- reads -------------------------------------------------------------------------------------

TEST(RawStreamFaults, AnInterruptedReadIsMadeAgain) {
  Pipe pipe;
  ASSERT_EQ(::write(pipe.ends[1], "abc", 3), 3);
  pipe.close(1);
  platform::ConsoleUtf16Reader carry;
  std::array<char, 16> out{};
  platform::Result<std::size_t> read;
  Lines log;
  {
    Redirected in(STDIN_FILENO, pipe.ends[0]);
    Armed fault({.call = Call::read, .error = EINTR, .times = 2});
    read = platform::raw::read_stdin(out, carry);
    log = fault.log();
  }
  ASSERT_TRUE(read) << platform::error_text(read.error());
  EXPECT_EQ(std::string(out.data(), *read), "abc");
  EXPECT_EQ(log, (Lines{"read 16", "read 16", "read 16"}));
}

TEST(RawStreamFaults, AFailingReadGivesItsError) {
  Pipe pipe;
  platform::ConsoleUtf16Reader carry;
  std::array<char, 16> out{};
  platform::Result<std::size_t> read;
  Lines log;
  {
    Redirected in(STDIN_FILENO, pipe.ends[0]);
    Armed fault({.call = Call::read, .error = EIO});
    read = platform::raw::read_stdin(out, carry);
    log = fault.log();
  }
  expect_failure(read, PlatformError::os(EIO), ErrorKind::Uncategorized, "Input/output error (os error 5)");
  EXPECT_EQ(log, Lines{"read 16"});
}

// ---- sleeping ----------------------------------------------------------------------------------

TEST(SleepFaults, AnInterruptedSleepSleepsWhatIsLeft) {
  Armed fault({.call = Call::nanosleep, .error = EINTR, .times = 2});
  platform::sleep_for(0, 2'000'000);
  // Each interruption here comes halfway through.
  EXPECT_EQ(fault.log(), (Lines{"nanosleep 0.002000000", "nanosleep 0.001000000", "nanosleep 0.000500000"}));
}

TEST(SleepFaults, AFailingSleepIsNotMadeAgain) {
  struct Case {
    std::uint64_t seconds;
    std::uint32_t nanoseconds;
    const char* asked;
  };
  // Whole seconds in the nanoseconds move over; more seconds than time_t holds are cut to its most.
  for (const Case& c : {Case{1, 1'500'000'001, "nanosleep 2.500000001"},
                        Case{std::numeric_limits<std::uint64_t>::max(), 7, "nanosleep 9223372036854775807.000000007"}}) {
    SCOPED_TRACE(c.asked);
    Armed fault({.call = Call::nanosleep, .error = EINVAL});
    platform::sleep_for(c.seconds, c.nanoseconds);
    EXPECT_EQ(fault.log(), Lines{c.asked});
  }
}

}  // namespace
