// UTF-8 text on its way to a console that takes UTF-16: at most 4096 bytes per write, a
// character split across writes carried until it is whole, a surrogate pair never cut.
// Pure logic over the console's write call, so it is tested with fakes.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "platform/error.hpp"

namespace platform {

// One write of UTF-16 units to the console (WriteConsoleW): reports how many units it accepted.
class WideConsoleOutput {
 public:
  [[nodiscard]] virtual Result<std::size_t> write_units(std::u16string_view units) = 0;

 protected:
  ~WideConsoleOutput() = default;
};

inline constexpr const char* console_non_utf8_message =
    "Windows stdio in console mode does not support writing non-UTF-8 byte sequences";

// The conversion state of one output stream (its carry lives as long as the stream).
class ConsoleUtf8Writer {
 public:
  static constexpr std::size_t max_bytes_per_write = 4096;

  // One raw write: converts a valid beginning of `bytes` and gives the count of bytes it took.
  [[nodiscard]] Result<std::size_t> write(std::string_view bytes, WideConsoleOutput& console);

  std::string_view carry() const { return {carry_.data(), carry_size_}; }

 private:
  [[nodiscard]] Result<std::size_t> complete_carry(std::string_view bytes, WideConsoleOutput& console);
  // Writes units with one call; gives how many units count as shown.
  [[nodiscard]] Result<std::size_t> write_units(std::u16string_view units, WideConsoleOutput& console);

  std::array<char, 4> carry_{};
  std::size_t carry_size_ = 0;
  std::array<char16_t, max_bytes_per_write> units_{};
};

}  // namespace platform
