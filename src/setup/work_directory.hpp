// The one place on disk the setup writes to: zarvo-setup-<pid> in the temporary directory.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.hpp"
#include "platform/fs.hpp"

namespace setup {

std::string work_directory_path();
// Creates the work directory with its parents, after removing a directory (or a link to one) that an
// earlier run left under that name. Anything else in the way is not removed: a file, or a link to a
// file or to nothing, fails the creation with the system's own error.
[[nodiscard]] platform::Result<void> create_work_directory(std::string_view path);

// What the search for the installer script asks of the file system.
struct ScriptSearch {
  // What is at a path, a link at its end not followed; none when it cannot be examined.
  std::function<std::optional<platform::FileKind>(const std::string&)> kind;
  // The paths of a directory's entries in the order the system lists them, up to the first that
  // fails; none listed when the directory cannot be listed.
  std::function<std::vector<std::string>(const std::string&)> entries;
};

// install.ps1 in the work directory, else in the first immediate entry that holds one. The script
// is a file reached from the work directory without passing a link: a link at install.ps1, or an
// entry that is a link, could lead anywhere outside the work directory.
std::optional<std::string> locate_installer_script(std::string_view work_directory, const ScriptSearch& system);
// The same on the real file system.
std::optional<std::string> locate_installer_script(std::string_view work_directory);
[[nodiscard]] platform::Result<void> remove_work_directory(std::string_view path);

}  // namespace setup
