// The inside of an open archive, shared by opening and extracting; the ZIP library stays here.
#pragma once

#include <zip.h>

#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <span>
#include <vector>

#include "payload/archive.hpp"
#include "payload/entry.hpp"
#include "payload/library_view.hpp"
#include "payload/libzip_error.hpp"

namespace payload {

struct ZipDiscard {
  void operator()(zip_t* zip) const { zip_discard(zip); }
};
struct ZipFileClose {
  void operator()(zip_file_t* file) const { zip_fclose(file); }
};

struct ArchiveState {
  std::unique_ptr<LibraryView> view;       // what the library reads; outlives `zip`, which reads it
  std::unique_ptr<zip_t, ZipDiscard> zip;  // owns the library's source over the view
  std::vector<Entry> entries;              // in central-directory order, as the library's indices
};

inline ArchiveError archive_error_from(zip_error_t* error) {
  return archive_error_from_libzip(zip_error_code_zip(error), zip_error_code_system(error));
}

// One entry's data. The library hands over the raw bytes where they lie; DEFLATE data is inflated
// here, in large steps (the library's own inflation feeds zlib 8 KiB at a time, markedly slower),
// and for every method the CRC-32 and the size of what comes out are checked by this code when the
// data ends, however little there was.
class EntryReader {
 public:
  [[nodiscard]] static std::expected<EntryReader, ArchiveError> open(ArchiveState& archive, std::size_t index);
  EntryReader(EntryReader&&) noexcept;
  EntryReader& operator=(EntryReader&&) noexcept;
  ~EntryReader();

  // Fills as much of `buffer` as the data allows; 0 at the end, once the CRC-32 and the size have
  // matched. Data longer than the directory says fails as soon as it shows.
  [[nodiscard]] std::expected<std::size_t, ArchiveError> read(std::span<std::byte> buffer);

 private:
  struct Inflater;
  EntryReader(zip_file_t* file, const Entry& entry, std::unique_ptr<Inflater> inflater);
  [[nodiscard]] std::expected<std::size_t, ArchiveError> read_raw(std::byte* into, std::size_t size);
  [[nodiscard]] std::expected<std::size_t, ArchiveError> inflate_into(std::span<std::byte> into);

  std::unique_ptr<zip_file_t, ZipFileClose> file_;
  std::unique_ptr<Inflater> inflater_;  // DEFLATE entries only
  std::uint64_t raw_left_;              // stored bytes not yet read
  std::uint64_t expected_size_;
  std::uint32_t expected_crc_;
  std::uint64_t produced_ = 0;
  std::uint32_t crc_ = 0;
};

}  // namespace payload
