// The console fixture program started through the child launcher of the backend.
#include "system/console_fixture_runner.hpp"

#include "system/child_capture.hpp"

namespace console_test {

namespace {

// The fixture's path; under Wine, a Unix path is on drive Z:, with backslashes.
std::string fixture_program() {
  std::string path = ZARVO_CONSOLE_FIXTURE;
#ifdef _WIN32
  for (char& c : path) c = c == '/' ? '\\' : c;
  path.insert(0, "Z:");
#endif
  return path;
}

}  // namespace

FixtureRun run_fixture(std::string_view mode, Output output, Input input, std::string_view input_bytes) {
  platform_test::ChildRequest request;
  request.program = fixture_program();
  request.arguments = {std::string(mode)};
  // The fatal report's last line depends on it.
  request.environment = {{"ZARVO_BACKTRACE", std::nullopt}};
  switch (input) {
    case Input::file:
      request.input = platform_test::ChildInput::bytes;
      request.input_bytes = input_bytes;
      break;
    case Input::closed:
      request.input = platform_test::ChildInput::closed;
      break;
    case Input::pipe_writer_gone:
      request.input = platform_test::ChildInput::pipe_writer_gone;
      break;
  }
  switch (output) {
    case Output::file:
      request.output = platform_test::ChildOutput::captured;
      break;
    case Output::closed:
      request.output = platform_test::ChildOutput::closed;
      break;
    case Output::pipe_reader_gone:
      request.output = platform_test::ChildOutput::pipe_reader_gone;
      break;
  }
  const platform_test::ChildCapture child = platform_test::run_child(request);
  FixtureRun run;
  // A death by signal shows as 128 + the signal, so that it never passes for an exit code.
  run.exit_code = child.exited ? child.status : 128 + child.status;
  run.out = child.out;
  run.err = child.err;
  return run;
}

}  // namespace console_test
