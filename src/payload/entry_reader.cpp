#include <zip.h>
#include <zlib.h>

#include <algorithm>

#include "payload/archive_state.hpp"

namespace payload {

namespace {
// Compressed input per step: large, so that inflation runs long stretches between refills.
constexpr std::size_t input_size = 256 * 1024;

ArchiveError checksum_mismatch() { return archive_error_from_libzip(ZIP_ER_CRC, 0); }
}  // namespace

struct EntryReader::Inflater {
  z_stream stream{};
  std::unique_ptr<std::byte[]> input = std::make_unique_for_overwrite<std::byte[]>(input_size);
  bool input_ended = false;
  bool stream_ended = false;

  Inflater() = default;
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;
  ~Inflater() { inflateEnd(&stream); }
};

EntryReader::EntryReader(zip_file_t* file, const Entry& entry, std::unique_ptr<Inflater> inflater)
    : file_(file),
      inflater_(std::move(inflater)),
      raw_left_(entry.compressed_size),
      expected_size_(entry.uncompressed_size),
      expected_crc_(entry.crc32) {}
EntryReader::EntryReader(EntryReader&&) noexcept = default;
EntryReader& EntryReader::operator=(EntryReader&&) noexcept = default;
EntryReader::~EntryReader() = default;

std::expected<EntryReader, ArchiveError> EntryReader::open(ArchiveState& archive, std::size_t index) {
  const Entry& entry = archive.entries[index];
  std::unique_ptr<Inflater> inflater;
  if (entry.method == method_deflate) {
    inflater = std::make_unique<Inflater>();
    if (inflateInit2(&inflater->stream, -MAX_WBITS) != Z_OK) {
      return std::unexpected(archive_error_from_libzip(ZIP_ER_MEMORY, 0));
    }
  }
  // The raw bytes, whatever the method: the checks are ours.
  zip_file_t* file = zip_fopen_index(archive.zip.get(), index, ZIP_FL_COMPRESSED);
  if (file == nullptr) return std::unexpected(archive_error_from(zip_get_error(archive.zip.get())));
  return EntryReader(file, entry, std::move(inflater));
}

// Exactly the stored bytes and no more: the library is never asked past them, so its own check of
// stored data, at their end, never runs.
std::expected<std::size_t, ArchiveError> EntryReader::read_raw(std::byte* into, std::size_t size) {
  std::size_t total = 0;
  while (total < size && raw_left_ > 0) {
    const auto want = static_cast<zip_uint64_t>(std::min<std::uint64_t>(size - total, raw_left_));
    const zip_int64_t n = zip_fread(file_.get(), into + total, want);
    if (n < 0) return std::unexpected(archive_error_from(zip_file_get_error(file_.get())));
    if (n == 0) {
      raw_left_ = 0;  // ended early: the checks at the end decide
      break;
    }
    total += static_cast<std::size_t>(n);
    raw_left_ -= static_cast<std::uint64_t>(n);
  }
  return total;
}

std::expected<std::size_t, ArchiveError> EntryReader::inflate_into(std::span<std::byte> into) {
  Inflater& in = *inflater_;
  z_stream& z = in.stream;
  z.next_out = reinterpret_cast<Bytef*>(into.data());
  z.avail_out = static_cast<uInt>(into.size());
  while (z.avail_out > 0 && !in.stream_ended) {
    if (z.avail_in == 0 && !in.input_ended) {
      const auto n = read_raw(in.input.get(), input_size);
      if (!n) return std::unexpected(n.error());
      in.input_ended = *n == 0;
      z.next_in = reinterpret_cast<Bytef*>(in.input.get());
      z.avail_in = static_cast<uInt>(*n);
    }
    const int result = inflate(&z, Z_NO_FLUSH);
    if (result == Z_STREAM_END || (result == Z_BUF_ERROR && in.input_ended)) {
      // Input that ends before the stream does simply ends the data; the checks then decide.
      in.stream_ended = true;
    } else if (result == Z_MEM_ERROR) {
      return std::unexpected(archive_error_from_libzip(ZIP_ER_MEMORY, 0));
    } else if (result != Z_OK && result != Z_BUF_ERROR) {
      return std::unexpected(archive_error_from_libzip(ZIP_ER_ZLIB, result));
    }
  }
  return into.size() - z.avail_out;
}

std::expected<std::size_t, ArchiveError> EntryReader::read(std::span<std::byte> buffer) {
  // One byte past the declared size is enough to show the data is too long.
  const std::uint64_t room = expected_size_ - produced_ + 1;
  const std::span<std::byte> into = buffer.first(static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), room)));
  const auto n = inflater_ ? inflate_into(into) : read_raw(into.data(), into.size());
  if (!n) return n;
  produced_ += *n;
  crc_ = static_cast<std::uint32_t>(crc32(crc_, reinterpret_cast<const Bytef*>(into.data()), static_cast<uInt>(*n)));
  if (produced_ > expected_size_) return std::unexpected(checksum_mismatch());
  if (*n == 0 && (produced_ != expected_size_ || crc_ != expected_crc_)) return std::unexpected(checksum_mismatch());
  return n;
}

}  // namespace payload
