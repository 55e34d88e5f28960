// Paths on Windows: the rules of windows_path, with the backslash as separator.
#include "platform/path.hpp"
#include "platform/windows_path.hpp"

namespace platform {

char path_separator() { return '\\'; }

std::string join_path(std::string_view base, std::string_view more) {
  return windows_path::join_path(base, more);
}

std::optional<std::string> parent_path(std::string_view path) { return windows_path::parent_path(path); }

bool lies_below(std::string_view base, std::string_view path) { return windows_path::lies_below(base, path); }

}  // namespace platform
