// The Windows path rules as pure code, so that they run and are tested on every host.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/error.hpp"

namespace platform::windows_path {

std::string join_path(std::string_view base, std::string_view more);
std::optional<std::string> parent_path(std::string_view path);

// Whether the system puts `path` strictly below `base`, judged component by component (so
// `C:\t\ab` is not below `C:\t\a`): the same prefix and root, every component of the base, then
// at least one more. A further component must be an ordinary name: not `.` or `..`, no colon (a
// drive or a stream), no `/` inside a verbatim path; outside one, also none that the system would
// rewrite (a device name such as `CON` or `nul.txt`, trailing dots or spaces).
bool lies_below(std::string_view base, std::string_view path);

// GetFullPathNameW as a query: the absolute form of a path, or the OS error.
using FullPathQuery = std::function<Result<std::u16string>(std::u16string_view)>;

// The form handed to the file system so that no path-length limit applies: verbatim and empty
// paths unchanged, short drive and UNC paths unchanged, everything else made absolute and given
// the \\?\ prefix. `path` is without its terminating NUL.
Result<std::u16string> native_form(std::u16string_view path, const FullPathQuery& full_path);

}  // namespace platform::windows_path
