#include "support/reference_zip.hpp"

#include <zlib.h>

#include <map>
#include <set>
#include <string_view>
#include <tuple>

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

struct Directory {
  std::uint64_t entries, size, offset, limit;
};

std::map<std::uint16_t, std::string> extra_fields(const std::string& extra, bool& sound) {
  std::map<std::uint16_t, std::string> fields;
  std::size_t at = 0;
  while (extra.size() - at >= 4) {
    const std::size_t id = static_cast<unsigned char>(extra[at]) | static_cast<unsigned char>(extra[at + 1]) << 8;
    const std::size_t length = static_cast<unsigned char>(extra[at + 2]) | static_cast<unsigned char>(extra[at + 3]) << 8;
    if (length > extra.size() - at - 4) {
      sound = false;
      return fields;
    }
    fields.try_emplace(static_cast<std::uint16_t>(id), extra.substr(at + 4, length));
    at += 4 + length;
  }
  sound = extra.find_first_not_of('\0', at) == std::string::npos;
  return fields;
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
  if (result != Z_STREAM_END) return std::nullopt;
  return out;
}

// The records of the declared directory with their data, or none when anything is unsound.
std::optional<std::vector<ReferenceEntry>> read_directory(const Reader& r, const Directory& d) {
  if (d.offset > d.limit || d.size > d.limit - d.offset) return std::nullopt;
  std::vector<ReferenceEntry> entries;
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
    bool sound = true;
    const auto fields = extra_fields(e.extra, sound);
    if (!sound) return std::nullopt;
    if (compressed == 0xFFFFFFFF || size == 0xFFFFFFFF || local == 0xFFFFFFFF) {
      const auto zip64 = fields.find(0x0001);
      if (zip64 == fields.end()) return std::nullopt;
      const Reader values{zip64->second};
      std::uint64_t next = 0;
      for (std::uint64_t* value : {&size, &compressed, &local}) {
        if (*value != 0xFFFFFFFF) continue;
        const auto got = values.get(next, 8);
        if (!got) return std::nullopt;
        *value = *got;
        next += 8;
      }
    }
    // The local header, which must agree with the record.
    if (local > d.offset || d.offset - local < 30 || r.get(local, 4) != 0x04034b50) return std::nullopt;
    const std::uint64_t local_name_length = *r.get(local + 26, 2), local_extra_length = *r.get(local + 28, 2);
    const auto local_name = r.text(local + 30, local_name_length);
    const auto local_extra = r.text(local + 30 + local_name_length, local_extra_length);
    const std::uint64_t data_at = local + 30 + local_name_length + local_extra_length;
    if (!local_name || !local_extra || data_at > d.offset || !r.text(data_at, compressed)) return std::nullopt;
    if (*local_name != e.name || r.get(local + 6, 2) != e.flags || r.get(local + 8, 2) != e.method) return std::nullopt;
    std::uint64_t local_compressed = *r.get(local + 18, 4), local_size = *r.get(local + 22, 4);
    if (local_compressed == 0xFFFFFFFF || local_size == 0xFFFFFFFF) {
      bool local_sound = true;
      const auto local_fields = extra_fields(*local_extra, local_sound);
      const auto zip64 = local_fields.find(0x0001);
      if (zip64 == local_fields.end() || zip64->second.size() < 16) return std::nullopt;
      local_size = *Reader{zip64->second}.get(0, 8);
      local_compressed = *Reader{zip64->second}.get(8, 8);
    }
    const bool descriptor = e.flags & 0x08;
    for (const auto& [local_value, value] : {std::pair<std::uint64_t, std::uint64_t>{*r.get(local + 14, 4), crc},
                                            {local_compressed, compressed}, {local_size, size}}) {
      if (local_value != value && !(descriptor && local_value == 0)) return std::nullopt;
    }

    const std::string stored = *r.text(data_at, compressed);
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
  return entries;
}

}  // namespace

bool refused_for_a_code(std::string_view zlib_message) {
  return zlib_message == "invalid code lengths set" || zlib_message == "invalid literal/lengths set" ||
         zlib_message == "invalid distances set";
}

std::optional<std::vector<ReferenceEntry>> reference_read(std::span<const std::byte> archive) {
  const Reader r{std::string_view(reinterpret_cast<const char*>(archive.data()), archive.size())};
  if (archive.size() < 22) return std::nullopt;
  std::set<std::tuple<std::uint64_t, std::uint64_t, std::uint64_t>> sound;
  std::optional<std::vector<ReferenceEntry>> found;
  const std::uint64_t lowest = archive.size() > 22 + 0xFFFF + 20 ? archive.size() - 22 - 0xFFFF - 20 : 0;
  for (std::uint64_t at = archive.size() - 22 + 1; at-- > lowest;) {
    if (r.get(at, 4) != 0x06054b50 || at + 22 + *r.get(at + 20, 2) > archive.size()) continue;
    Directory d{*r.get(at + 10, 2), *r.get(at + 12, 4), *r.get(at + 16, 4), at};
    bool multi_disk = r.get(at + 4, 2) != 0 || r.get(at + 6, 2) != 0 || r.get(at + 8, 2) != r.get(at + 10, 2);
    if (at >= 20 && r.get(at - 20, 4) == 0x07064b50) {
      const std::uint64_t z = *r.get(at - 12, 8);
      if (z > at - 20 || at - 20 - z < 56 || r.get(z, 4) != 0x06064b50) continue;
      d = {*r.get(z + 32, 8), *r.get(z + 40, 8), *r.get(z + 48, 8), z};
      multi_disk = r.get(at - 16, 4) != 0 || *r.get(at - 4, 4) > 1 || r.get(z + 16, 4) != 0 || r.get(z + 20, 4) != 0 ||
                   r.get(z + 24, 8) != r.get(z + 32, 8);
    }
    if (multi_disk) continue;
    auto entries = read_directory(r, d);
    if (!entries) continue;
    sound.insert(d.entries == 0 ? std::tuple<std::uint64_t, std::uint64_t, std::uint64_t>{}
                                : std::tuple{d.entries, d.size, d.offset});
    if (!found) found = std::move(entries);
  }
  if (sound.size() != 1) return std::nullopt;
  return found;
}

}  // namespace test_support
