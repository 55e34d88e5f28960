// The archive's central directory read straight from its bytes. This walk decides which directory
// the archive has, and whether it has exactly one; the ZIP library is then shown that directory
// and no other. It also sees what the library hides (NUL bytes in names, the AES extra field).
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "platform/little_endian.hpp"

namespace payload {

// One central-directory record; the views point into the archive's bytes.
struct CentralRecord {
  std::uint64_t offset = 0;           // of the record itself
  std::uint16_t version_made_by = 0;  // high byte: host system
  std::uint16_t flags = 0;
  std::uint16_t method = 0;
  std::uint32_t crc32 = 0;
  std::uint64_t compressed_size = 0;
  std::uint64_t uncompressed_size = 0;
  std::uint32_t external_attributes = 0;
  std::uint64_t local_header_offset = 0;
  std::uint64_t data_offset = 0;  // where the entry's data begins, after its local header
  std::string_view name;          // the stored bytes, undecoded
  std::string_view extra;         // the central extra field
  std::string_view local_extra;   // the local header's extra field
};

struct CentralDirectory {
  std::vector<CentralRecord> records;  // in directory order
  std::uint64_t offset = 0;            // where the directory begins
  std::uint64_t size = 0;
};

enum class DirectoryFault {
  NoEndRecord,        // the last end record is malformed or leads to no sound directory
  MultiDisk,          // the last end record describes a multi-disk archive
  Ambiguous,          // two end records lead to two different sound directories
  TooManyEndRecords,  // more different directories are declared than are read to tell
};

// The directory the last end record declares (with its ZIP64 form), as every common reader takes
// it: bytes after that record's comment are tolerated, but when its directory is unsound, or does
// not end where the record (or its ZIP64 form) begins, there is no falling back on an earlier end
// record. Every record, and the local header it points to, must
// be sound (signatures, bounds, extra fields, no second ZIP64 or Unicode-path field) and agree on
// what decides the reading (name, method, flag bits 0 and 3, and CRC-32 and sizes unless a data
// descriptor follows the data). The entries lie back to back from the archive's first byte up to
// the directory, each followed by its data descriptor when it has one and by nothing else: bytes
// that no entry owns are what readers that walk the local headers in turn (a stream, 7-Zip) read
// as entries of their own. A second sound directory that an earlier end record declares makes the
// archive ambiguous (unless that record lies inside an entry: a stored archive). Each different
// directory is read once, however many end records declare it, and a bounded number in all.
[[nodiscard]] std::expected<CentralDirectory, DirectoryFault> read_central_directory(std::span<const std::byte> archive);

// Calls `visit(id, data)` for each field of an extra block, in order. False when a field runs past
// the block or anything but up to three zero bytes of padding follows the last field; the fields
// before the fault have been visited.
template <typename Visit>
bool for_each_extra_field(std::string_view extra, Visit&& visit);

// The data of the first extra field with this id, or none.
std::optional<std::string_view> find_extra_field(std::string_view extra, std::uint16_t id);

inline constexpr std::uint16_t extra_zip64 = 0x0001;
inline constexpr std::uint16_t extra_unicode_path = 0x7075;
inline constexpr std::uint16_t extra_aes = 0x9901;

inline constexpr std::uint16_t flag_encrypted = 1 << 0;
inline constexpr std::uint16_t flag_data_descriptor = 1 << 3;
inline constexpr std::uint16_t flag_strong_encryption = 1 << 6;
inline constexpr std::uint16_t flag_utf8 = 1 << 11;
inline constexpr std::uint16_t method_stored = 0;
inline constexpr std::uint16_t method_deflate = 8;
inline constexpr std::uint16_t method_aes = 99;

template <typename Visit>
bool for_each_extra_field(std::string_view extra, Visit&& visit) {
  const platform::little_endian::Bytes b(extra);
  std::uint64_t at = 0;
  while (const auto header = b.record<4>(at)) {
    const auto data = b.text(at + 4, header->u16<2>());
    if (!data) return false;
    visit(header->u16<0>(), *data);
    at += 4 + data->size();
  }
  return extra.substr(static_cast<std::size_t>(at)).find_first_not_of('\0') == std::string_view::npos;
}

}  // namespace payload
