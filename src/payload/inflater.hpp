// Raw DEFLATE data inflated step by step into the caller's buffers, with the CRC-32 of what comes
// out computed on the way (ISA-L's streaming inflate). The compressed bytes are read where they
// lie; nothing but the inflater's own state is allocated.
//
// Beside zlib's reading of the same bytes (tests/fuzz/fuzz_inflate.cpp holds the two to this):
// a stream that ends with its last block gives the same bytes, or is refused by both, except
// that ISA-L reads a block whose Huffman code is incomplete (failing only if a code without a
// symbol occurs) where zlib refuses its header. Where the input runs out before the stream ends,
// ISA-L may hold back up to two bytes that the input held (it decodes up to three symbols at a
// time), and may refuse bits that the missing input would have held.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <span>

#include "payload/archive_error.hpp"

namespace payload {

class Inflater {
 public:
  // ISA-L counts in 32 bits, so the input is handed over in steps; these are large enough that
  // the calls ending at a step cost nothing measurable.
  static constexpr std::size_t default_input_step = 256 * 1024;

  // `input`, the whole compressed data, must outlive the inflater.
  explicit Inflater(std::span<const std::byte> input, std::size_t input_step = default_input_step);
  Inflater(Inflater&&) noexcept;
  Inflater& operator=(Inflater&&) noexcept;
  ~Inflater();

  // Fills `out` unless the data ends first; 0 once it has ended. The data ends with the stream's
  // last block, or where the input runs out before that. Data that cannot be inflated is
  // "corrupt deflate stream".
  [[nodiscard]] std::expected<std::size_t, ArchiveError> inflate(std::span<std::byte> out);

  // Whether the data ended with the stream's last block, exactly where the input ends. Bytes
  // left after the last block would be another reading of the entry: readers that walk the
  // local headers in turn take them for what follows it.
  [[nodiscard]] bool complete() const;

  // The CRC-32 of everything inflated so far.
  [[nodiscard]] std::uint32_t crc32() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
  std::span<const std::byte> rest_;  // input not yet handed over
  std::size_t input_step_;
  bool ended_ = false;
};

}  // namespace payload
