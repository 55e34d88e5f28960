#include <isa-l/crc.h>
#include <zip.h>

#include <algorithm>
#include <cstring>

#include "payload/archive_state.hpp"

namespace payload {

namespace {
ArchiveError checksum_mismatch() { return archive_error_from_libzip(ZIP_ER_CRC, 0); }
}  // namespace

EntryReader::EntryReader(std::span<const std::byte> data, const Entry& entry)
    : stored_(data), expected_size_(entry.uncompressed_size), expected_crc_(entry.crc32) {
  if (entry.method == method_deflate) {
    inflater_.emplace(data);
    stored_ = {};
  }
}

EntryReader EntryReader::open(const ArchiveState& archive, std::size_t index) {
  return EntryReader(archive.data[index], archive.entries[index]);
}

std::size_t EntryReader::copy_stored(std::span<std::byte> into) {
  const std::size_t n = std::min(into.size(), stored_.size());
  if (n == 0) return 0;
  std::memcpy(into.data(), stored_.data(), n);
  stored_ = stored_.subspan(n);
  stored_crc_ = crc32_gzip_refl(stored_crc_, reinterpret_cast<const unsigned char*>(into.data()), n);
  return n;
}

std::expected<std::size_t, ArchiveError> EntryReader::read(std::span<std::byte> buffer) {
  // One byte past the declared size is enough to show the data is too long.
  const std::uint64_t room = expected_size_ - produced_ + 1;
  const std::span<std::byte> into = buffer.first(static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), room)));
  std::size_t n = 0;
  if (inflater_) {
    const auto inflated = inflater_->inflate(into);
    if (!inflated) return inflated;
    n = *inflated;
  } else {
    n = copy_stored(into);
  }
  produced_ += n;
  if (produced_ > expected_size_) return std::unexpected(checksum_mismatch());
  if (n > 0) return n;
  // The end: a DEFLATE stream cut short, or one that ends before its stored bytes do, fails
  // whatever came out of it (the inflater may not have given the last few bytes that the cut
  // input held).
  const bool whole = !inflater_ || inflater_->complete();
  const std::uint32_t crc = inflater_ ? inflater_->crc32() : stored_crc_;
  if (!whole || produced_ != expected_size_ || crc != expected_crc_) return std::unexpected(checksum_mismatch());
  return 0;
}

}  // namespace payload
