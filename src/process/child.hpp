// Starting child processes that share the setup's console, standard handles, environment and
// current directory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/error.hpp"
#include "platform/native_handle.hpp"

namespace process {

struct ChildCommand {
  std::string program;  // a bare file name, or a path
  std::vector<std::string> arguments;
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
// Starts the child, waits without a time limit and gives its exit code.
[[nodiscard]] platform::Result<std::uint32_t> run_child(const ChildCommand& command);

}  // namespace process
