// The standard-output line buffer: whole lines reach the handle before a print returns, text
// after the last line end waits. Pure logic over a raw writer, so it is tested with fakes.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "platform/error.hpp"

namespace platform {

// One raw write to a stream: accepts a beginning of `bytes` and reports its length.
class RawWriter {
 public:
  [[nodiscard]] virtual Result<std::size_t> write(std::string_view bytes) = 0;

 protected:
  ~RawWriter() = default;
};

// Repeats raw writes until every byte is accepted. A write that accepts nothing fails with
// "failed to write whole buffer".
[[nodiscard]] Result<void> write_all(RawWriter& raw, std::string_view bytes);

class LineBuffer {
 public:
  static constexpr std::size_t capacity = 1024;

  // Hands one piece of a print to the stream: everything up to the piece's last line end is
  // written before this returns; the rest is held until a later line end, a flush or a piece
  // that does not fit.
  [[nodiscard]] Result<void> write(std::string_view piece, RawWriter& raw);
  // Writes out what is held. Bytes that could not be written stay for the next attempt.
  [[nodiscard]] Result<void> write_out(RawWriter& raw);
  // Drops whatever is held and holds nothing from now on: every piece is written at once.
  void make_unbuffered();

  std::string_view held() const { return {bytes_.data(), size_}; }

 private:
  [[nodiscard]] Result<void> add(std::string_view piece, RawWriter& raw);

  std::array<char, capacity> bytes_{};
  std::size_t size_ = 0;
  std::size_t limit_ = capacity;
};

}  // namespace platform
