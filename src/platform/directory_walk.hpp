// Creating a directory with its missing parents, as pure logic over the system's answers, so the
// same walk serves both backends and runs against fakes.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/error.hpp"

namespace platform {

struct DirectoryWalk {
  // The path without its last component, or none for a root or the empty path.
  std::function<std::optional<std::string>(std::string_view)> parent;
  // Creates one directory whose parent exists.
  std::function<Result<void>(const std::string&)> make_directory;
  // Whether the path is an existing directory (not a link).
  std::function<bool(const std::string&)> is_directory;
};

// Walks up from `path` until a directory exists or can be made, then creates what was missing
// outermost first. An existing directory is never changed; anything else in the way fails with the
// creation's own error. Directories made before a failure stay.
[[nodiscard]] Result<void> create_directory_walk(std::string_view path, const DirectoryWalk& system);

}  // namespace platform
