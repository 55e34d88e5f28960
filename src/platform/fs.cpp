// The parts of the file-system operations that are the same on every system.
#include "platform/fs.hpp"

#include "platform/path.hpp"

namespace platform {

std::string entry_path(const DirectoryEntry& entry) { return join_path(entry.directory, entry.name); }

bool is_file(std::string_view path) {
  auto status = path_status(path);
  return status && (status->attributes & 0x10) == 0 && !status->link;
}

}  // namespace platform
