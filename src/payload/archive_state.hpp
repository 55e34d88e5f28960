// The inside of an open archive, shared by opening and extracting; the ZIP library stays here.
#pragma once

#include <zip.h>

#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "payload/archive.hpp"
#include "payload/entry.hpp"
#include "payload/inflater.hpp"
#include "payload/library_view.hpp"
#include "payload/libzip_error.hpp"

namespace payload {

struct ZipDiscard {
  void operator()(zip_t* zip) const { zip_discard(zip); }
};

struct ArchiveState {
  std::unique_ptr<LibraryView> view;       // what the library reads; outlives `zip`, which reads it
  std::unique_ptr<zip_t, ZipDiscard> zip;  // owns the library's source over the view
  std::vector<Entry> entries;              // in central-directory order, as the library's indices
  std::vector<std::span<const std::byte>> data;  // each entry's stored bytes, where they lie in the archive
};

inline ArchiveError archive_error_from(zip_error_t* error) {
  return archive_error_from_libzip(zip_error_code_zip(error), zip_error_code_system(error));
}

// One entry's data, read where it lies in the archive: DEFLATE data is inflated into the caller's
// buffer with its CRC-32 computed on the way, stored data is copied. For every method the CRC-32
// and the size of what comes out are checked by this code when the data ends, however little
// there was.
class EntryReader {
 public:
  [[nodiscard]] static EntryReader open(const ArchiveState& archive, std::size_t index);

  // Fills as much of `buffer` as the data allows; 0 at the end, once the CRC-32 and the size have
  // matched. Data longer than the directory says fails as soon as it shows.
  [[nodiscard]] std::expected<std::size_t, ArchiveError> read(std::span<std::byte> buffer);

 private:
  EntryReader(std::span<const std::byte> data, const Entry& entry);
  std::size_t copy_stored(std::span<std::byte> into);

  std::optional<Inflater> inflater_;   // DEFLATE entries only
  std::span<const std::byte> stored_;  // stored entries: the bytes not yet read
  std::uint64_t expected_size_;
  std::uint32_t expected_crc_;
  std::uint64_t produced_ = 0;
  std::uint32_t stored_crc_ = 0;
};

}  // namespace payload
