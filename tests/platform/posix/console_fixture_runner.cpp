#include "platform/console_fixture_runner.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

extern char** environ;

namespace console_test {

namespace {

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(what);
}

}  // namespace

FixtureRun run_fixture(std::string_view mode, Output output, Input input, std::string_view input_bytes) {
  std::string dir = (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + std::string("/console-test-XXXXXX");
  check(::mkdtemp(dir.data()) != nullptr, "mkdtemp");
  const std::string in_path = dir + "/in", out_path = dir + "/out", err_path = dir + "/err";
  {
    std::ofstream in(in_path, std::ios::binary);
    in << input_bytes;
  }

  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  int in_pipe[2] = {-1, -1};
  int out_pipe[2] = {-1, -1};
  switch (input) {
    case Input::file:
      ::posix_spawn_file_actions_addopen(&actions, 0, in_path.c_str(), O_RDONLY, 0);
      break;
    case Input::closed:
      ::posix_spawn_file_actions_addclose(&actions, 0);
      break;
    case Input::pipe_writer_gone:
      check(::pipe2(in_pipe, O_CLOEXEC) == 0, "pipe2");
      ::close(in_pipe[1]);
      ::posix_spawn_file_actions_adddup2(&actions, in_pipe[0], 0);
      break;
  }
  switch (output) {
    case Output::file:
      ::posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      break;
    case Output::closed:
      ::posix_spawn_file_actions_addclose(&actions, 1);
      break;
    case Output::pipe_reader_gone:
      check(::pipe2(out_pipe, O_CLOEXEC) == 0, "pipe2");
      ::close(out_pipe[0]);
      ::posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
      break;
  }
  ::posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);

  std::string program = ZARVO_CONSOLE_FIXTURE;
  std::string mode_arg(mode);
  std::vector<char*> argv{program.data(), mode_arg.data(), nullptr};
  // The fatal report's last line depends on it.
  ::unsetenv("ZARVO_BACKTRACE");
  pid_t pid = 0;
  const int spawned = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  ::posix_spawn_file_actions_destroy(&actions);
  if (in_pipe[0] >= 0) ::close(in_pipe[0]);
  if (out_pipe[1] >= 0) ::close(out_pipe[1]);
  check(spawned == 0, "posix_spawn");

  int status = 0;
  check(::waitpid(pid, &status, 0) == pid, "waitpid");
  FixtureRun run;
  // A death by signal shows as 128 + the signal, so that it never passes for an exit code.
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  if (output == Output::file) run.out = read_file(out_path);
  run.err = read_file(err_path);
  for (const auto& path : {in_path, out_path, err_path}) ::unlink(path.c_str());
  ::rmdir(dir.c_str());
  return run;
}

}  // namespace console_test
