// File-system operations: directories, status, listings, tree removal, files and links.
// Every path is handed to the system in its native form; no handle is ever inheritable.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/error.hpp"
#include "platform/native_handle.hpp"

namespace platform {

// A link is a symbolic link or junction (on Windows: a reparse point whose tag has the
// name-surrogate bit set). Any other reparse point is what it otherwise is.
enum class FileKind { File, Directory, Link };

struct FileStatus {
  FileKind kind = FileKind::File;
  std::uint64_t size = 0;
};

// One directory whose parent exists; anything already there under the name, a directory
// included, fails it with the system's error.
[[nodiscard]] Result<void> create_directory(std::string_view path);
// The directory and its missing parents, outermost first; an existing directory is accepted.
[[nodiscard]] Result<void> create_directory_all(std::string_view path);
[[nodiscard]] Result<FileStatus> path_status(std::string_view path);  // links followed
[[nodiscard]] Result<FileStatus> link_status(std::string_view path);  // a link at the end reported itself
// Yes for a file, links followed; no for anything else and for every failure.
bool is_file(std::string_view path);

struct DirectoryEntry {
  std::string directory;  // the listed path as the caller gave it
  std::string name;
};
std::string entry_path(const DirectoryEntry& entry);

// An open listing; owns its search and closes it exactly once.
class Listing {
 public:
  Listing(Listing&&) noexcept = default;
  Listing& operator=(Listing&&) noexcept = default;

 private:
  friend Result<Listing> list_directory(std::string_view path);
  friend std::optional<Result<DirectoryEntry>> next_entry(Listing& listing);
  Listing(std::string directory, SearchHandle search, std::optional<std::string> first)
      : directory_(std::move(directory)), search_(std::move(search)), first_(std::move(first)) {}

  std::string directory_;
  SearchHandle search_;                // closed at the end, at an error item, or with the listing
  std::optional<std::string> first_;  // an entry the opening of the search already gave
};

[[nodiscard]] Result<Listing> list_directory(std::string_view path);
// The next entry, an error item (after which the listing is at its end), or none at the end.
std::optional<Result<DirectoryEntry>> next_entry(Listing& listing);

// Removes the directory and everything below it, links themselves and never their targets. An
// entry held by another program is tried again after short waits (platform/retry_waits.hpp); what
// still cannot be removed stays, with its parents, and the rest goes. The first failure is the
// result.
[[nodiscard]] Result<void> remove_directory_all(std::string_view path);

// An open file with write access; owns its handle and closes it exactly once.
class File {
 public:
  File(File&&) noexcept = default;
  File& operator=(File&&) noexcept = default;

 private:
  friend Result<File> create_file(std::string_view path);
  friend Result<void> write_file(File& file, std::span<const std::byte> bytes);
  explicit File(KernelHandle handle) : handle_(std::move(handle)) {}

  KernelHandle handle_;
};

[[nodiscard]] Result<File> create_file(std::string_view path);
[[nodiscard]] Result<void> write_file(File& file, std::span<const std::byte> bytes);
void close_file(File file);

// The final path of an existing entry, links resolved (on Windows, with the \\?\ prefix).
[[nodiscard]] Result<std::string> resolve_path(std::string_view path);
[[nodiscard]] Result<std::string> read_link(std::string_view path);
[[nodiscard]] Result<void> create_link(std::string_view target, std::string_view link_path, bool directory);

}  // namespace platform
