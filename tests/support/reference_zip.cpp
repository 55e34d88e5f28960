#include "support/reference_zip.hpp"

#include <zlib.h>

#include <algorithm>
#include <map>
#include <string_view>
#include <tuple>
#include <vector>

#include "payload/entry_name.hpp"
#include "platform/utf8.hpp"
#include "platform/windows_rules.hpp"

namespace test_support {

namespace {

// Little-endian values at an offset, or none past the end.
struct Reader {
  std::string_view bytes;
  std::optional<std::uint64_t> get(std::uint64_t at, int width) const {
    if (at > bytes.size() || bytes.size() - at < static_cast<std::uint64_t>(width)) return std::nullopt;
    std::uint64_t value = 0;
    for (int i = width - 1; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
  }
  std::optional<std::string> text(std::uint64_t at, std::uint64_t length) const {
    if (at > bytes.size() || bytes.size() - at < length) return std::nullopt;
    return std::string(bytes.substr(at, length));
  }
};

constexpr std::uint64_t saturated = 0xFFFFFFFF;

struct Directory {
  std::uint64_t entries = 0, size = 0, offset = 0, limit = 0;
  bool multi_disk = false;
  bool operator<(const Directory& o) const { return std::tie(entries, size, offset) < std::tie(o.entries, o.size, o.offset); }
};

// Every field of an extra block in order, or none when one runs past it, anything but zeros
// follows the last, or a ZIP64 or Unicode-path field comes twice.
std::optional<std::multimap<std::uint16_t, std::string>> extra_fields(const std::string& extra) {
  std::multimap<std::uint16_t, std::string> fields;
  std::size_t at = 0;
  while (extra.size() - at >= 4) {
    const std::size_t id = static_cast<unsigned char>(extra[at]) | static_cast<unsigned char>(extra[at + 1]) << 8;
    const std::size_t length = static_cast<unsigned char>(extra[at + 2]) | static_cast<unsigned char>(extra[at + 3]) << 8;
    if (length > extra.size() - at - 4) return std::nullopt;
    fields.emplace(static_cast<std::uint16_t>(id), extra.substr(at + 4, length));
    at += 4 + length;
  }
  if (extra.find_first_not_of('\0', at) != std::string::npos) return std::nullopt;
  if (fields.count(0x0001) > 1 || fields.count(0x7075) > 1) return std::nullopt;
  return fields;
}

std::optional<std::string> field(const std::multimap<std::uint16_t, std::string>& fields, std::uint16_t id) {
  const auto found = fields.find(id);
  return found == fields.end() ? std::nullopt : std::optional(found->second);
}

// A stream cut short is not read. `undecided`: zlib refused a block's Huffman code, which the
// setup's inflater reads when the code is merely incomplete (payload/inflater.hpp).
std::optional<std::string> inflate_all(const std::string& compressed, std::uint64_t limit, bool& undecided) {
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return std::nullopt;
  std::string out;
  std::string piece(64 * 1024, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
  z.avail_in = static_cast<uInt>(compressed.size());
  int result = Z_OK;
  while (result == Z_OK && out.size() <= limit) {
    z.next_out = reinterpret_cast<Bytef*>(piece.data());
    z.avail_out = static_cast<uInt>(piece.size());
    result = inflate(&z, Z_NO_FLUSH);
    out.append(piece.data(), piece.size() - z.avail_out);
  }
  undecided = result == Z_DATA_ERROR && refused_for_a_code(z.msg);
  inflateEnd(&z);
  if (result != Z_STREAM_END || z.avail_in != 0) return std::nullopt;  // the stream fills its bytes exactly
  return out;
}

// The local header's two sizes, uncompressed first, saturated ones from its ZIP64 field: both
// there, or with a data descriptor only the one saturated.
std::optional<std::pair<std::uint64_t, std::uint64_t>> local_sizes(const Reader& r, std::uint64_t local,
                                                                   const std::string& local_extra, bool descriptor) {
  std::uint64_t size = *r.get(local + 22, 4), compressed = *r.get(local + 18, 4);
  if (size != saturated && compressed != saturated) return std::pair{size, compressed};
  const auto fields = extra_fields(local_extra);
  const auto zip64 = fields ? field(*fields, 0x0001) : std::nullopt;
  if (!zip64) return std::nullopt;
  const Reader values{*zip64};
  if (zip64->size() >= 16) {
    if (size == saturated) size = *values.get(0, 8);
    if (compressed == saturated) compressed = *values.get(8, 8);
    return std::pair{size, compressed};
  }
  if (!descriptor || zip64->size() != 8 || (size == saturated && compressed == saturated)) return std::nullopt;
  (size == saturated ? size : compressed) = *values.get(0, 8);
  return std::pair{size, compressed};
}

// What follows an entry's data before the next entry: its data descriptor when flag bit 3 says so
// (CRC-32 and sizes, 32 or 64 bits wide, with or without the signature), and nothing otherwise. For
// stored data under a descriptor, the data must hold no signature followed by a compressed size
// that is where it stands: a reader that looks for the descriptor would end the entry there.
struct Laid {
  std::uint64_t local, data, end;  // the local header, the data and its end
  std::uint16_t flags, method;
  std::uint32_t crc;
  std::uint64_t compressed, size;
};

bool follows_properly(const Reader& r, const Laid& e, std::uint64_t next) {
  if (next < e.end) return false;
  if (!(e.flags & 0x08)) return next == e.end;
  std::uint64_t at = e.end, length = next - e.end;
  if (length == 16 || length == 24) {
    if (r.get(at, 4) != 0x08074b50) return false;
    at += 4, length -= 4;
  }
  const int width = length == 12 ? 4 : length == 20 ? 8 : 0;
  if (width == 0 || r.get(at, 4) != e.crc || r.get(at + 4, width) != e.compressed ||
      r.get(at + 4 + width, width) != e.size) {
    return false;
  }
  if (e.method != 0) return true;
  for (std::uint64_t p = e.data; p + 4 <= e.end; ++p) {
    if (r.get(p, 4) != 0x08074b50) continue;
    if (r.get(p + 8, 4) == p - e.data || r.get(p + 8, 8) == p - e.data) return false;
  }
  return true;
}

// The records of the declared directory with their data; none when anything is unsound, or the
// entries do not lie back to back from the first byte to the directory.
std::optional<std::vector<ReferenceEntry>> read_directory(const Reader& r, const Directory& d) {
  if (d.offset > d.limit || d.size > d.limit - d.offset || (d.entries == 0 && d.size != 0)) return std::nullopt;
  std::vector<ReferenceEntry> entries;
  std::vector<Laid> laid;
  std::uint64_t at = d.offset;
  const std::uint64_t end = d.offset + d.size;
  for (std::uint64_t i = 0; i < d.entries; ++i) {
    if (end - at < 46 || r.get(at, 4) != 0x02014b50) return std::nullopt;
    ReferenceEntry e;
    e.version_made_by = static_cast<std::uint16_t>(*r.get(at + 4, 2));
    e.flags = static_cast<std::uint16_t>(*r.get(at + 8, 2));
    e.method = static_cast<std::uint16_t>(*r.get(at + 10, 2));
    const auto crc = static_cast<std::uint32_t>(*r.get(at + 16, 4));
    std::uint64_t compressed = *r.get(at + 20, 4), size = *r.get(at + 24, 4);
    const std::uint64_t name_length = *r.get(at + 28, 2), extra_length = *r.get(at + 30, 2),
                        comment_length = *r.get(at + 32, 2);
    e.external_attributes = static_cast<std::uint32_t>(*r.get(at + 38, 4));
    std::uint64_t local = *r.get(at + 42, 4);
    if (end - at - 46 < name_length + extra_length + comment_length) return std::nullopt;
    e.name = *r.text(at + 46, name_length);
    e.extra = *r.text(at + 46 + name_length, extra_length);
    const auto fields = extra_fields(e.extra);
    if (!fields) return std::nullopt;
    if (compressed == saturated || size == saturated || local == saturated) {
      const auto zip64 = field(*fields, 0x0001);
      if (!zip64) return std::nullopt;
      const Reader values{*zip64};
      std::uint64_t next = 0;
      for (std::uint64_t* value : {&size, &compressed, &local}) {
        if (*value != saturated) continue;
        const auto got = values.get(next, 8);
        if (!got) return std::nullopt;
        *value = *got;
        next += 8;
      }
    }
    // The local header, which must agree with the record on what decides the reading.
    if (local > d.offset || d.offset - local < 30 || r.get(local, 4) != 0x04034b50) return std::nullopt;
    const std::uint64_t local_name_length = *r.get(local + 26, 2), local_extra_length = *r.get(local + 28, 2);
    const auto local_name = r.text(local + 30, local_name_length);
    const auto local_extra = r.text(local + 30 + local_name_length, local_extra_length);
    e.local_header_offset = local;
    e.local_extra = local_extra.value_or("");
    e.data_offset = local + 30 + local_name_length + local_extra_length;
    e.compressed_size = compressed;
    if (!local_name || !local_extra || !extra_fields(*local_extra) || e.data_offset > d.offset ||
        d.offset - e.data_offset < compressed) {
      return std::nullopt;
    }
    if (*local_name != e.name || (*r.get(local + 6, 2) ^ e.flags) & 0x09 || r.get(local + 8, 2) != e.method) {
      return std::nullopt;
    }
    const bool descriptor = e.flags & 0x08;
    const auto sizes = local_sizes(r, local, *local_extra, descriptor);
    if (!sizes) return std::nullopt;
    for (const auto& [local_value, value] : {std::pair<std::uint64_t, std::uint64_t>{*r.get(local + 14, 4), crc},
                                            {sizes->second, compressed}, {sizes->first, size}}) {
      if (local_value != value && !(descriptor && local_value == 0)) return std::nullopt;
    }
    laid.push_back({local, e.data_offset, e.data_offset + compressed, e.flags, e.method, crc, compressed, size});

    const std::string stored = *r.text(e.data_offset, compressed);
    std::optional<std::string> data;
    if (e.method == 0) data = stored;
    if (e.method == 8) data = inflate_all(stored, size, e.undecided);
    if (data && data->size() == size &&
        static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data->data()), static_cast<uInt>(data->size()))) ==
            crc) {
      e.data = std::move(data);
    }
    entries.push_back(std::move(e));
    at += 46 + name_length + extra_length + comment_length;
  }
  if (at != end) return std::nullopt;
  std::ranges::sort(laid, {}, &Laid::local);
  for (std::size_t i = 0; i < laid.size(); ++i) {
    const std::uint64_t next = i + 1 < laid.size() ? laid[i + 1].local : d.offset;
    if ((i == 0 && laid[0].local != 0) || !follows_properly(r, laid[i], next)) return std::nullopt;
  }
  return entries;
}

// The end record at `at`, with its ZIP64 form; none when it is not well-formed.
std::optional<Directory> end_record(const Reader& r, std::uint64_t at) {
  if (!r.get(at, 22) || at + 22 + *r.get(at + 20, 2) > r.bytes.size()) return std::nullopt;
  Directory d{*r.get(at + 10, 2), *r.get(at + 12, 4), *r.get(at + 16, 4), at,
              r.get(at + 4, 2) != 0 || r.get(at + 6, 2) != 0 || r.get(at + 8, 2) != r.get(at + 10, 2)};
  if (at < 20 || r.get(at - 20, 4) != 0x07064b50) return d;
  const std::uint64_t z = *r.get(at - 12, 8);
  if (at - 20 < 56 || z != at - 20 - 56 || r.get(z, 4) != 0x06064b50 || r.get(z + 4, 8) != 44) return std::nullopt;
  const Directory full{*r.get(z + 32, 8), *r.get(z + 40, 8), *r.get(z + 48, 8), z, false};
  const auto either = [](std::uint64_t classic, std::uint64_t all_set, std::uint64_t value) {
    return classic == all_set || classic == value;
  };
  if (!either(d.entries, 0xFFFF, full.entries) || !either(*r.get(at + 8, 2), 0xFFFF, *r.get(z + 24, 8)) ||
      !either(d.size, saturated, full.size) || !either(d.offset, saturated, full.offset)) {
    return std::nullopt;
  }
  const bool multi_disk = !either(*r.get(at + 4, 2), 0xFFFF, 0) || !either(*r.get(at + 6, 2), 0xFFFF, 0) ||
                          r.get(at - 16, 4) != 0 || *r.get(at - 4, 4) > 1 || r.get(z + 16, 4) != 0 ||
                          r.get(z + 20, 4) != 0 || r.get(z + 24, 8) != r.get(z + 32, 8);
  return Directory{full.entries, full.size, full.offset, z, multi_disk};
}

std::optional<std::string> central_name(const ReferenceEntry& e);

// The name an entry is listed under, or none when its Unicode-path field and its stored name
// disagree where readers differ on which to take.
std::optional<std::string> listed_name(const ReferenceEntry& e) {
  auto name = central_name(e);
  // A Unicode-path field in the local header must say the same (bsdtar takes it from there).
  const auto local_fields = extra_fields(e.local_extra);
  const auto local = local_fields ? field(*local_fields, 0x7075) : std::nullopt;
  if (name && local && (local->size() < 5 || platform::utf8::decode_lossy(local->substr(5)) != *name)) return std::nullopt;
  return name;
}

std::optional<std::string> central_name(const ReferenceEntry& e) {
  const bool utf8 = e.flags & 0x0800;
  std::string name = utf8 ? platform::utf8::decode_lossy(e.name) : payload::decode_cp437(e.name);
  const auto fields = extra_fields(e.extra);
  const auto unicode = fields ? field(*fields, 0x7075) : std::nullopt;
  const std::string unicode_bytes = unicode.value_or("");
  const Reader u{unicode_bytes};
  if (!unicode || u.get(0, 1) != 1 || !u.get(1, 4) ||
      *u.get(1, 4) != crc32(0, reinterpret_cast<const Bytef*>(e.name.data()), static_cast<uInt>(e.name.size()))) {
    return name;
  }
  const std::string field_name = platform::utf8::decode_lossy(unicode->substr(5));
  const bool ascii = std::ranges::all_of(e.name, [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if ((!utf8 && !ascii) || field_name == name) return field_name;
  return std::nullopt;
}

// Whether the attributes say the kind the name says, or nothing: a Unix mode of a directory, or the
// MS-DOS directory attribute, only with a name that ends in a separator; a Unix file mode only
// without one; no mode of a device or pipe, no volume label. A link's mode says nothing about its
// name.
bool one_kind(const ReferenceEntry& e, const std::string& name) {
  const bool named_directory = !name.empty() && (name.back() == '/' || name.back() == '\\');
  const std::uint32_t type = (e.version_made_by >> 8) == 3 ? (e.external_attributes >> 16) & 0xF000 : 0;
  if (e.external_attributes & 0x08) return false;  // a volume label
  switch (type) {
    case 0xA000: return true;
    case 0x4000: return named_directory;
    case 0x8000: return !named_directory && !(e.external_attributes & 0x10);
    case 0: return named_directory || !(e.external_attributes & 0x10);
    default: return false;
  }
}

// The folders and files the names reach, as Windows compares names; false when two entries reach
// one file, or a file lies on another entry's way.
bool one_file_each(const std::vector<ReferenceEntry>& entries) {
  std::map<std::vector<std::u16string>, bool> reached;  // path -> is a folder
  for (const ReferenceEntry& e : entries) {
    std::vector<std::u16string> path;
    bool named = true;
    std::u16string piece;
    for (std::size_t i = 0; i <= e.listed_name.size() && named; ++i) {
      const bool separator = i == e.listed_name.size() || e.listed_name[i] == '/' || e.listed_name[i] == '\\';
      if (!separator) continue;
      std::size_t start = i;
      while (start > 0 && e.listed_name[start - 1] != '/' && e.listed_name[start - 1] != '\\') --start;
      const std::string part = e.listed_name.substr(start, i - start);
      if (part == "..") {
        named = !path.empty();
        if (named) path.pop_back();
      } else if (part.find(':') != std::string::npos || part.find('\0') != std::string::npos) {
        named = false;
      } else if (!part.empty() && part != ".") {
        std::u16string key;
        std::string trimmed = part;
        while (!trimmed.empty() && (trimmed.back() == '.' || trimmed.back() == ' ')) trimmed.pop_back();
        for (std::size_t at = 0; at < trimmed.size();) {
          const auto c = platform::utf8::decode(std::string_view(trimmed).substr(at));
          const char32_t code = c ? c->code_point : U'\uFFFD';
          at += c ? c->length : c.error();
          if (code < 0x10000) {
            key += platform::windows_rules::upcase(static_cast<char16_t>(code));
          } else {
            platform::utf8::append_utf16(key, code);
          }
        }
        path.push_back(key);
      }
    }
    if (!named || (!e.listed_name.empty() && (e.listed_name[0] == '/' || e.listed_name[0] == '\\'))) continue;
    const bool directory = !e.listed_name.empty() && (e.listed_name.back() == '/' || e.listed_name.back() == '\\') &&
                           !((e.version_made_by >> 8) == 3 && e.external_attributes != 0 &&
                             ((e.external_attributes >> 16) & 0xA000) == 0xA000);
    for (std::size_t k = 1; k <= path.size(); ++k) {
      const std::vector<std::u16string> prefix(path.begin(), path.begin() + static_cast<std::ptrdiff_t>(k));
      const bool folder = directory || k < path.size();
      const auto [found, fresh] = reached.emplace(prefix, folder);
      if (!fresh && !(folder && found->second)) return false;
    }
  }
  return true;
}

}  // namespace

bool refused_for_a_code(std::string_view zlib_message) {
  return zlib_message == "invalid code lengths set" || zlib_message == "invalid literal/lengths set" ||
         zlib_message == "invalid distances set";
}

std::optional<std::vector<ReferenceEntry>> reference_read(std::span<const std::byte> archive) {
  const Reader r{std::string_view(reinterpret_cast<const char*>(archive.data()), archive.size())};
  if (archive.size() < 22) return std::nullopt;
  std::vector<std::uint64_t> ends;  // the end signatures within reach of the end, last first
  const std::uint64_t lowest = archive.size() > 22 + 0xFFFF + 20 ? archive.size() - 22 - 0xFFFF - 20 : 0;
  for (std::uint64_t at = archive.size() - 22 + 1; at-- > lowest;) {
    if (r.get(at, 4) == 0x06054b50) ends.push_back(at);
  }
  // The last end record decides.
  if (ends.empty()) return std::nullopt;
  const auto decided = end_record(r, ends[0]);
  if (!decided || decided->multi_disk) return std::nullopt;
  auto entries = read_directory(r, *decided);
  if (!entries) return std::nullopt;
  // Readers find the directory back from the end record by its size: it must end right there.
  if (decided->entries > 0 && decided->offset + decided->size != decided->limit) return std::nullopt;
  // No earlier end record outside the entries' bytes leads to another sound directory.
  const auto normal = [](Directory d) { return d.entries == 0 ? Directory{} : d; };
  for (std::size_t i = 1; i < ends.size(); ++i) {
    const bool inside = std::ranges::any_of(*entries, [&](const ReferenceEntry& e) {
      return ends[i] >= e.local_header_offset && ends[i] < e.data_offset + e.compressed_size;
    });
    const auto other = end_record(r, ends[i]);
    if (inside || !other || other->multi_disk) continue;
    if (!(normal(*other) < normal(*decided)) && !(normal(*decided) < normal(*other))) continue;
    if (read_directory(r, *other)) return std::nullopt;
  }
  // Each entry has one name, and names one file of its own, of one kind.
  for (ReferenceEntry& e : *entries) {
    auto name = listed_name(e);
    if (!name || !one_kind(e, *name)) return std::nullopt;
    e.listed_name = std::move(*name);
  }
  if (!one_file_each(*entries)) return std::nullopt;
  return entries;
}

}  // namespace test_support
