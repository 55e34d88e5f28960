#include "platform/process_harness.hpp"

#include "platform/runtime.hpp"

namespace platform_test {

ScopedVariable::ScopedVariable(std::string name, const std::optional<std::string>& value)
    : name_(std::move(name)), saved_(platform::environment_variable(name_)) {
  set_variable(name_, value);
}

ScopedVariable::~ScopedVariable() { set_variable(name_, saved_); }

}  // namespace platform_test
