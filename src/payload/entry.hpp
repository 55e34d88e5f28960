// What the extraction knows of one entry, and the decisions made from that alone.
#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>

#include "payload/archive_error.hpp"
#include "payload/central_directory.hpp"

namespace payload {

struct Entry {
  std::string name;  // decoded
  bool encrypted = false;
  std::uint16_t method = 0;
  bool aes = false;  // carries an AES extra field
  std::uint32_t crc32 = 0;
  std::uint64_t compressed_size = 0;
  std::uint64_t uncompressed_size = 0;
  std::uint64_t data_offset = 0;  // where its data begins in the archive
  std::uint8_t host_system = 0;  // 3 = Unix
  std::uint32_t external_attributes = 0;
};

// The entry a record describes; an entry without one name (decode_entry_name) is refused.
[[nodiscard]] std::expected<Entry, ArchiveError> describe_entry(const CentralRecord& record);

// The refusal that comes before anything else about an entry (encryption, method, AES), if any.
std::optional<ArchiveError> entry_refusal(const Entry& entry);

// A link when the entry's Unix mode says so (host 3, the whole file type 0xA000); else a directory
// when its name ends with a separator, a file otherwise.
enum class EntryKind { Link, Directory, File };
EntryKind entry_kind(const Entry& entry);

// Whether the entry's attributes say another kind than its name: a directory (by its Unix mode or
// its MS-DOS attribute) named as a file, a Unix file mode named or marked as a directory, a device
// or pipe, or an MS-DOS volume label. Other readers make what the attributes say, or skip it.
bool kind_is_ambiguous(const Entry& entry);

// Whether two entries reach one output path, as Windows compares names (file_name_key), or a file
// or link entry's path lies on another entry's way as a folder. Folders may be named any number of
// times. Entries without a path are left to the extraction, which refuses them.
bool reach_one_path_twice(std::span<const Entry> entries);

// The names of the archive's directory entries, as they stand.
std::unordered_set<std::string_view> directory_entry_names(std::span<const Entry> entries);

// Whether a link to `target` is made of directory kind: the archive holds a directory entry named
// exactly so, or the target names an existing directory (as `is_directory` answers; UNC, device,
// verbatim and NT paths are never asked about).
bool link_is_directory(std::string_view target, const std::unordered_set<std::string_view>& directory_names,
                       const std::function<bool(std::string_view)>& is_directory);

}  // namespace payload
