#pragma once

#include <cstdint>
#include <string_view>

#include "platform/error.hpp"
#include "process/child.hpp"

namespace process {

// The command that runs the installer script under PowerShell.
ChildCommand installer_command(std::string_view script_path);
// Runs it and waits; gives PowerShell's exit code.
[[nodiscard]] platform::Result<std::uint32_t> run_installer_script(std::string_view script_path);

}  // namespace process
