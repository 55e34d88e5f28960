// Paths as the running system understands them. On Windows these follow the Windows rules of
// windows_rules.hpp; on POSIX the slash is the only separator.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Joins one more path onto a base; a separator is inserted unless the base already ends in one.
std::string join_path(std::string_view base, std::string_view more);
// The path without its last component, or none for an empty path or a bare root.
std::optional<std::string> parent_path(std::string_view path);
// Whether the system puts `path` strictly below `base`, judged component by component: every
// component of the base, then at least one more that is an ordinary name: not `.` or `..`, and on
// Windows none that the system reads as a drive, a stream or a device.
bool lies_below(std::string_view base, std::string_view path);

}  // namespace platform
