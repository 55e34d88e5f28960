// Child processes on POSIX: posix_spawn with the setup's environment, and either its descriptors
// (the setup opens everything else close-on-exec) and current directory, or the null device on
// the three standard ones and the program's own folder. The program is searched in the setup's
// own folder and PATH only.
//
// Exit codes: a child that exits gives its status (0 to 255); a child ended by a signal gives
// 128 plus the signal number, as shells report it.
#include <fcntl.h>
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

// While the setup waits for its child, Ctrl+C and Ctrl+\ at the terminal reach both: the child
// answers them, and the setup waits on for its exit status, as a shell does. The child gets the
// dispositions the setup had (exec would reset a handler anyway).
class InterruptsLeftToTheChild {
 public:
  InterruptsLeftToTheChild() {
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    ::sigemptyset(&ignore.sa_mask);
    ::sigemptyset(&default_in_child_);
    for (std::size_t i = 0; i < std::size(signals_); ++i) {
      ::sigaction(signals_[i], &ignore, &previous_[i]);
      if (previous_[i].sa_handler != SIG_IGN) ::sigaddset(&default_in_child_, signals_[i]);
    }
  }
  ~InterruptsLeftToTheChild() {
    for (std::size_t i = 0; i < std::size(signals_); ++i) ::sigaction(signals_[i], &previous_[i], nullptr);
  }
  InterruptsLeftToTheChild(const InterruptsLeftToTheChild&) = delete;
  InterruptsLeftToTheChild& operator=(const InterruptsLeftToTheChild&) = delete;

  const sigset_t& default_in_child() const { return default_in_child_; }

 private:
  static constexpr int signals_[2] = {SIGINT, SIGQUIT};
  struct sigaction previous_[2] = {};
  sigset_t default_in_child_;
};

// The descriptor actions and attributes of one spawn, owned.
class SpawnSetup {
 public:
  SpawnSetup() {
    ::posix_spawn_file_actions_init(&actions_);
    ::posix_spawnattr_init(&attributes_);
  }
  ~SpawnSetup() {
    ::posix_spawnattr_destroy(&attributes_);
    ::posix_spawn_file_actions_destroy(&actions_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attributes_;
};

// Starts the program; gives its process id. `default_in_child` are signals the child gets with
// their default disposition.
platform::Result<pid_t> spawn(const ChildCommand& command, const sigset_t& default_in_child) {
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

  SpawnSetup setup;
  if (command.start == ChildStart::OnItsOwn) {
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
      ::posix_spawn_file_actions_addopen(&setup.actions_, fd, "/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY, 0);
    }
    // In its own folder; the program is then named relative to it.
    const auto slash = path->rfind('/');
    const std::string folder = slash == 0 ? "/" : path->substr(0, slash);
    ::posix_spawn_file_actions_addchdir_np(&setup.actions_, folder.c_str());
    *path = "./" + path->substr(slash + 1);
  }
  ::posix_spawnattr_setsigdefault(&setup.attributes_, &default_in_child);
  ::posix_spawnattr_setflags(&setup.attributes_, POSIX_SPAWN_SETSIGDEF);

  pid_t pid = -1;
  int failure;
  {
    std::lock_guard lock(child_creation_lock);
    failure = ::posix_spawn(&pid, path->c_str(), &setup.actions_, &setup.attributes_, argv.data(), environ);
  }
  if (failure != 0) return std::unexpected(platform::PlatformError::os(static_cast<std::uint32_t>(failure)));
  return pid;
}

}  // namespace

platform::Result<ChildProcess> start_child(const ChildCommand& command) {
  sigset_t as_they_are;
  ::sigemptyset(&as_they_are);
  auto pid = spawn(command, as_they_are);
  if (!pid) return std::unexpected(pid.error());
  return ChildProcess(*pid);
}

platform::Result<std::uint32_t> run_child(const ChildCommand& command) {
  const InterruptsLeftToTheChild interrupts;  // from just before the start until after the wait
  auto pid = spawn(command, interrupts.default_in_child());
  if (!pid) return std::unexpected(pid.error());
  ChildProcess child(*pid);
  int status = 0;
  pid_t waited;
  do {
    waited = ::waitpid(child.process_.get(), &status, 0);
  } while (waited < 0 && errno == EINTR);
  if (waited < 0) return std::unexpected(platform::PlatformError::os(static_cast<std::uint32_t>(errno)));
  (void)child.process_.release();  // reaped by the wait
  if (WIFSIGNALED(status)) return static_cast<std::uint32_t>(128 + WTERMSIG(status));
  return static_cast<std::uint32_t>(WEXITSTATUS(status));
}

}  // namespace process
