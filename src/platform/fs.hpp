// File-system operations: directories, status, listings, tree removal, files and links.
// Every path is handed to the system in its native form; no handle is ever inheritable.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/error.hpp"

namespace platform {

// Windows file attributes the callers look at; the POSIX backend reports the same bits.
inline constexpr std::uint32_t attribute_directory = 0x10;
inline constexpr std::uint32_t attribute_normal = 0x80;
inline constexpr std::uint32_t attribute_reparse_point = 0x400;
// The reparse tag of a symbolic link (a name surrogate).
inline constexpr std::uint32_t reparse_tag_symlink = 0xA000000C;

// An entry's status. A link is a symbolic link or junction (on Windows: a reparse point whose
// tag has the name-surrogate bit set).
struct FileStatus {
  std::uint32_t attributes = 0;  // Windows attributes; on POSIX 0x10 for a directory, 0x400 for a link
  std::uint32_t reparse_tag = 0;
  std::uint64_t size = 0;
  bool directory = false;  // a directory and not a link
  bool link = false;
};

// One directory whose parent exists; anything already there under the name, a directory
// included, fails it with the system's error.
Result<void> create_directory(std::string_view path);
Result<void> create_directory_all(std::string_view path);
Result<FileStatus> path_status(std::string_view path);  // links followed
Result<FileStatus> link_status(std::string_view path);  // a link at the end reported itself
bool is_file(std::string_view path);

struct DirectoryEntry {
  std::string directory;  // the listed path as the caller gave it
  std::string name;
};
std::string entry_path(const DirectoryEntry& entry);

// An open listing; owns its search handle and closes it exactly once.
class Listing {
 public:
  Listing(Listing&&) noexcept;
  Listing& operator=(Listing&&) noexcept;
  ~Listing();
  struct State;
  explicit Listing(std::unique_ptr<State> state);

 private:
  friend std::optional<Result<DirectoryEntry>> next_entry(Listing& listing);
  std::unique_ptr<State> state_;
};

Result<Listing> list_directory(std::string_view path);
// The next entry, an error item (after which the listing is at its end), or none at the end.
std::optional<Result<DirectoryEntry>> next_entry(Listing& listing);

Result<void> remove_directory_all(std::string_view path);

// An open file with write access; owns its handle and closes it exactly once.
class File {
 public:
  File(File&&) noexcept;
  File& operator=(File&&) noexcept;
  ~File();
  struct State;
  explicit File(std::unique_ptr<State> state);

 private:
  friend Result<void> write_file(File& file, std::span<const std::byte> bytes);
  std::unique_ptr<State> state_;
};

Result<File> create_file(std::string_view path);
Result<void> write_file(File& file, std::span<const std::byte> bytes);
void close_file(File file);

Result<std::string> resolve_path(std::string_view path);
Result<std::string> read_link(std::string_view path);
Result<void> create_link(std::string_view target, std::string_view link_path, bool directory);

}  // namespace platform
