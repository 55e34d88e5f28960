#include "platform/directory_walk.hpp"

#include <vector>

namespace platform {

Result<void> create_directory_walk(std::string_view path, const DirectoryWalk& system) {
  if (path.empty() || !system.parent(path)) return {};

  std::vector<std::string> missing;  // innermost first
  std::string current(path);
  for (;;) {
    std::optional<std::string> parent = system.parent(current);
    if (current.empty() || !parent) break;
    Result<void> made = system.make_directory(current);
    if (made) break;
    const ErrorKind kind = made.error().kind();
    if (kind == ErrorKind::NotFound) {
      missing.push_back(std::move(current));
      current = std::move(*parent);
      continue;
    }
    if (kind == ErrorKind::AlreadyExists && system.is_directory(current)) break;
    return made;
  }

  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    Result<void> made = system.make_directory(*it);
    // Another process may have made it meanwhile.
    if (!made && !(made.error().kind() == ErrorKind::AlreadyExists && system.is_directory(*it))) return made;
  }
  return {};
}

}  // namespace platform
