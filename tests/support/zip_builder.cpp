#include "support/zip_builder.hpp"

#include <zlib.h>

#include <stdexcept>

namespace test_support {

namespace {

void put16(std::string& out, std::uint32_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}
void put32(std::string& out, std::uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}
void put64(std::string& out, std::uint64_t v) {
  put32(out, static_cast<std::uint32_t>(v));
  put32(out, static_cast<std::uint32_t>(v >> 32));
}

constexpr std::uint16_t dos_time = (12 << 11) | (30 << 5);       // 12:30:00
constexpr std::uint16_t dos_date = ((1999 - 1980) << 9) | (6 << 5) | 15;  // 1999-06-15

}  // namespace

std::string raw_deflate(std::string_view data) {
  z_stream z{};
  if (deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) throw std::runtime_error("deflateInit2");
  std::string out(deflateBound(&z, data.size()), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&z, Z_FINISH);
  deflateEnd(&z);
  if (result != Z_STREAM_END) throw std::runtime_error("deflate");
  out.resize(z.total_out);
  return out;
}

std::uint32_t crc32_of(std::string_view data) {
  return static_cast<std::uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

std::string extra_field(std::uint16_t id, std::string_view data) {
  std::string out;
  put16(out, id);
  put16(out, static_cast<std::uint32_t>(data.size()));
  out += data;
  return out;
}

std::string unicode_path_field(std::string_view stored_name, std::string_view utf8_name) {
  std::string data(1, '\x01');
  put32(data, crc32_of(stored_name));
  data += utf8_name;
  return extra_field(0x7075, data);
}

std::string aes_field() {
  std::string data;
  put16(data, 2);  // AE-2
  data += "AE";
  data += '\x03';  // 256-bit
  put16(data, 8);  // the actual method
  return extra_field(0x9901, data);
}

ZipEntry unix_link(std::string name, std::string target) {
  ZipEntry entry;
  entry.name = std::move(name);
  entry.data = std::move(target);
  entry.method = 0;
  entry.version_made_by = (3 << 8) | 30;
  entry.external_attributes = 0120777u << 16;
  return entry;
}

static std::string stored_bytes(const ZipEntry& e) {
  return e.compressed ? *e.compressed : (e.method == 8 ? raw_deflate(e.data) : e.data);
}

std::string local_entry(const ZipEntry& e) {
  const std::string payload = stored_bytes(e);
  const std::string& name = e.local_name ? *e.local_name : e.name;
  std::string out;
  put32(out, 0x04034b50);
  put16(out, 20);
  put16(out, e.local_flags.value_or(e.flags));
  put16(out, e.local_method.value_or(e.method));
  put16(out, dos_time);
  put16(out, dos_date);
  put32(out, e.local_crc32.value_or(e.crc32.value_or(crc32_of(e.data))));
  put32(out, e.local_compressed_size.value_or(static_cast<std::uint32_t>(payload.size())));
  put32(out, e.local_uncompressed_size.value_or(e.uncompressed_size.value_or(static_cast<std::uint32_t>(e.data.size()))));
  put16(out, static_cast<std::uint32_t>(name.size()));
  put16(out, static_cast<std::uint32_t>(e.extra.size()));
  out += name;
  out += e.extra;
  out += payload;
  if (e.descriptor) {
    out += *e.descriptor;
  } else if (e.flags & 0x08) {  // the data descriptor the flag announces, with its signature
    put32(out, 0x08074b50);
    put32(out, e.crc32.value_or(crc32_of(e.data)));
    put32(out, static_cast<std::uint32_t>(payload.size()));
    put32(out, e.uncompressed_size.value_or(static_cast<std::uint32_t>(e.data.size())));
  }
  return out;
}

std::string central_record(const ZipEntry& e, std::uint32_t local_offset) {
  std::string out;
  put32(out, 0x02014b50);
  put16(out, e.version_made_by);
  put16(out, 20);
  put16(out, e.flags);
  put16(out, e.method);
  put16(out, dos_time);
  put16(out, dos_date);
  put32(out, e.crc32.value_or(crc32_of(e.data)));
  put32(out, static_cast<std::uint32_t>(stored_bytes(e).size()));
  put32(out, e.uncompressed_size.value_or(static_cast<std::uint32_t>(e.data.size())));
  put16(out, static_cast<std::uint32_t>(e.name.size()));
  put16(out, static_cast<std::uint32_t>(e.extra.size()));
  put16(out, static_cast<std::uint32_t>(e.comment.size()));
  put16(out, 0);  // disk number start
  put16(out, 0);  // internal attributes
  put32(out, e.external_attributes);
  put32(out, local_offset);
  out += e.name;
  out += e.extra;
  out += e.comment;
  return out;
}

std::string end_record(std::uint16_t entries, std::uint32_t directory_size, std::uint32_t directory_offset,
                       std::string_view comment) {
  std::string out;
  put32(out, 0x06054b50);
  put16(out, 0);
  put16(out, 0);
  put16(out, entries);
  put16(out, entries);
  put32(out, directory_size);
  put32(out, directory_offset);
  put16(out, static_cast<std::uint32_t>(comment.size()));
  out += comment;
  return out;
}

Zip build_zip(const std::vector<ZipEntry>& entries, const ZipLayout& layout) {
  Zip zip;
  std::string& out = zip.bytes;
  std::vector<std::uint32_t> offsets;
  for (const ZipEntry& e : entries) {
    offsets.push_back(static_cast<std::uint32_t>(out.size()));
    out += local_entry(e);
  }

  zip.directory_offset = out.size();
  for (std::size_t i = 0; i < entries.size(); ++i) out += central_record(entries[i], offsets[i]);
  const std::size_t directory_size = out.size() - zip.directory_offset;
  const auto count = static_cast<std::uint16_t>(entries.size());
  const std::uint64_t count64 = entries.size();

  if (layout.zip64) {
    const std::size_t zip64_end = out.size();
    put32(out, 0x06064b50);
    put64(out, 44);  // size of the rest of the record
    put16(out, 45);
    put16(out, 45);
    put32(out, layout.this_disk);
    put32(out, layout.directory_disk);
    put64(out, layout.entries_on_disk ? *layout.entries_on_disk : count64);
    put64(out, layout.entries_total ? *layout.entries_total : count64);
    put64(out, directory_size);
    put64(out, zip.directory_offset);
    put32(out, 0x07064b50);
    put32(out, 0);
    put64(out, zip64_end);
    put32(out, 1);
  }

  zip.end_offset = out.size();
  put32(out, 0x06054b50);
  put16(out, layout.this_disk);
  put16(out, layout.directory_disk);
  put16(out, layout.zip64 ? 0xFFFF : layout.entries_on_disk.value_or(count));
  put16(out, layout.zip64 ? 0xFFFF : layout.entries_total.value_or(count));
  put32(out, layout.zip64 ? 0xFFFFFFFF : static_cast<std::uint32_t>(directory_size));
  put32(out, layout.zip64 ? 0xFFFFFFFF : static_cast<std::uint32_t>(zip.directory_offset));
  put16(out, static_cast<std::uint32_t>(layout.comment.size()));
  out += layout.comment;
  out += layout.after_end;
  return zip;
}

std::string with_end_record_copies(std::vector<ZipEntry> entries, int copies) {
  // The comment's length is known before the directory's size is: a placeholder end record first.
  entries.back().comment = std::string(static_cast<std::size_t>(copies) * 22, '\0');
  const Zip sized = build_zip(entries);
  std::string copy = sized.bytes.substr(sized.end_offset, 22);
  entries.back().comment.clear();
  for (int i = 0; i < copies; ++i) entries.back().comment += copy;
  return build_zip(entries).bytes;
}

}  // namespace test_support
