// The inside of an open archive, shared by opening and extracting; the ZIP library stays here.
#pragma once

#include <zip.h>

#include <cstddef>
#include <expected>
#include <memory>
#include <span>
#include <vector>

#include "payload/archive.hpp"
#include "payload/entry.hpp"
#include "payload/libzip_error.hpp"

namespace payload {

struct ZipDiscard {
  void operator()(zip_t* zip) const { zip_discard(zip); }
};
struct ZipFileClose {
  void operator()(zip_file_t* file) const { zip_fclose(file); }
};

struct Archive::State {
  std::unique_ptr<zip_t, ZipDiscard> zip;  // owns the in-memory source over the borrowed bytes
  std::vector<Entry> entries;              // in central-directory order, as the library's indices
};

inline ArchiveError archive_error_from(zip_error_t* error) {
  return archive_error_from_libzip(zip_error_code_zip(error), zip_error_code_system(error));
}

// One entry's data, verified against its CRC-32 while it is read. The library reads the raw
// bytes in place; DEFLATE data is inflated here in large steps, which the library's own
// decompression (8 KiB of input at a time) makes markedly slower.
class EntryReader {
 public:
  static std::expected<EntryReader, ArchiveError> open(Archive::State& archive, std::size_t index);
  EntryReader(EntryReader&&) noexcept;
  EntryReader& operator=(EntryReader&&) noexcept;
  ~EntryReader();

  // Fills as much of `buffer` as the data allows; 0 at the end, after the CRC-32 has matched.
  std::expected<std::size_t, ArchiveError> read(std::span<std::byte> buffer);

 private:
  struct Inflater;
  EntryReader(zip_file_t* file, std::unique_ptr<Inflater> inflater);
  std::unique_ptr<zip_file_t, ZipFileClose> file_;
  std::unique_ptr<Inflater> inflater_;  // DEFLATE entries only
};

}  // namespace payload
