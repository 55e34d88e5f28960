// Paths on Windows: the Windows rules of windows_rules.hpp.
#include "platform/path.hpp"
#include "platform/windows_rules.hpp"

namespace platform {

std::string join_path(std::string_view base, std::string_view more) { return windows_rules::join_path(base, more); }
std::optional<std::string> parent_path(std::string_view path) { return windows_rules::parent_path(path); }
bool lies_below(std::string_view base, std::string_view path) { return windows_rules::lies_below(base, path); }

}  // namespace platform
