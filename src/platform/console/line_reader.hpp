// Reading one line of standard input through a read buffer, keeping only valid UTF-8.
// Pure logic over a raw reader, so it is tested with fakes.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string>

#include "platform/error.hpp"

namespace platform {

// One raw read from a stream into `out`; 0 is the end of input.
class RawReader {
 public:
  [[nodiscard]] virtual Result<std::size_t> read(std::span<char> out) = 0;

 protected:
  ~RawReader() = default;
};

inline constexpr const char* invalid_utf8_input_message = "stream did not contain valid UTF-8";

class LineReader {
 public:
  static constexpr std::size_t buffer_size = 8192;

  // Appends bytes up to and including the first line end (or the end of input) to `line` and
  // gives their count, 0 when the input was already at its end. Bytes that are not valid UTF-8
  // are removed again and the read fails; a read error fails it too, keeping valid bytes.
  [[nodiscard]] Result<std::size_t> read_line(std::string& line, RawReader& raw);

 private:
  std::array<char, buffer_size> buffer_{};
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
};

}  // namespace platform
