// Console input on its way from UTF-16 units to UTF-8 bytes: a high surrogate that ends a read
// waits for its low half, a character that does not fit the caller's space is handed out by the
// next reads, a trailing Ctrl+Z ends the input. Pure logic over the console's read call.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/error.hpp"

namespace platform {

// One read of UTF-16 units from the console (ReadConsoleW with Ctrl+Z as a wake-up key).
// A read that Ctrl+C or Ctrl+Break broke off reports Os error `console_read_aborted_code`.
class WideConsoleInput {
 public:
  [[nodiscard]] virtual Result<std::size_t> read_units(std::span<char16_t> units) = 0;

 protected:
  ~WideConsoleInput() = default;
};

inline constexpr std::uint32_t console_read_aborted_code = 995;  // ERROR_OPERATION_ABORTED
// Reads broken off one after another that are read again; past this the read fails as it did.
inline constexpr int console_read_aborted_retries = 16;
inline constexpr char16_t console_end_of_input_unit = 0x1A;     // Ctrl+Z

inline constexpr const char* console_unpaired_surrogate_message =
    "Windows stdin in console mode does not support non-UTF-16 input; encountered unpaired surrogate";

// The conversion state of standard input on a console (its carries live as long as the stream).
class ConsoleUtf16Reader {
 public:
  static constexpr std::size_t max_units_per_read = 4096;

  // One raw read into `out`; 0 is the end of input.
  [[nodiscard]] Result<std::size_t> read(std::span<char> out, WideConsoleInput& console);

 private:
  [[nodiscard]] Result<std::size_t> read_units(std::span<char16_t> units, WideConsoleInput& console);
  std::size_t hand_out_pending(std::span<char> out);

  char16_t surrogate_ = 0;  // a high surrogate that ended the last read
  std::array<char, 4> pending_{};
  std::size_t pending_begin_ = 0;
  std::size_t pending_end_ = 0;
  std::array<char16_t, max_units_per_read> units_{};
};

}  // namespace platform
