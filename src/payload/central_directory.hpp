// The archive's central directory read straight from its bytes. The ZIP library hides some of what
// the extraction must judge (NUL bytes in names, the AES extra field), so the raw records are read
// here as well; this walk is also what decides whether the archive's structure is sound.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace payload {

// One central-directory record; the views point into the archive's bytes.
struct CentralRecord {
  std::uint16_t version_made_by = 0;  // high byte: host system
  std::uint16_t flags = 0;
  std::uint16_t method = 0;
  std::uint32_t crc32 = 0;
  std::uint64_t compressed_size = 0;
  std::uint64_t uncompressed_size = 0;
  std::uint32_t external_attributes = 0;
  std::uint64_t local_header_offset = 0;
  std::string_view name;   // the stored bytes, undecoded
  std::string_view extra;  // the central extra field
};

enum class DirectoryFault {
  NoEndRecord,  // no end record leads to a sound directory
  MultiDisk,    // the only end records found describe a multi-disk archive
};

// Finds the end record searching backwards from the end (bytes after its comment are tolerated),
// honours a ZIP64 end record, and verifies every record and the local header each points to:
// signatures, bounds, a local header before the directory and entry data that begins no later
// than the directory. An end record whose directory fails any of this is passed over.
std::expected<std::vector<CentralRecord>, DirectoryFault> read_central_directory(
    std::span<const std::byte> archive);

// The data of the first extra field with this id, or none.
std::optional<std::string_view> find_extra_field(std::string_view extra, std::uint16_t id);

inline constexpr std::uint16_t extra_zip64 = 0x0001;
inline constexpr std::uint16_t extra_unicode_path = 0x7075;
inline constexpr std::uint16_t extra_aes = 0x9901;

}  // namespace payload
