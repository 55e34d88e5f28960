// The parts of the file-system operations that are the same on every system.
#include "platform/fs.hpp"

#include "platform/directory_walk.hpp"
#include "platform/path.hpp"

namespace platform {

std::string entry_path(const DirectoryEntry& entry) { return join_path(entry.directory, entry.name); }

Result<void> create_directory_all(std::string_view path) {
  if (path.find('\0') != std::string_view::npos) return std::unexpected(nul_in_data_error());
  return create_directory_walk(path, DirectoryWalk{
                                         .parent = [](std::string_view p) { return parent_path(p); },
                                         .make_directory = [](const std::string& p) { return create_directory(p); },
                                         .is_directory =
                                             [](const std::string& p) {
                                               const auto status = path_status(p);
                                               return status && status->kind == FileKind::Directory;
                                             },
                                     });
}

bool is_file(std::string_view path) {
  const auto status = path_status(path);
  return status && status->kind == FileKind::File;
}

}  // namespace platform
