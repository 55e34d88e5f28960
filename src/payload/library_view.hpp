// What the ZIP library is shown of the archive: the archive's bytes up to the end of the directory
// the walk chose, then zeros, then an end record of our own that declares that directory and no
// other. The library looks for end records only in the last 64 KiB of what it is shown, where it
// finds this one alone; so it reads exactly the walk's directory, exactly once, however many end
// records the archive holds. Nothing is copied: the view is a source that reads the borrowed bytes.
//
// In the central records it shows, flag bit 11 is cleared, method 99 is replaced and Unicode-path
// fields are renamed: the library refuses the whole archive for a name or comment flagged as
// UTF-8 that is not, and for AES information it does not know, where each such entry is judged by
// itself here; and it would take a name from a Unicode-path field, where the stored name is what
// both readings are compared by. Names are decoded by our own code, and an entry of method 99 is
// refused before it is read.
#pragma once

#include <zip.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "payload/central_directory.hpp"

namespace payload {

class LibraryView {
 public:
  // The method the library is shown for method 99; no entry is ever read with it.
  static constexpr std::uint16_t hidden_method = 0xFFFF;
  // The id the library is shown for a Unicode-path extra field: one it does not interpret.
  static constexpr std::uint16_t hidden_extra_field = 0xFFFF;

  LibraryView(std::span<const std::byte> archive, const CentralDirectory& directory);
  LibraryView(const LibraryView&) = delete;
  LibraryView& operator=(const LibraryView&) = delete;
  ~LibraryView();

  // A library source reading this view; the view must outlive it.
  zip_source_t* make_source(zip_error_t* error);

  // The position of the library's first read after the last call to mark(), if it read since.
  void mark() { first_read_.reset(); }
  std::optional<std::uint64_t> first_read_since_mark() const { return first_read_; }

  // The method the library is shown for an entry stored with `method`.
  static std::uint16_t shown_method(std::uint16_t method);

 private:
  struct Patch {
    std::uint64_t at;  // of a 16-bit field
    std::array<std::byte, 2> bytes;
  };

  static zip_int64_t callback(void* self, void* data, zip_uint64_t length, zip_source_cmd_t command);
  std::uint64_t size() const;
  std::uint64_t read(std::byte* into, std::uint64_t length);

  std::span<const std::byte> prefix_;  // the archive up to the end of its directory
  std::uint64_t tail_at_ = 0;          // where the end record of our own begins
  std::array<std::byte, 98> tail_{};   // a ZIP64 end record and locator, then the end record
  std::size_t tail_size_ = 0;
  std::vector<Patch> patches_;         // in ascending order
  std::uint64_t position_ = 0;
  std::optional<std::uint64_t> first_read_;
  zip_error_t error_{};
};

}  // namespace payload
