// Child processes on POSIX: posix_spawn with the setup's own descriptors, environment and
// current directory. The program is searched in the setup's own folder and PATH only.
//
// Exit codes: a child that exits gives its status (0 to 255); a child ended by a signal gives
// 128 plus the signal number, as shells report it.
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <string>
#include <vector>

#include "platform/runtime.hpp"
#include "process/child.hpp"
#include "process/command_line.hpp"

extern char** environ;

namespace process {

void ChildPidTraits::close(Handle pid) noexcept {
  int status = 0;
  (void)::waitpid(pid, &status, WNOHANG);
}

namespace {

// Held around process creation, as on Windows, so both backends keep the same contract.
std::mutex child_creation_lock;

std::optional<std::string> own_executable() {
  std::string buffer(256, '\0');
  while (true) {
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return std::nullopt;
    if (static_cast<std::size_t>(n) < buffer.size()) {
      buffer.resize(static_cast<std::size_t>(n));
      return buffer;
    }
    buffer.resize(buffer.size() * 2);
  }
}

PosixProgramQueries system_queries() {
  return PosixProgramQueries{
      .exists =
          [](std::string_view path) {
            struct stat info;
            return ::lstat(std::string(path).c_str(), &info) == 0;
          },
      .executable_path = own_executable,
      .path_variable = [] { return platform::environment_variable("PATH"); },
  };
}

}  // namespace

platform::Result<ChildProcess> start_child(const ChildCommand& command) {
  auto path = resolve_program_posix(command.program, system_queries());
  if (!path) return std::unexpected(path.error());

  std::vector<char*> argv;
  argv.reserve(command.arguments.size() + 2);
  argv.push_back(const_cast<char*>(command.program.c_str()));
  for (const auto& argument : command.arguments) {
    if (argument.find('\0') != std::string::npos) return std::unexpected(platform::nul_in_data_error());
    argv.push_back(const_cast<char*>(argument.c_str()));
  }
  argv.push_back(nullptr);

  pid_t pid = -1;
  int failure;
  {
    std::lock_guard lock(child_creation_lock);
    failure = ::posix_spawn(&pid, path->c_str(), nullptr, nullptr, argv.data(), environ);
  }
  if (failure != 0) return std::unexpected(platform::PlatformError::os(static_cast<std::uint32_t>(failure)));
  return ChildProcess(pid);
}

platform::Result<std::uint32_t> run_child(const ChildCommand& command) {
  auto child = start_child(command);
  if (!child) return std::unexpected(child.error());
  int status = 0;
  pid_t waited;
  do {
    waited = ::waitpid(child->process_.get(), &status, 0);
  } while (waited < 0 && errno == EINTR);
  if (waited < 0) return std::unexpected(platform::PlatformError::os(static_cast<std::uint32_t>(errno)));
  (void)child->process_.release();  // reaped by the wait
  if (WIFSIGNALED(status)) return static_cast<std::uint32_t>(128 + WTERMSIG(status));
  return static_cast<std::uint32_t>(WEXITSTATUS(status));
}

}  // namespace process
