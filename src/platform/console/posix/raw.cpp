// Standard streams on POSIX: every handle takes the raw road, bytes unchanged; there is no
// UTF-16 console, so the console carries are not used.
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "platform/console/raw.hpp"

namespace platform::raw {

namespace {

// A write to a pipe whose reader has gone raises SIGPIPE, which would end the process before
// the failure could be reported. The signal is held back for the call, and the one the call
// raised is taken back, so the write fails with EPIPE like any other error.
class SigpipeHeld {
 public:
  SigpipeHeld() {
    ::sigemptyset(&sigpipe_);
    ::sigaddset(&sigpipe_, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &sigpipe_, &previous_);
    sigset_t pending;
    ::sigpending(&pending);
    already_pending_ = ::sigismember(&pending, SIGPIPE) == 1;
  }
  SigpipeHeld(const SigpipeHeld&) = delete;
  SigpipeHeld& operator=(const SigpipeHeld&) = delete;
  ~SigpipeHeld() { ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

  void take_back_raised() {
    if (already_pending_) return;
    const timespec no_wait{};
    while (::sigtimedwait(&sigpipe_, nullptr, &no_wait) < 0 && errno == EINTR) {
    }
  }

 private:
  sigset_t sigpipe_;
  sigset_t previous_;
  bool already_pending_ = false;
};

}  // namespace

Result<std::size_t> write(OutputStream stream, std::string_view bytes, ConsoleUtf8Writer&) {
  const int fd = stream == OutputStream::Stdout ? STDOUT_FILENO : STDERR_FILENO;
  const std::size_t count = std::min<std::size_t>(bytes.size(), SSIZE_MAX);
  SigpipeHeld held;
  for (;;) {
    const ssize_t written = ::write(fd, bytes.data(), count);
    if (written >= 0) return static_cast<std::size_t>(written);
    const int error = errno;
    if (error == EINTR) continue;
    if (error == EPIPE) held.take_back_raised();
    return std::unexpected(PlatformError::os(static_cast<std::uint32_t>(error)));
  }
}

Result<std::size_t> read_stdin(std::span<char> out, ConsoleUtf16Reader&) {
  const std::size_t count = std::min<std::size_t>(out.size(), SSIZE_MAX);
  for (;;) {
    const ssize_t read = ::read(STDIN_FILENO, out.data(), count);
    if (read >= 0) return static_cast<std::size_t>(read);
    if (errno != EINTR) return std::unexpected(PlatformError::os(static_cast<std::uint32_t>(errno)));
  }
}

// The setup ships for Windows; a terminal's input is left as it is here.
void discard_typed_ahead() {}

}  // namespace platform::raw
