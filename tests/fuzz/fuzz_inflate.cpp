// The setup's inflater (ISA-L) against zlib on arbitrary bytes read as raw DEFLATE: a stream that
// ends with its last block gives the same bytes and CRC-32 in both, or both refuse it, but for the
// differences payload/inflater.hpp names (an incomplete Huffman code; where the input runs out).
// The first byte picks the size of the setup's output steps (smaller than a match, a block or the
// history window, and larger) and of the steps in which ISA-L is handed its input.
#include <zlib.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

#include "payload/inflater.hpp"
#include "support/reference_zip.hpp"

namespace {

enum class End { Whole, Cut, Refused, Capped };

struct Reading {
  std::string bytes;
  End end = End::Capped;
  std::uint32_t crc = 0;       // the setup's, of a reading that ended
  std::string_view refusal;    // zlib's reason
  bool input_left = false;     // zlib refused with input it had not taken
};

constexpr std::array<std::size_t, 8> steps{1, 2, 7, 258, 4096, 32 * 1024 + 1, 64 * 1024, 256 * 1024};
constexpr std::array<std::size_t, 4> input_steps{payload::Inflater::default_input_step, 1, 13, 4096};
constexpr std::size_t max_output = 1024 * 1024;  // bombs are compared this far
// ISA-L inflates up to this far ahead of the bytes it has given (its window and a match), and
// may refuse there.
constexpr std::size_t look_ahead = 2 * 32 * 1024 + 258;

Reading setup_reading(std::span<const std::byte> input, std::size_t input_step, std::size_t step, std::size_t cap) {
  payload::Inflater inflater(input, input_step);
  Reading reading;
  std::string piece(step, '\0');
  while (reading.bytes.size() < cap) {
    const auto n = inflater.inflate(std::as_writable_bytes(std::span(piece)));
    if (!n) {
      if (n.error().reason_text() != "i/o error: corrupt deflate stream") std::abort();
      reading.end = End::Refused;
      return reading;
    }
    if (*n == 0) {
      reading.end = inflater.complete() ? End::Whole : End::Cut;
      reading.crc = inflater.crc32();
      return reading;
    }
    reading.bytes.append(piece, 0, *n);
  }
  return reading;
}

Reading zlib_reading(std::span<const std::byte> input, std::size_t room) {
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) std::abort();
  Reading reading;
  z.next_in = reinterpret_cast<Bytef*>(const_cast<std::byte*>(input.data()));
  z.avail_in = static_cast<uInt>(input.size());
  std::string piece(64 * 1024, '\0');
  int result = Z_OK;
  while (result == Z_OK && reading.bytes.size() < room) {
    z.next_out = reinterpret_cast<Bytef*>(piece.data());
    z.avail_out = static_cast<uInt>(piece.size());
    result = inflate(&z, Z_NO_FLUSH);
    reading.bytes.append(piece, 0, piece.size() - z.avail_out);
  }
  if (result == Z_STREAM_END) {
    reading.end = z.avail_in == 0 ? End::Whole : End::Cut;  // bytes after the stream are not its own
  } else if (result == Z_BUF_ERROR && z.avail_in == 0) {
    reading.end = End::Cut;
  } else if (result == Z_DATA_ERROR) {
    reading.end = End::Refused;
    reading.refusal = z.msg;  // a static text
    reading.input_left = z.avail_in > 0;
  } else if (result != Z_OK) {
    std::abort();
  }
  inflateEnd(&z);
  return reading;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t step = steps[data[0] % steps.size()];
  const std::size_t input_step = input_steps[data[0] / steps.size() % input_steps.size()];
  const std::size_t cap = std::min(max_output, step * 8192);
  const auto input = std::as_bytes(std::span(data + 1, size - 1));

  const Reading setup = setup_reading(input, input_step, step, cap);
  const Reading zlib = zlib_reading(input, cap + step + look_ahead);
  if (setup.end == End::Capped) {  // as far as the setup read, zlib read the same
    if (!zlib.bytes.starts_with(setup.bytes)) std::abort();
    return 0;
  }
  const bool code_set = zlib.end == End::Refused && test_support::refused_for_a_code(zlib.refusal);
  const auto zlib_crc = static_cast<std::uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(zlib.bytes.data()), static_cast<uInt>(zlib.bytes.size())));

  // What zlib reads whole, the setup reads whole, alike; what zlib refuses inside the input, for
  // another reason than a code set, the setup refuses; zlib reads on wherever the setup refuses.
  if (zlib.end == End::Whole && (setup.end != End::Whole || setup.bytes != zlib.bytes || setup.crc != zlib_crc)) {
    std::abort();
  }
  if (zlib.end == End::Refused && zlib.input_left && !code_set && setup.end != End::Refused) std::abort();
  if (setup.end == End::Refused && zlib.end == End::Capped) std::abort();
  // What the setup reads whole, zlib reads whole or refuses for a code set, after the same bytes.
  if (setup.end == End::Whole && zlib.end != End::Whole && !(code_set && setup.bytes.starts_with(zlib.bytes))) {
    std::abort();
  }
  // Where the input runs out: never a byte that zlib does not give, and at most two fewer (after a
  // block with an incomplete code, which zlib refuses, the bytes that zlib gave and more).
  if (setup.end == End::Cut) {
    if (code_set) {
      if (!setup.bytes.starts_with(zlib.bytes)) std::abort();
    } else {
      if (!zlib.bytes.starts_with(setup.bytes)) std::abort();
      if (zlib.end == End::Cut && zlib.bytes.size() - setup.bytes.size() > 2) std::abort();
      if (zlib.end != End::Cut && !(zlib.end == End::Refused && !zlib.input_left)) std::abort();
    }
  }
  return 0;
}
