// The process harness on Windows: SetEnvironmentVariableW, and the process id from the system.
#include "system/process_harness.hpp"

#include "platform/windows/native.hpp"

namespace platform_test {

namespace {

std::wstring wide(const std::string& text) { return platform::windows::wide_from_utf8(text).value(); }

}  // namespace

void set_variable(const std::string& name, const std::optional<std::string>& value) {
  if (value) {
    ::SetEnvironmentVariableW(wide(name).c_str(), wide(*value).c_str());
  } else {
    ::SetEnvironmentVariableW(wide(name).c_str(), nullptr);
  }
}

std::uint32_t process_id_from_system() { return ::GetProcessId(::GetCurrentProcess()); }

}  // namespace platform_test
