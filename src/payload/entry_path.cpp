#include "payload/entry_path.hpp"

#include "platform/path_chars.hpp"
#include "platform/windows_rules.hpp"

namespace payload {

std::optional<std::vector<std::string>> simplified_components(std::string_view name, Win32Names win32_names) {
  if (name.find_first_of(std::string_view(":\0", 2)) != std::string_view::npos) return std::nullopt;
  if (!name.empty() && platform::is_separator(name.front())) return std::nullopt;

  std::vector<std::string> kept;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = start;
    while (end < name.size() && !platform::is_separator(name[end])) ++end;
    const std::string_view piece = name.substr(start, end - start);
    if (piece == "..") {
      if (kept.empty()) return std::nullopt;
      kept.pop_back();
    } else if (win32_names == Win32Names::Refused && piece != "." &&
               (platform::windows_rules::rewritten_by_win32(piece) || platform::windows_rules::has_short_name_shape(piece))) {
      return std::nullopt;
    } else if (!piece.empty() && piece != ".") {
      kept.emplace_back(piece);
    }
    start = end + 1;
  }
  return kept;
}

bool denotes_directory(std::string_view name) { return !name.empty() && platform::is_separator(name.back()); }

}  // namespace payload
