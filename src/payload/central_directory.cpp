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
using zip_format::saturated16;
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
// record is not well-formed.
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
  // The ZIP64 end record lies directly before its locator, as writers put it: readers that look
  // for it there rather than where the locator points then read this same record.
  const std::uint64_t z = zip64->u64<locator::end_offset>();
  const auto record64 = b.record<end64::size>(z);
  if (at - locator::size < end64::size || z != at - locator::size - end64::size || !record64 ||
      record64->u32<0>() != end64::signature || record64->u64<end64::record_size>() != end64::size - 12) {
    return std::nullopt;
  }
  const Declared declared{record64->u64<end64::entries>(), record64->u64<end64::directory_size>(),
                          record64->u64<end64::directory_offset>()};
  // Each classic field is saturated or says the same, so that a reader taking the classic record
  // as it stands finds the same directory; the disk fields are zero or saturated.
  const auto same = [](std::uint64_t classic, std::uint64_t saturated, std::uint64_t value) {
    return classic == saturated || classic == value;
  };
  if (!same(found.directory.entries, saturated16, declared.entries) ||
      !same(record->u16<end::entries_on_disk>(), saturated16, record64->u64<end64::entries_on_disk>()) ||
      !same(found.directory.size, saturated32, declared.size) ||
      !same(found.directory.offset, saturated32, declared.offset)) {
    return std::nullopt;
  }
  found.multi_disk = !same(record->u16<end::disk>(), saturated16, 0) ||
                     !same(record->u16<end::directory_disk>(), saturated16, 0) ||
                     zip64->u32<locator::end_disk>() != 0 || zip64->u32<locator::disks>() > 1 ||
                     record64->u32<end64::disk>() != 0 || record64->u32<end64::directory_disk>() != 0 ||
                     record64->u64<end64::entries_on_disk>() != record64->u64<end64::entries>();
  found.directory = declared;
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

// The extra fields whose data decides how an entry reads: a second one of these would be read by
// some readers and not by others.
bool one_of_each_decisive_field(std::string_view extra) {
  int zip64 = 0, unicode_path = 0;
  for_each_extra_field(extra, [&](std::uint16_t id, std::string_view) {
    zip64 += id == extra_zip64 ? 1 : 0;
    unicode_path += id == extra_unicode_path ? 1 : 0;
  });
  return zip64 <= 1 && unicode_path <= 1;
}

// The local header's sizes, uncompressed first. Saturated ones come from the local ZIP64 field:
// it holds both sizes, or, under a data descriptor (streaming writers), just the saturated ones.
std::optional<std::pair<std::uint64_t, std::uint64_t>> local_sizes(std::uint32_t uncompressed,
                                                                   std::uint32_t compressed,
                                                                   std::string_view extra, bool descriptor) {
  std::pair<std::uint64_t, std::uint64_t> sizes{uncompressed, compressed};
  const bool both = uncompressed == saturated32 && compressed == saturated32;
  if (uncompressed != saturated32 && compressed != saturated32) return sizes;
  const auto field = find_extra_field(extra, extra_zip64);
  if (!field) return std::nullopt;
  const Bytes values(*field);
  if (const auto pair = values.record<16>(0)) {
    if (uncompressed == saturated32) sizes.first = pair->u64<0>();
    if (compressed == saturated32) sizes.second = pair->u64<8>();
    return sizes;
  }
  const auto one = values.record<8>(0);
  if (!descriptor || both || !one || field->size() != 8) return std::nullopt;
  (uncompressed == saturated32 ? sizes.first : sizes.second) = one->u64<0>();
  return sizes;
}

// A local value agrees with the central one when equal, or, with a data descriptor after the
// data, when left at zero.
bool agrees(std::uint64_t local_value, std::uint64_t central_value, bool descriptor) {
  return local_value == central_value || (descriptor && local_value == 0);
}

// The flag bits that change how an entry's data is read. The others may differ between the two
// headers: compression options, and the name's encoding, which the central record decides.
constexpr std::uint16_t decisive_flags = flag_encrypted | flag_data_descriptor;

// Finds the record's local header and data, and checks that the header agrees with the record on
// what decides the reading: name, method, encryption and data descriptor, and unless a data
// descriptor follows the data, CRC-32 and sizes.
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
  record.local_extra = *extra;
  // The data ends before the directory begins.
  if (record.data_offset > directory_offset || directory_offset - record.data_offset < record.compressed_size) {
    return false;
  }

  if (*name != record.name || ((header->u16<local::flags>() ^ record.flags) & decisive_flags) != 0 ||
      header->u16<local::method>() != record.method) {
    return false;
  }
  if (!for_each_extra_field(*extra, [](std::uint16_t, std::string_view) {}) || !one_of_each_decisive_field(*extra)) {
    return false;
  }
  const bool descriptor = (record.flags & flag_data_descriptor) != 0;
  const auto sizes = local_sizes(header->u32<local::uncompressed_size>(), header->u32<local::compressed_size>(), *extra,
                                 descriptor);
  return sizes && agrees(header->u32<local::crc32>(), record.crc32, descriptor) &&
         agrees(sizes->second, record.compressed_size, descriptor) &&
         agrees(sizes->first, record.uncompressed_size, descriptor);
}

// The bytes of one entry, from its local header to the end of its data.
struct EntrySpan {
  std::uint64_t begin = 0;
  std::uint64_t end = 0;
};

// A directory read in full, with its entries' spans in the order of the archive.
struct Reading {
  CentralDirectory directory;
  std::vector<EntrySpan> spans;
};

namespace descriptor {
inline constexpr std::uint32_t signature = 0x08074b50;
}  // namespace descriptor

// Whether `bytes` are the data descriptor of the record: its CRC-32 and sizes, 32 or 64 bits wide,
// with or without the signature. The length tells the form apart.
bool is_descriptor_of(const Bytes& b, std::uint64_t at, std::uint64_t length, const CentralRecord& r) {
  const bool signed_form = length == 16 || length == 24;
  if (signed_form) {
    const auto signature = b.record<4>(at);
    if (!signature || signature->u32<0>() != descriptor::signature) return false;
    at += 4;
    length -= 4;
  }
  if (length == 12) {
    const auto d = b.record<12>(at);
    return d && d->u32<0>() == r.crc32 && d->u32<4>() == r.compressed_size && d->u32<8>() == r.uncompressed_size;
  }
  if (length == 20) {
    const auto d = b.record<20>(at);
    return d && d->u32<0>() == r.crc32 && d->u64<4>() == r.compressed_size && d->u64<12>() == r.uncompressed_size;
  }
  return false;
}

// Whether stored data under a data descriptor holds what a reader that finds such data's end by
// looking for the descriptor (a stream) would take for it: the signature, then a compressed size
// (32 or 64 bits wide) that is where the signature stands.
bool holds_a_descriptor(const Bytes& b, const CentralRecord& r) {
  const std::string_view data = *b.text(r.data_offset, r.compressed_size);
  constexpr std::string_view signature("PK\x07\x08", 4);
  for (std::size_t at = data.find(signature); at != std::string_view::npos; at = data.find(signature, at + 1)) {
    const Bytes after(data.substr(at + 4));
    const auto narrow = after.record<8>(0);
    const auto wide = after.record<12>(0);
    if ((narrow && narrow->u32<4>() == at) || (wide && wide->u64<4>() == at)) return true;
  }
  return false;
}

// The entries' spans in the order of the archive, or none unless they lie back to back from the
// first byte to the directory with nothing between them but the data descriptors their entries
// announce: every byte up to the directory belongs to one entry, read once.
std::optional<std::vector<EntrySpan>> back_to_back(const Bytes& b, const std::vector<CentralRecord>& records,
                                                   std::uint64_t directory_offset) {
  std::vector<std::size_t> order(records.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::ranges::sort(order, {}, [&](std::size_t i) { return records[i].local_header_offset; });
  std::vector<EntrySpan> spans;
  spans.reserve(records.size());
  std::uint64_t at = 0;
  for (std::size_t k = 0; k < order.size(); ++k) {
    const CentralRecord& r = records[order[k]];
    if (r.local_header_offset != at) return std::nullopt;
    spans.push_back({r.local_header_offset, r.data_offset + r.compressed_size});
    at = spans.back().end;
    const std::uint64_t next = k + 1 < order.size() ? records[order[k + 1]].local_header_offset : directory_offset;
    if (next < at) return std::nullopt;
    if ((r.flags & flag_data_descriptor) != 0) {
      if (!is_descriptor_of(b, at, next - at, r)) return std::nullopt;
      if (r.method == method_stored && holds_a_descriptor(b, r)) return std::nullopt;
      at = next;
    }
  }
  if (records.empty() || at == directory_offset) return spans;
  return std::nullopt;
}

// Whether `at` lies within an entry's bytes.
bool inside_an_entry(const std::vector<EntrySpan>& spans, std::uint64_t at) {
  const auto after = std::ranges::upper_bound(spans, at, {}, &EntrySpan::begin);
  return after != spans.begin() && at < std::prev(after)->end;
}

std::optional<Reading> read_directory(const Bytes& b, const Declared& declared) {
  Reading reading{{{}, declared.offset, declared.size}, {}};
  CentralDirectory& directory = reading.directory;
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
    if (!one_of_each_decisive_field(record.extra)) return std::nullopt;
    if (!apply_zip64(record, compressed, uncompressed, offset)) return std::nullopt;
    if (!read_local_header(b, record, declared.offset)) return std::nullopt;
    directory.records.push_back(record);
    at += central::size + variable;
  }
  if (at != directory_end) return std::nullopt;
  auto spans = back_to_back(b, directory.records, declared.offset);
  if (!spans) return std::nullopt;
  reading.spans = std::move(*spans);
  return reading;
}

// Whether the directory ends where its end record (or ZIP64 end record) begins. Readers find the
// directory back from the end record by its size (zipfile, unzip) or search on from there (bsdtar):
// with bytes between, each reads another place. An empty directory reads the same anywhere.
bool directly_before_its_end_record(const EndRecord& end_record) {
  const Declared& d = end_record.directory;
  return d.entries == 0 || d.offset + d.size == end_record.limit;
}

}  // namespace

std::expected<CentralDirectory, DirectoryFault> read_central_directory(std::span<const std::byte> archive) {
  const Bytes b(archive);
  if (b.size() < end::size) return std::unexpected(DirectoryFault::NoEndRecord);
  const std::uint64_t last = b.size() - end::size;
  const std::uint64_t first = b.size() > end_search_window ? b.size() - end_search_window : 0;

  std::vector<Declared> read;  // every directory read in full, sound or not
  std::optional<Reading> found;
  for (std::uint64_t at = last + 1; at-- > first;) {
    const auto signature = b.record<4>(at);
    if (!signature || signature->u32<0>() != end::signature) continue;
    auto end_record = read_end_record(b, at);
    if (!found) {
      // The last end record decides, as it does for every common reader: when its directory is
      // unsound there is no falling back on an earlier one, which other readers never see.
      if (!end_record) return std::unexpected(DirectoryFault::NoEndRecord);
      if (end_record->multi_disk) return std::unexpected(DirectoryFault::MultiDisk);
      if (!plausible(b, *end_record) || !directly_before_its_end_record(*end_record)) {
        return std::unexpected(DirectoryFault::NoEndRecord);
      }
      if (end_record->directory.entries == 0) end_record->directory = {};
      read.push_back(end_record->directory);
      found = read_directory(b, end_record->directory);
      if (!found) return std::unexpected(DirectoryFault::NoEndRecord);
      continue;
    }
    // An earlier end record inside an entry is that entry's data (a stored archive, say). Any
    // other one that leads to a second, different sound directory is another reading.
    if (inside_an_entry(found->spans, at)) continue;
    if (!end_record || end_record->multi_disk || !plausible(b, *end_record)) continue;
    // Every empty directory is the same reading: no entries.
    if (end_record->directory.entries == 0) end_record->directory = {};
    if (std::ranges::find(read, end_record->directory) != read.end()) continue;
    if (read.size() == max_directories_read) return std::unexpected(DirectoryFault::TooManyEndRecords);
    read.push_back(end_record->directory);
    if (read_directory(b, end_record->directory)) return std::unexpected(DirectoryFault::Ambiguous);
  }
  if (found) return std::move(found->directory);
  return std::unexpected(DirectoryFault::NoEndRecord);
}

std::optional<std::string_view> find_extra_field(std::string_view extra, std::uint16_t id) {
  std::optional<std::string_view> found;
  for_each_extra_field(extra, [&](std::uint16_t field, std::string_view data) {
    if (field == id && !found) found = data;
  });
  return found;
}

}  // namespace payload
