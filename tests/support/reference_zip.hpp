// A second, independent reading of a ZIP archive, as plain as it can be written, for checking the
// setup's reading against: the last end record decides, and the archive has a reading only when
// its directory is sound and ends where that record begins, no other end record outside the
// entries' bytes leads to another sound directory, the entries lie back to back, every entry has
// one name and no two entries name one file as Windows compares names. Each entry's data is
// inflated in one piece (a stream cut short is unreadable) and checked against its CRC-32 and
// size. Slow and simple on purpose.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace test_support {

struct ReferenceEntry {
  std::string name;         // the stored bytes
  std::string listed_name;  // decoded, as the entry is listed
  std::uint64_t local_header_offset = 0;
  std::string local_extra;
  std::uint64_t data_offset = 0;  // the entry's data: where it begins, and its stored size
  std::uint64_t compressed_size = 0;
  std::uint16_t version_made_by = 0;
  std::uint16_t flags = 0;
  std::uint16_t method = 0;
  std::uint32_t external_attributes = 0;
  std::string extra;  // central
  // The entry's data when it reads whole and matches its CRC-32 and size (methods 0 and 8 only).
  std::optional<std::string> data;
  bool undecided = false;  // zlib refused a Huffman code of its data, which the setup may read
};

// The entries of the archive's one directory, in order; none when it has not exactly one.
std::optional<std::vector<ReferenceEntry>> reference_read(std::span<const std::byte> archive);

// Whether zlib's reason for refusing DEFLATE data is a Huffman code (incomplete or over-subscribed).
bool refused_for_a_code(std::string_view zlib_message);

}  // namespace test_support
