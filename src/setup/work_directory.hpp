// The one place on disk the setup writes to: zarvo-setup-<pid> in the temporary directory.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/error.hpp"

namespace setup {

std::string work_directory_path();
// Creates the work directory with its parents, after removing whatever an earlier run left under
// that name (a file in the way is not removed: the creation fails on it).
[[nodiscard]] platform::Result<void> create_work_directory(std::string_view path);
// install.ps1 in the work directory, else in the first immediate entry that holds one.
std::optional<std::string> locate_installer_script(std::string_view work_directory);
[[nodiscard]] platform::Result<void> remove_work_directory(std::string_view path);

}  // namespace setup
