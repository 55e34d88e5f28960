// The child launcher on POSIX: posix_spawn with file actions for the standard streams, an
// environment of its own, output into files in a fresh folder.
#include "system/child_capture.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string_view>

extern char** environ;

namespace platform_test {

namespace {

[[noreturn]] void fail(const char* what, int error) {
  throw std::runtime_error(std::string(what) + " failed: " + std::strerror(error));
}

void check(bool ok, const char* what) {
  if (!ok) fail(what, errno);
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void write_file(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  check(static_cast<bool>(out.flush()), "writing the child's input");
}

void check_plain_word(const std::string& argument) {
  if (argument.empty() || argument.find_first_of(" \t\"") != std::string::npos) {
    throw std::invalid_argument("a child argument must be a plain word: '" + argument + "'");
  }
}

// This process's environment with the request's changes, later ones over earlier ones.
std::vector<std::string> child_environment(const ChildRequest& request) {
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) entries.emplace_back(*entry);
  for (const auto& [name, value] : request.environment) {
    std::erase_if(entries, [&](const std::string& entry) { return entry.starts_with(name + "="); });
    if (value) entries.push_back(name + "=" + *value);
  }
  return entries;
}

// A pipe whose one end is closed at once; the other end is given back.
int half_pipe(bool keep_writer) {
  int ends[2] = {-1, -1};
  check(::pipe2(ends, O_CLOEXEC) == 0, "pipe2");
  ::close(keep_writer ? ends[0] : ends[1]);
  return keep_writer ? ends[1] : ends[0];
}

// A fresh folder for the child's stream files, removed with them at the end.
class Scratch {
 public:
  Scratch() {
    const char* temp = std::getenv("TMPDIR");
    dir_ = std::string(temp != nullptr && *temp != '\0' ? temp : "/tmp") + "/zarvo-child-XXXXXX";
    check(::mkdtemp(dir_.data()) != nullptr, "mkdtemp");
  }
  ~Scratch() {
    for (const char* name : {"in", "out", "err"}) ::unlink(path(name).c_str());
    ::rmdir(dir_.c_str());
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  std::string path(const char* name) const { return dir_ + "/" + name; }

 private:
  std::string dir_;
};

class FileActions {
 public:
  FileActions() { ::posix_spawn_file_actions_init(&actions_); }
  ~FileActions() { ::posix_spawn_file_actions_destroy(&actions_); }
  FileActions(const FileActions&) = delete;
  FileActions& operator=(const FileActions&) = delete;
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

}  // namespace

ChildCapture run_child(const ChildRequest& request) {
  const std::string program = request.program.empty() ? "/proc/self/exe" : request.program;
  std::vector<std::string> arguments{program};
  for (const std::string& argument : request.arguments) {
    check_plain_word(argument);
    arguments.push_back(argument);
  }
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  std::vector<std::string> entries = child_environment(request);
  std::vector<char*> envp;
  for (std::string& entry : entries) envp.push_back(entry.data());
  envp.push_back(nullptr);

  const Scratch scratch;
  const std::string in_path = scratch.path("in"), out_path = scratch.path("out"), err_path = scratch.path("err");

  FileActions actions;
  int parent_end = -1;  // the child's end of a pipe, closed here once it is started
  switch (request.input) {
    case ChildInput::empty:
      ::posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0);
      break;
    case ChildInput::bytes:
      write_file(in_path, request.input_bytes);
      ::posix_spawn_file_actions_addopen(actions.get(), 0, in_path.c_str(), O_RDONLY, 0);
      break;
    case ChildInput::closed:
      ::posix_spawn_file_actions_addclose(actions.get(), 0);
      break;
    case ChildInput::pipe_writer_gone:
      parent_end = half_pipe(false);
      ::posix_spawn_file_actions_adddup2(actions.get(), parent_end, 0);
      break;
  }
  int output_end = -1;
  switch (request.output) {
    case ChildOutput::captured:
      ::posix_spawn_file_actions_addopen(actions.get(), 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      break;
    case ChildOutput::closed:
      ::posix_spawn_file_actions_addclose(actions.get(), 1);
      break;
    case ChildOutput::pipe_reader_gone:
      output_end = half_pipe(true);
      ::posix_spawn_file_actions_adddup2(actions.get(), output_end, 1);
      break;
  }
  ::posix_spawn_file_actions_addopen(actions.get(), 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);

  pid_t child = 0;
  const int spawned = ::posix_spawn(&child, program.c_str(), actions.get(), nullptr, argv.data(), envp.data());
  // The child has its copies; ours must not keep a pipe alive.
  if (parent_end >= 0) ::close(parent_end);
  if (output_end >= 0) ::close(output_end);
  if (spawned != 0) fail("posix_spawn", spawned);

  int wait_status = 0;
  while (::waitpid(child, &wait_status, 0) < 0) {
    if (errno != EINTR) fail("waitpid", errno);
  }
  ChildCapture capture;
  capture.exited = WIFEXITED(wait_status);
  capture.status = static_cast<std::uint32_t>(capture.exited ? WEXITSTATUS(wait_status) : WTERMSIG(wait_status));
  if (request.output == ChildOutput::captured) capture.out = read_file(out_path);
  capture.err = read_file(err_path);
  return capture;
}

}  // namespace platform_test
