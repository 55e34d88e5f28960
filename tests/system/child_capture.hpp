// Starts a program as a child with its standard streams set up as a test asks, waits for it and
// gives back what it wrote. One implementation per backend (posix/, windows/), on the system's
// own calls alone, so that the harness leans on nothing of the platform layer it tests.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platform_test {

enum class ChildInput {
  empty,             // the null device
  bytes,             // a file holding ChildRequest::input_bytes
  closed,            // no standard input at all
  pipe_writer_gone,  // a pipe whose writing end was closed before anything was written
};

enum class ChildOutput {
  captured,          // a file, read back afterwards
  closed,            // no standard output at all
  pipe_reader_gone,  // a pipe whose reading end was closed before the start
};

struct ChildRequest {
  std::string program;                 // empty: this test program itself
  std::vector<std::string> arguments;  // plain words: none empty, none with a space, tab or quote
  // Set, or removed when none, in the child's environment only; the rest is this process's.
  std::vector<std::pair<std::string, std::optional<std::string>>> environment;
  ChildInput input = ChildInput::empty;
  std::string input_bytes;
  ChildOutput output = ChildOutput::captured;
};

struct ChildCapture {
  bool exited = false;       // ended by an exit (on POSIX: not by a signal)
  std::uint32_t status = 0;  // the exit code, or on POSIX the signal number
  std::string out;           // empty unless ChildOutput::captured
  std::string err;           // standard error always goes to a file
};

// Throws std::runtime_error when the child cannot be started or waited for.
ChildCapture run_child(const ChildRequest& request);

}  // namespace platform_test
