#include <zip.h>
#include <zlib.h>

#include "payload/archive_state.hpp"

namespace payload {

namespace {
// Compressed input per step: large, so that inflation runs long stretches between refills.
constexpr std::size_t input_size = 256 * 1024;
constexpr std::uint16_t method_deflate = 8;
}  // namespace

struct EntryReader::Inflater {
  z_stream stream{};
  std::unique_ptr<std::byte[]> input = std::make_unique_for_overwrite<std::byte[]>(input_size);
  bool input_ended = false;
  bool stream_ended = false;
  std::uint32_t crc = 0;
  std::uint32_t expected_crc = 0;

  Inflater() = default;
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;
  ~Inflater() { inflateEnd(&stream); }
};

EntryReader::EntryReader(zip_file_t* file, std::unique_ptr<Inflater> inflater)
    : file_(file), inflater_(std::move(inflater)) {}
EntryReader::EntryReader(EntryReader&&) noexcept = default;
EntryReader& EntryReader::operator=(EntryReader&&) noexcept = default;
EntryReader::~EntryReader() = default;

std::expected<EntryReader, ArchiveError> EntryReader::open(Archive::State& archive, std::size_t index) {
  const Entry& entry = archive.entries[index];
  std::unique_ptr<Inflater> inflater;
  if (entry.method == method_deflate) {
    inflater = std::make_unique<Inflater>();
    inflater->expected_crc = entry.crc32;
    if (inflateInit2(&inflater->stream, -MAX_WBITS) != Z_OK) {
      return std::unexpected(archive_error_from_libzip(ZIP_ER_MEMORY, 0));
    }
  }
  // Raw bytes for DEFLATE; stored data comes through the library's own CRC-32 check.
  zip_file_t* file = zip_fopen_index(archive.zip.get(), index, inflater ? ZIP_FL_COMPRESSED : 0);
  if (file == nullptr) return std::unexpected(archive_error_from(zip_get_error(archive.zip.get())));
  return EntryReader(file, std::move(inflater));
}

std::expected<std::size_t, ArchiveError> EntryReader::read(std::span<std::byte> buffer) {
  auto fill = [&](std::byte* into, std::size_t size) -> std::expected<std::size_t, ArchiveError> {
    const zip_int64_t n = zip_fread(file_.get(), into, size);
    if (n < 0) return std::unexpected(archive_error_from(zip_file_get_error(file_.get())));
    return static_cast<std::size_t>(n);
  };
  if (!inflater_) return fill(buffer.data(), buffer.size());

  Inflater& in = *inflater_;
  z_stream& z = in.stream;
  z.next_out = reinterpret_cast<Bytef*>(buffer.data());
  z.avail_out = static_cast<uInt>(buffer.size());
  while (z.avail_out > 0 && !in.stream_ended) {
    if (z.avail_in == 0 && !in.input_ended) {
      const auto n = fill(in.input.get(), input_size);
      if (!n) return std::unexpected(n.error());
      in.input_ended = *n == 0;
      z.next_in = reinterpret_cast<Bytef*>(in.input.get());
      z.avail_in = static_cast<uInt>(*n);
    }
    const int result = inflate(&z, Z_NO_FLUSH);
    if (result == Z_STREAM_END || (result == Z_BUF_ERROR && in.input_ended)) {
      // Input that ends before the stream does simply ends the data; the CRC-32 then decides.
      in.stream_ended = true;
    } else if (result == Z_MEM_ERROR) {
      return std::unexpected(archive_error_from_libzip(ZIP_ER_MEMORY, 0));
    } else if (result != Z_OK && result != Z_BUF_ERROR) {
      return std::unexpected(archive_error_from_libzip(ZIP_ER_ZLIB, result));
    }
  }
  const std::size_t produced = buffer.size() - z.avail_out;
  in.crc = static_cast<std::uint32_t>(crc32(in.crc, reinterpret_cast<const Bytef*>(buffer.data()),
                                            static_cast<uInt>(produced)));
  if (produced == 0 && in.crc != in.expected_crc) return std::unexpected(archive_error_from_libzip(ZIP_ER_CRC, 0));
  return produced;
}

}  // namespace payload
