// The process harness on POSIX: setenv, and the process id from /proc/self.
#include "system/process_harness.hpp"

#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace platform_test {

void set_variable(const std::string& name, const std::optional<std::string>& value) {
  if (value) {
    ::setenv(name.c_str(), value->c_str(), 1);
  } else {
    ::unsetenv(name.c_str());
  }
}

std::uint32_t process_id_from_system() {
  char target[64] = {};
  const ssize_t length = ::readlink("/proc/self", target, sizeof target - 1);
  if (length <= 0) throw std::runtime_error("/proc/self is not readable");
  return static_cast<std::uint32_t>(std::stoul(std::string(target, static_cast<std::size_t>(length))));
}

}  // namespace platform_test
