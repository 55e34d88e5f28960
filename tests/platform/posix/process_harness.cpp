// The process harness on POSIX: setenv, posix_spawn of /proc/self/exe, output into files.
#include "platform/process_harness.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/runtime.hpp"

extern char** environ;

namespace platform_test {

namespace {

std::string read_and_remove(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  ::unlink(path.c_str());
  return text.str();
}

}  // namespace

void set_variable(const std::string& name, const std::optional<std::string>& value) {
  if (value) {
    ::setenv(name.c_str(), value->c_str(), 1);
  } else {
    ::unsetenv(name.c_str());
  }
}

std::uint32_t process_id_from_system() {
  char target[64] = {};
  const ssize_t length = ::readlink("/proc/self", target, sizeof target - 1);
  if (length <= 0) throw std::runtime_error("/proc/self is not readable");
  return static_cast<std::uint32_t>(std::stoul(std::string(target, static_cast<std::size_t>(length))));
}

ChildResult run_fixture(const std::string& scenario,
                        const std::vector<std::pair<std::string, std::string>>& variables) {
  static int runs = 0;
  const std::string stem = platform::temp_directory() + "zarvo-fixture-" + std::to_string(::getpid()) + "-" +
                           std::to_string(++runs);
  const std::string out_path = stem + ".out";
  const std::string err_path = stem + ".err";

  std::vector<std::string> entries{"ZARVO_PLATFORM_FIXTURE=" + scenario};
  for (const auto& [name, value] : variables) entries.push_back(name + "=" + value);
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    bool replaced = text.starts_with("ZARVO_PLATFORM_FIXTURE=");
    for (const auto& variable : variables) replaced = replaced || text.starts_with(variable.first + "=");
    if (!replaced) entries.emplace_back(text);
  }
  std::vector<char*> envp;
  for (std::string& entry : entries) envp.push_back(entry.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  ::posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ::posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  char program[] = "/proc/self/exe";
  char* argv[] = {program, nullptr};
  pid_t child = 0;
  const int spawned = ::posix_spawn(&child, program, &actions, nullptr, argv, envp.data());
  ::posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("posix_spawn failed");

  int wait_status = 0;
  while (::waitpid(child, &wait_status, 0) < 0) {
    if (errno != EINTR) throw std::runtime_error("waitpid failed");
  }
  ChildResult result;
  result.exited = WIFEXITED(wait_status);
  result.status = static_cast<std::uint32_t>(result.exited ? WEXITSTATUS(wait_status) : WTERMSIG(wait_status));
  result.out = read_and_remove(out_path);
  result.err = read_and_remove(err_path);
  return result;
}

}  // namespace platform_test
