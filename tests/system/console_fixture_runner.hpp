// Starts the console fixture program with its standard streams set up as a test asks, waits
// for it and gives back what it wrote.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace console_test {

enum class Input {
  file,               // a file holding the given bytes
  closed,             // no standard input at all
  pipe_writer_gone,   // a pipe whose writing end was closed before anything was written
};

enum class Output {
  file,               // a file, read back afterwards
  closed,             // no standard output at all
  pipe_reader_gone,   // a pipe whose reading end was closed before the start
};

struct FixtureRun {
  std::uint32_t exit_code = 0;
  std::string out;  // empty unless Output::file
  std::string err;  // standard error always goes to a file
};

FixtureRun run_fixture(std::string_view mode, Output output, Input input = Input::file, std::string_view input_bytes = {});

}  // namespace console_test
