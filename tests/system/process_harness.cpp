#include "system/process_harness.hpp"

#include "platform/runtime.hpp"

namespace platform_test {

ScopedVariable::ScopedVariable(std::string name, const std::optional<std::string>& value)
    : name_(std::move(name)), saved_(platform::environment_variable(name_)) {
  set_variable(name_, value);
}

ScopedVariable::~ScopedVariable() { set_variable(name_, saved_); }

ChildResult run_fixture(const std::string& scenario,
                        const std::vector<std::pair<std::string, std::string>>& variables) {
  ChildRequest request;  // this program, standard input empty, both outputs captured
  request.environment.emplace_back("ZARVO_PLATFORM_FIXTURE", scenario);
  for (const auto& [name, value] : variables) request.environment.emplace_back(name, value);
  return run_child(request);
}

}  // namespace platform_test
