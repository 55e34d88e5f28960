// Paths on POSIX: `/` is the only separator and a leading `/` is the only root.
#include "platform/path.hpp"

#include <vector>

namespace platform {

std::string join_path(std::string_view base, std::string_view more) {
  if (more.starts_with('/')) return std::string(more);
  std::string joined(base);
  if (!base.empty() && !base.ends_with('/')) joined += '/';
  joined += more;
  return joined;
}

namespace {

// The components after the root, without empty ones.
std::vector<std::string_view> components(std::string_view path) {
  std::vector<std::string_view> found;
  for (std::size_t i = path.starts_with('/') ? 1 : 0; i < path.size();) {
    std::size_t end = path.find('/', i);
    if (end == std::string_view::npos) end = path.size();
    if (end > i) found.push_back(path.substr(i, end - i));
    i = end + 1;
  }
  return found;
}

}  // namespace

bool lies_below(std::string_view base, std::string_view path) {
  if (base.starts_with('/') != path.starts_with('/')) return false;
  const std::vector<std::string_view> above = components(base);
  const std::vector<std::string_view> found = components(path);
  if (found.size() <= above.size()) return false;
  for (std::size_t i = 0; i < found.size(); ++i) {
    if (i < above.size() ? found[i] != above[i] : (found[i] == "." || found[i] == "..")) return false;
  }
  return true;
}

std::optional<std::string> parent_path(std::string_view path) {
  const std::size_t body = path.starts_with('/') ? 1 : 0;
  // Component ends, skipping empty components and every `.` but a leading one.
  std::vector<std::size_t> ends;
  std::size_t i = body;
  while (i < path.size()) {
    std::size_t end = path.find('/', i);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view text = path.substr(i, end - i);
    if (!text.empty() && (text != "." || i == 0)) ends.push_back(end);
    i = end + 1;
  }
  if (ends.empty()) return std::nullopt;
  if (ends.size() == 1) return std::string(path.substr(0, body));
  return std::string(path.substr(0, ends[ends.size() - 2]));
}

}  // namespace platform
