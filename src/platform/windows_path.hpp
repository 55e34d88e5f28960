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

// GetFullPathNameW as a query: the absolute form of a path, or the OS error.
using FullPathQuery = std::function<Result<std::u16string>(std::u16string_view)>;

// The form handed to the file system so that no path-length limit applies: verbatim and empty
// paths unchanged, short drive and UNC paths unchanged, everything else made absolute and given
// the \\?\ prefix. `path` is without its terminating NUL.
Result<std::u16string> native_form(std::u16string_view path, const FullPathQuery& full_path);

}  // namespace platform::windows_path
