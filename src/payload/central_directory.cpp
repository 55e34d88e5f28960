#include "payload/central_directory.hpp"

#include <algorithm>

#include "payload/zip_format.hpp"
#include "platform/little_endian.hpp"

namespace payload {

namespace {

namespace local = zip_format::local_header;
namespace central = zip_format::central_header;
namespace end = zip_format::end_record;
namespace locator = zip_format::zip64_locator;
namespace end64 = zip_format::zip64_end_record;
using platform::little_endian::Bytes;
using zip_format::saturated32;

// End records lie within their maximal comment, plus a ZIP64 locator, of the end.
constexpr std::uint64_t end_search_window = end::size + end::max_comment + locator::size;
// Different directories read in full before the archive is refused: one is the archive's, a second
// makes it ambiguous, and the rest allow for stray signatures that merely look like a directory.
constexpr std::size_t max_directories_read = 8;

// What an end record declares. Two records declaring the same directory are one reading.
struct Declared {
  std::uint64_t entries = 0;
  std::uint64_t size = 0;
  std::uint64_t offset = 0;
  bool operator==(const Declared&) const = default;
};

struct EndRecord {
  Declared directory;
  std::uint64_t limit = 0;  // where the directory must end at the latest
  bool multi_disk = false;
};

// Reads the end record at `at` (with its ZIP64 form when a locator precedes it), or none when the
// record is not even well-formed.
std::optional<EndRecord> read_end_record(const Bytes& b, std::uint64_t at) {
  const auto record = b.record<end::size>(at);
  if (!record || !b.fits(at + end::size, record->u16<end::comment_length>())) return std::nullopt;
  EndRecord found;
  found.multi_disk = record->u16<end::disk>() != 0 || record->u16<end::directory_disk>() != 0 ||
                     record->u16<end::entries_on_disk>() != record->u16<end::entries>();
  found.directory = {record->u16<end::entries>(), record->u32<end::directory_size>(),
                     record->u32<end::directory_offset>()};
  found.limit = at;

  if (at < locator::size) return found;
  const auto zip64 = b.record<locator::size>(at - locator::size);
  if (!zip64 || zip64->u32<0>() != locator::signature) return found;
  const std::uint64_t z = zip64->u64<locator::end_offset>();
  const auto record64 = b.record<end64::size>(z);
  if (z > at - locator::size || at - locator::size - z < end64::size || !record64 ||
      record64->u32<0>() != end64::signature) {
    return std::nullopt;
  }
  // The classic record's fields may be saturated; the ZIP64 record holds the real values.
  found.multi_disk = zip64->u32<locator::end_disk>() != 0 || zip64->u32<locator::disks>() > 1 ||
                     record64->u32<end64::disk>() != 0 || record64->u32<end64::directory_disk>() != 0 ||
                     record64->u64<end64::entries_on_disk>() != record64->u64<end64::entries>();
  found.directory = {record64->u64<end64::entries>(), record64->u64<end64::directory_size>(),
                     record64->u64<end64::directory_offset>()};
  found.limit = z;
  return found;
}

// Whether the declared directory is worth reading: it ends before its end record, and it begins
// with a record (or is empty). A cheap test, so that stray signatures cost nothing.
bool plausible(const Bytes& b, const EndRecord& end_record) {
  const Declared& d = end_record.directory;
  if (d.offset > end_record.limit || d.size > end_record.limit - d.offset) return false;
  if (d.entries == 0) return d.size == 0;
  const auto first = b.record<4>(d.offset);
  return d.size / central::size >= d.entries && first && first->u32<0>() == central::signature;
}

// Replaces the 32-bit fields saturated at 0xFFFFFFFF with their ZIP64 values.
bool apply_zip64(CentralRecord& record, std::uint32_t compressed, std::uint32_t uncompressed, std::uint32_t offset) {
  if (compressed != saturated32 && uncompressed != saturated32 && offset != saturated32) return true;
  const auto field = find_extra_field(record.extra, extra_zip64);
  if (!field) return false;
  const Bytes values(*field);
  std::uint64_t at = 0;
  const auto take = [&](std::uint64_t& out) {
    const auto value = values.record<8>(at);
    if (!value) return false;
    out = value->u64<0>();
    at += 8;
    return true;
  };
  if (uncompressed == saturated32 && !take(record.uncompressed_size)) return false;
  if (compressed == saturated32 && !take(record.compressed_size)) return false;
  if (offset == saturated32 && !take(record.local_header_offset)) return false;
  return true;
}

// A local size or CRC-32 agrees with the central one when equal, or, with a data descriptor after
// the data, when left at zero.
bool agrees(std::uint64_t local_value, std::uint64_t central_value, bool descriptor) {
  return local_value == central_value || (descriptor && local_value == 0);
}

// Finds the record's local header and data, and checks that the header agrees with the record.
bool read_local_header(const Bytes& b, CentralRecord& record, std::uint64_t directory_offset) {
  const std::uint64_t at = record.local_header_offset;
  const auto header = b.record<local::size>(at);
  if (!header || at > directory_offset || directory_offset - at < local::size) return false;
  if (header->u32<0>() != local::signature) return false;
  const std::uint16_t name_length = header->u16<local::name_length>();
  const std::uint16_t extra_length = header->u16<local::extra_length>();
  const auto name = b.text(at + local::size, name_length);
  const auto extra = b.text(at + local::size + name_length, extra_length);
  if (!name || !extra) return false;
  record.data_offset = at + local::size + name_length + extra_length;
  if (record.data_offset > directory_offset || !b.fits(record.data_offset, record.compressed_size)) return false;

  if (*name != record.name || header->u16<local::flags>() != record.flags ||
      header->u16<local::method>() != record.method) {
    return false;
  }
  const bool descriptor = (record.flags & flag_data_descriptor) != 0;
  std::uint64_t compressed = header->u32<local::compressed_size>();
  std::uint64_t uncompressed = header->u32<local::uncompressed_size>();
  if (compressed == saturated32 || uncompressed == saturated32) {
    // A local ZIP64 field holds both sizes, the uncompressed one first.
    const auto field = find_extra_field(*extra, extra_zip64);
    const auto sizes = field ? Bytes(*field).record<16>(0) : std::nullopt;
    if (!sizes) return false;
    uncompressed = sizes->u64<0>();
    compressed = sizes->u64<8>();
  }
  return agrees(header->u32<local::crc32>(), record.crc32, descriptor) &&
         agrees(compressed, record.compressed_size, descriptor) &&
         agrees(uncompressed, record.uncompressed_size, descriptor);
}

std::optional<CentralDirectory> read_directory(const Bytes& b, const Declared& declared) {
  CentralDirectory directory{{}, declared.offset, declared.size};
  const std::uint64_t directory_end = declared.offset + declared.size;
  directory.records.reserve(static_cast<std::size_t>(std::min(declared.entries, declared.size / central::size)));
  std::uint64_t at = declared.offset;
  for (std::uint64_t i = 0; i < declared.entries; ++i) {
    const auto header = b.record<central::size>(at);
    if (!header || directory_end - at < central::size || header->u32<0>() != central::signature) return std::nullopt;
    const std::uint64_t name_length = header->u16<central::name_length>();
    const std::uint64_t extra_length = header->u16<central::extra_length>();
    const std::uint64_t comment_length = header->u16<central::comment_length>();
    const std::uint64_t variable = name_length + extra_length + comment_length;
    if (directory_end - at - central::size < variable) return std::nullopt;

    CentralRecord record;
    record.offset = at;
    record.version_made_by = header->u16<central::version_made_by>();
    record.flags = header->u16<central::flags>();
    record.method = header->u16<central::method>();
    record.crc32 = header->u32<central::crc32>();
    const std::uint32_t compressed = header->u32<central::compressed_size>();
    const std::uint32_t uncompressed = header->u32<central::uncompressed_size>();
    const std::uint32_t offset = header->u32<central::local_header_offset>();
    record.external_attributes = header->u32<central::external_attributes>();
    record.compressed_size = compressed;
    record.uncompressed_size = uncompressed;
    record.local_header_offset = offset;
    record.name = *b.text(at + central::size, name_length);
    record.extra = *b.text(at + central::size + name_length, extra_length);
    if (!for_each_extra_field(record.extra, [](std::uint16_t, std::string_view) {})) return std::nullopt;
    if (!apply_zip64(record, compressed, uncompressed, offset)) return std::nullopt;
    if (!read_local_header(b, record, declared.offset)) return std::nullopt;
    directory.records.push_back(record);
    at += central::size + variable;
  }
  if (at != directory_end) return std::nullopt;
  return directory;
}

}  // namespace

std::expected<CentralDirectory, DirectoryFault> read_central_directory(std::span<const std::byte> archive) {
  const Bytes b(archive);
  if (b.size() < end::size) return std::unexpected(DirectoryFault::NoEndRecord);
  const std::uint64_t last = b.size() - end::size;
  const std::uint64_t first = b.size() > end_search_window ? b.size() - end_search_window : 0;

  std::vector<Declared> read;  // every directory read in full, sound or not
  std::optional<CentralDirectory> found;
  bool multi_disk = false;
  for (std::uint64_t at = last + 1; at-- > first;) {
    const auto signature = b.record<4>(at);
    if (!signature || signature->u32<0>() != end::signature) continue;
    auto end_record = read_end_record(b, at);
    if (!end_record) continue;
    if (end_record->multi_disk) {
      multi_disk = true;
      continue;
    }
    if (!plausible(b, *end_record)) continue;
    // Every empty directory is the same reading: no entries.
    if (end_record->directory.entries == 0) end_record->directory = {};
    if (std::ranges::find(read, end_record->directory) != read.end()) continue;
    if (read.size() == max_directories_read) return std::unexpected(DirectoryFault::TooManyEndRecords);
    read.push_back(end_record->directory);
    auto directory = read_directory(b, end_record->directory);
    if (!directory) continue;
    if (found) return std::unexpected(DirectoryFault::Ambiguous);
    found = std::move(directory);
  }
  if (found) return std::move(*found);
  return std::unexpected(multi_disk ? DirectoryFault::MultiDisk : DirectoryFault::NoEndRecord);
}

std::optional<std::string_view> find_extra_field(std::string_view extra, std::uint16_t id) {
  std::optional<std::string_view> found;
  for_each_extra_field(extra, [&](std::uint16_t field, std::string_view data) {
    if (field == id && !found) found = data;
  });
  return found;
}

}  // namespace payload
