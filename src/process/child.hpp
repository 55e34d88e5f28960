// Starting child processes that share the setup's console, standard handles, environment and
// current directory.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/error.hpp"

namespace process {

struct ChildCommand {
  std::string program;  // a bare file name, or a path
  std::vector<std::string> arguments;
};

// A started child's process and thread handles (on POSIX, its pid); closed exactly once.
class ChildProcess {
 public:
  ChildProcess(ChildProcess&&) noexcept;
  ChildProcess& operator=(ChildProcess&&) noexcept;
  ~ChildProcess();
  struct State;
  explicit ChildProcess(std::unique_ptr<State> state);
  State& state() { return *state_; }

 private:
  std::unique_ptr<State> state_;
};

platform::Result<ChildProcess> start_child(const ChildCommand& command);
// Starts the child, waits without a time limit and gives its exit code.
platform::Result<std::uint32_t> run_child(const ChildCommand& command);
// Closes the child's handles without waiting for it or ending it.
void release_child(ChildProcess child);

}  // namespace process
