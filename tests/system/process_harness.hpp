// Test helpers that touch the real process: environment variables, and running this test
// program again as a child whose scenario is chosen by ZARVO_PLATFORM_FIXTURE.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "system/child_capture.hpp"

namespace platform_test {

// Sets a variable of this process's environment, or removes it when `value` is none.
void set_variable(const std::string& name, const std::optional<std::string>& value);

// Puts a variable back as it was when the scope ends.
class ScopedVariable {
 public:
  ScopedVariable(std::string name, const std::optional<std::string>& value);
  ~ScopedVariable();
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  std::string name_;
  std::optional<std::string> saved_;
};

// The process id as the system reports it, from a source other than the platform layer.
std::uint32_t process_id_from_system();

// exited, status (the exit code, or on POSIX the signal number), out and err.
using ChildResult = ChildCapture;

// Runs this program with ZARVO_PLATFORM_FIXTURE=<scenario> and the extra variables, standard
// input empty, and standard output and error captured.
ChildResult run_fixture(const std::string& scenario,
                        const std::vector<std::pair<std::string, std::string>>& variables = {});

}  // namespace platform_test
