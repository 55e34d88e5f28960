// The console fixture program started through the child launcher of the backend.
#include "system/console_fixture_runner.hpp"

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
  request.input = input;
  request.input_bytes = input_bytes;
  request.output = output;
  const platform_test::ChildCapture child = platform_test::run_child(request);
  FixtureRun run;
  // A death by signal shows as 128 + the signal, so that it never passes for an exit code.
  run.exit_code = child.exited ? child.status : 128 + child.status;
  run.out = child.out;
  run.err = child.err;
  return run;
}

}  // namespace console_test
