#include "payload/central_directory.hpp"

#include <algorithm>

namespace payload {

namespace {

constexpr std::uint32_t local_signature = 0x04034b50;
constexpr std::uint32_t central_signature = 0x02014b50;
constexpr std::uint32_t end_signature = 0x06054b50;
constexpr std::uint32_t zip64_end_signature = 0x06064b50;
constexpr std::uint32_t zip64_locator_signature = 0x07064b50;

constexpr std::size_t local_header_size = 30;
constexpr std::size_t central_header_size = 46;
constexpr std::size_t end_size = 22;
constexpr std::size_t zip64_locator_size = 20;
constexpr std::size_t zip64_end_size = 56;
// The end record lies within its maximal comment, plus a ZIP64 locator, of the end.
constexpr std::size_t end_search_window = end_size + 0xFFFF + zip64_locator_size;

// Little-endian reads from a bounds-checked view.
class Bytes {
 public:
  explicit Bytes(std::span<const std::byte> bytes) : bytes_(bytes) {}
  std::uint64_t size() const { return bytes_.size(); }
  bool fits(std::uint64_t offset, std::uint64_t length) const {
    return offset <= bytes_.size() && length <= bytes_.size() - offset;
  }
  std::uint64_t read(std::uint64_t offset, int width) const {
    std::uint64_t value = 0;
    for (int i = width - 1; i >= 0; --i) {
      value = (value << 8) | std::to_integer<std::uint8_t>(bytes_[offset + static_cast<std::size_t>(i)]);
    }
    return value;
  }
  std::uint16_t u16(std::uint64_t offset) const { return static_cast<std::uint16_t>(read(offset, 2)); }
  std::uint32_t u32(std::uint64_t offset) const { return static_cast<std::uint32_t>(read(offset, 4)); }
  std::uint64_t u64(std::uint64_t offset) const { return read(offset, 8); }
  std::string_view text(std::uint64_t offset, std::uint64_t length) const {
    return {reinterpret_cast<const char*>(bytes_.data()) + offset, static_cast<std::size_t>(length)};
  }

 private:
  std::span<const std::byte> bytes_;
};

std::uint16_t le16(std::string_view s, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(s[at]) |
                                    (static_cast<unsigned char>(s[at + 1]) << 8));
}

std::uint64_t le64(std::string_view s, std::size_t at) {
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(s[at + i]);
  return value;
}

// Each field's header and data lie inside the block; up to three zero bytes of padding may follow.
bool extra_fields_sound(std::string_view extra) {
  std::size_t at = 0;
  while (extra.size() - at >= 4) {
    const std::size_t length = le16(extra, at + 2);
    if (length > extra.size() - at - 4) return false;
    at += 4 + length;
  }
  return std::all_of(extra.begin() + static_cast<std::ptrdiff_t>(at), extra.end(),
                     [](char c) { return c == '\0'; });
}

// Replaces the 32-bit fields saturated at 0xFFFFFFFF with their ZIP64 values.
bool apply_zip64(CentralRecord& record, std::uint32_t compressed, std::uint32_t uncompressed,
                 std::uint32_t offset) {
  constexpr std::uint32_t saturated = 0xFFFFFFFF;
  if (compressed != saturated && uncompressed != saturated && offset != saturated) return true;
  const auto field = find_extra_field(record.extra, extra_zip64);
  if (!field) return false;
  std::size_t at = 0;
  auto take = [&](std::uint64_t& out) {
    if (field->size() - at < 8) return false;
    out = le64(*field, at);
    at += 8;
    return true;
  };
  if (uncompressed == saturated && !take(record.uncompressed_size)) return false;
  if (compressed == saturated && !take(record.compressed_size)) return false;
  if (offset == saturated && !take(record.local_header_offset)) return false;
  return true;
}

struct EndRecord {
  std::uint64_t entries = 0;
  std::uint64_t directory_size = 0;
  std::uint64_t directory_offset = 0;
  std::uint64_t limit = 0;  // where the directory must end at the latest
  bool multi_disk = false;
};

// Reads the end record at `at` (with its ZIP64 form when a locator precedes it), or none when
// the record is not even well-formed.
std::optional<EndRecord> read_end_record(const Bytes& b, std::uint64_t at) {
  const std::uint16_t comment_length = b.u16(at + 20);
  if (!b.fits(at + end_size, comment_length)) return std::nullopt;
  EndRecord end;
  end.multi_disk = b.u16(at + 4) != 0 || b.u16(at + 6) != 0 || b.u16(at + 8) != b.u16(at + 10);
  end.entries = b.u16(at + 10);
  end.directory_size = b.u32(at + 12);
  end.directory_offset = b.u32(at + 16);
  end.limit = at;

  if (at >= zip64_locator_size && b.u32(at - zip64_locator_size) == zip64_locator_signature) {
    const std::uint64_t locator = at - zip64_locator_size;
    const std::uint64_t z = b.u64(locator + 8);
    if (z > locator || locator - z < zip64_end_size || b.u32(z) != zip64_end_signature) return std::nullopt;
    // The classic record's fields may be saturated; the ZIP64 record holds the real values.
    end.multi_disk = b.u32(locator + 4) != 0 || b.u32(locator + 16) > 1 || b.u32(z + 16) != 0 ||
                     b.u32(z + 20) != 0 || b.u64(z + 24) != b.u64(z + 32);
    end.entries = b.u64(z + 32);
    end.directory_size = b.u64(z + 40);
    end.directory_offset = b.u64(z + 48);
    end.limit = z;
  }
  return end;
}

bool local_header_sound(const Bytes& b, const CentralRecord& record, std::uint64_t directory_offset) {
  const std::uint64_t at = record.local_header_offset;
  if (at > directory_offset || directory_offset - at < local_header_size) return false;
  if (b.u32(at) != local_signature) return false;
  const std::uint64_t data = at + local_header_size + b.u16(at + 26) + b.u16(at + 28);
  return data <= directory_offset && b.fits(data, record.compressed_size);
}

std::optional<std::vector<CentralRecord>> read_directory(const Bytes& b, const EndRecord& end) {
  if (end.directory_offset > end.limit || end.directory_size > end.limit - end.directory_offset) {
    return std::nullopt;
  }
  const std::uint64_t directory_end = end.directory_offset + end.directory_size;
  std::vector<CentralRecord> records;
  records.reserve(static_cast<std::size_t>(std::min(end.entries, end.directory_size / central_header_size)));
  std::uint64_t at = end.directory_offset;
  for (std::uint64_t i = 0; i < end.entries; ++i) {
    if (directory_end - at < central_header_size || b.u32(at) != central_signature) return std::nullopt;
    const std::uint64_t name_length = b.u16(at + 28);
    const std::uint64_t extra_length = b.u16(at + 30);
    const std::uint64_t comment_length = b.u16(at + 32);
    const std::uint64_t variable = name_length + extra_length + comment_length;
    if (directory_end - at - central_header_size < variable) return std::nullopt;

    CentralRecord record;
    record.version_made_by = b.u16(at + 4);
    record.flags = b.u16(at + 8);
    record.method = b.u16(at + 10);
    record.crc32 = b.u32(at + 16);
    const std::uint32_t compressed = b.u32(at + 20);
    const std::uint32_t uncompressed = b.u32(at + 24);
    record.external_attributes = b.u32(at + 38);
    const std::uint32_t offset = b.u32(at + 42);
    record.compressed_size = compressed;
    record.uncompressed_size = uncompressed;
    record.local_header_offset = offset;
    record.name = b.text(at + central_header_size, name_length);
    record.extra = b.text(at + central_header_size + name_length, extra_length);
    if (!extra_fields_sound(record.extra)) return std::nullopt;
    if (!apply_zip64(record, compressed, uncompressed, offset)) return std::nullopt;
    if (!local_header_sound(b, record, end.directory_offset)) return std::nullopt;
    records.push_back(record);
    at += central_header_size + variable;
  }
  if (at != directory_end) return std::nullopt;
  return records;
}

}  // namespace

std::expected<std::vector<CentralRecord>, DirectoryFault> read_central_directory(
    std::span<const std::byte> archive) {
  const Bytes b(archive);
  if (b.size() < end_size) return std::unexpected(DirectoryFault::NoEndRecord);
  const std::uint64_t last = b.size() - end_size;
  const std::uint64_t first = b.size() > end_search_window ? b.size() - end_search_window : 0;
  bool multi_disk = false;
  for (std::uint64_t at = last + 1; at-- > first;) {
    if (b.u32(at) != end_signature) continue;
    const auto end = read_end_record(b, at);
    if (!end) continue;
    if (end->multi_disk) {
      multi_disk = true;
      continue;
    }
    if (auto records = read_directory(b, *end)) return std::move(*records);
  }
  return std::unexpected(multi_disk ? DirectoryFault::MultiDisk : DirectoryFault::NoEndRecord);
}

std::optional<std::string_view> find_extra_field(std::string_view extra, std::uint16_t id) {
  std::size_t at = 0;
  while (extra.size() - at >= 4) {
    const std::size_t length = le16(extra, at + 2);
    if (length > extra.size() - at - 4) return std::nullopt;
    if (le16(extra, at) == id) return extra.substr(at + 4, length);
    at += 4 + length;
  }
  return std::nullopt;
}

}  // namespace payload
