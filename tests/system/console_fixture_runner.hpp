// Starts the console fixture program with its standard streams set up as a test asks, waits
// for it and gives back what it wrote.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "system/child_capture.hpp"

namespace console_test {

// The standard streams as the backend's child launcher sets them up.
using Input = platform_test::ChildInput;
using Output = platform_test::ChildOutput;

struct FixtureRun {
  std::uint32_t exit_code = 0;
  std::string out;  // empty unless Output::captured
  std::string err;  // standard error always goes to a file
};

FixtureRun run_fixture(std::string_view mode, Output output, Input input = Input::bytes, std::string_view input_bytes = {});

}  // namespace console_test
