// Starting child processes that share the setup's console and environment, and either its
// standard handles and current directory or nothing of the setup's beyond that.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/error.hpp"
#include "platform/native_handle.hpp"

namespace process {

// What a child gets of the setup besides its console and environment.
enum class ChildStart {
  // The setup's three standard handles, and no other handle of the setup's, and its current
  // directory.
  WithSetupStreams,
  // No handle of the setup's, and the folder of its own program as current directory: a program
  // that outlives the setup keeps neither the setup's output in use (a parent capturing it would
  // wait for that program to end) nor the folder the setup was started from.
  OnItsOwn,
};

struct ChildCommand {
  std::string program;  // a bare file name, or a path
  std::vector<std::string> arguments;
  ChildStart start = ChildStart::WithSetupStreams;
  // Windows: where below the system folder a bare program name is looked for when no search place
  // holds it; empty: nowhere else.
  std::string system_fallback;
};

#if !defined(_WIN32)
// A POSIX child has no handle to close; letting go of it reaps it, without waiting, if it has
// ended already, so that it leaves no zombie behind; one still running is left alone.
struct ChildPidTraits {
  using Handle = int;
  static Handle invalid() noexcept { return -1; }
  static bool is_valid(Handle pid) noexcept { return pid > 0; }
  static void close(Handle pid) noexcept;
};
#endif

// A started child: on Windows its process and thread handles, on POSIX its id. Letting go of it
// (dropping it) closes what it holds, exactly once, without waiting for the child or ending it.
class ChildProcess {
 public:
  ChildProcess(ChildProcess&&) noexcept = default;
  ChildProcess& operator=(ChildProcess&&) noexcept = default;

 private:
  friend platform::Result<ChildProcess> start_child(const ChildCommand& command);
  friend platform::Result<std::uint32_t> run_child(const ChildCommand& command);
#if defined(_WIN32)
  ChildProcess(platform::KernelHandle process, platform::KernelHandle thread)
      : process_(std::move(process)), thread_(std::move(thread)) {}
  platform::KernelHandle process_;
  platform::KernelHandle thread_;
#else
  explicit ChildProcess(int pid) : process_(pid) {}
  platform::UniqueResource<ChildPidTraits> process_;
#endif
};

[[nodiscard]] platform::Result<ChildProcess> start_child(const ChildCommand& command);
// Starts the child, waits without a time limit and gives its exit code. Meanwhile (on Windows,
// and a moment after: process/interrupt_window.hpp) Ctrl+C and Ctrl+Break (POSIX: SIGINT and
// SIGQUIT) are the child's to answer; the setup waits on, as a command shell does. The child
// itself gets them as usual.
[[nodiscard]] platform::Result<std::uint32_t> run_child(const ChildCommand& command);

}  // namespace process
