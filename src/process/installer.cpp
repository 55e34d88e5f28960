#include "process/installer.hpp"

namespace process {

ChildCommand installer_command(std::string_view script_path) {
  return ChildCommand{
      .program = "powershell",
      .arguments = {"-NoProfile", "-ExecutionPolicy", "Bypass", "-File", std::string(script_path)},
      // Windows PowerShell's own place, for the many machines whose PATH lost that folder.
      .system_fallback = "WindowsPowerShell\\v1.0\\powershell.exe",
  };
}

platform::Result<std::uint32_t> run_installer_script(std::string_view script_path) {
  return run_child(installer_command(script_path));
}

}  // namespace process
