// Writes ZIP archives byte by byte, so that tests can make the archives no ordinary tool makes:
// NUL bytes in names, flags without the matching data, unknown methods, wrong CRC-32 values,
// damaged or cut DEFLATE streams, Unix link entries, multi-disk end records and more.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace test_support {

struct ZipEntry {
  std::string name;  // the stored bytes, as they are
  std::string data;  // the uncompressed content
  std::uint16_t method = 8;  // 8 deflates `data`; any other value stores it unchanged
  std::uint16_t flags = 0;
  std::uint16_t version_made_by = 20;  // high byte: host system
  std::uint32_t external_attributes = 0;
  std::string extra;  // extra field, in both headers
  std::string comment;  // the entry's comment, in the central record
  std::optional<std::uint32_t> crc32;     // instead of the CRC-32 of `data`
  std::optional<std::string> compressed;  // the stored data bytes, instead of the builder's own
  std::optional<std::uint32_t> uncompressed_size;  // instead of the size of `data`
  // Where the local header differs from the central record (absent: the same).
  std::optional<std::string> local_name;
  std::optional<std::uint16_t> local_flags;
  std::optional<std::uint16_t> local_method;
  std::optional<std::uint32_t> local_crc32;
  std::optional<std::uint32_t> local_compressed_size;
  std::optional<std::uint32_t> local_uncompressed_size;
  // The bytes after the data, instead of the data descriptor that flag bit 3 announces.
  std::optional<std::string> descriptor;
};

struct ZipLayout {
  std::uint16_t this_disk = 0;
  std::uint16_t directory_disk = 0;
  std::optional<std::uint16_t> entries_on_disk;  // default: the number of entries
  std::optional<std::uint16_t> entries_total;    // default: the number of entries
  std::string comment;
  std::string after_end;  // bytes after the end record's comment
  bool zip64 = false;     // a ZIP64 end record and locator, the classic record saturated
};

struct Zip {
  std::string bytes;
  std::size_t directory_offset = 0;
  std::size_t end_offset = 0;  // of the classic end record
  std::span<const std::byte> span() const {
    return {reinterpret_cast<const std::byte*>(bytes.data()), bytes.size()};
  }
};

Zip build_zip(const std::vector<ZipEntry>& entries, const ZipLayout& layout = {});

// The pieces, for archives no layout describes (two directories, many end records): an entry's
// local header and data (and its data descriptor when flag bit 3 is set); its central record
// pointing at `local_offset`; an end record.
std::string local_entry(const ZipEntry& entry);
std::string central_record(const ZipEntry& entry, std::uint32_t local_offset);
std::string end_record(std::uint16_t entries, std::uint32_t directory_size, std::uint32_t directory_offset,
                       std::string_view comment = {});

// The entries and their directory, whose last record's comment holds `copies` copies of the
// directory's own end record, then that end record.
std::string with_end_record_copies(std::vector<ZipEntry> entries, int copies);

// A raw DEFLATE stream (no zlib header), as ZIP method 8 stores it.
std::string raw_deflate(std::string_view data);
std::uint32_t crc32_of(std::string_view data);

std::string extra_field(std::uint16_t id, std::string_view data);
// The Unicode-path extra field (0x7075) for a stored name.
std::string unicode_path_field(std::string_view stored_name, std::string_view utf8_name);
// An AES extra field (0x9901): AE-2, 256-bit, actual method 8.
std::string aes_field();

// A Unix symbolic-link entry (host 3, mode 0120777) whose data is the target.
ZipEntry unix_link(std::string name, std::string target);

}  // namespace test_support
