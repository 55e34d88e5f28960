#include "platform/console/utf16_reader.hpp"

#include <algorithm>

#include "platform/utf8.hpp"

namespace platform {

Result<std::size_t> ConsoleUtf16Reader::read(std::span<char> out, WideConsoleInput& console) {
  if (out.empty()) return 0;
  // Bytes of a character that did not fit last time come first, and alone: reading on would
  // block although the caller already has something.
  if (pending_begin_ < pending_end_) return hand_out_pending(out);

  for (;;) {
    // Every unit gives at most three bytes and a pair four, so a third of the space in units
    // always fits; a space smaller than that still reads one character, handed out in parts.
    const std::size_t start = surrogate_ != 0 ? 1 : 0;
    std::size_t amount = std::clamp<std::size_t>(out.size() / 3, 1, units_.size());
    if (start == 1) amount = std::max<std::size_t>(amount, 2);
    if (start == 1) units_[0] = surrogate_;

    auto read = read_units(std::span(units_).subspan(start, amount - start), console);
    if (!read) return read;
    std::size_t count = start + *read;
    surrogate_ = 0;
    // At the end of input a carried high half stays unpaired and fails below.
    if (*read > 0 && utf8::is_high_surrogate(units_[count - 1])) {
      surrogate_ = units_[count - 1];
      --count;
      // The read brought only the high half of a character: its low half is still to come.
      if (count == 0) continue;
    }

    std::size_t written = 0;
    for (std::size_t i = 0; i < count; ++i) {
      char32_t cp = units_[i];
      if (utf8::is_high_surrogate(units_[i]) && i + 1 < count && utf8::is_low_surrogate(units_[i + 1])) {
        cp = utf8::combine(cp, units_[i + 1]);
        ++i;
      } else if (utf8::is_high_surrogate(units_[i]) || utf8::is_low_surrogate(units_[i])) {
        return std::unexpected(
            PlatformError::message(ErrorKind::InvalidData, console_unpaired_surrogate_message));
      }
      std::array<char, 4> bytes{};
      const std::size_t length = utf8::encode(cp, bytes.data());
      const std::size_t fits = std::min(length, out.size() - written);
      std::copy_n(bytes.begin(), fits, out.begin() + written);
      written += fits;
      if (fits < length) {
        // Only the last character can fall short: the amount read was sized to the space.
        std::copy(bytes.begin() + fits, bytes.begin() + length, pending_.begin());
        pending_begin_ = 0;
        pending_end_ = length - fits;
      }
    }
    return written;
  }
}

Result<std::size_t> ConsoleUtf16Reader::read_units(std::span<char16_t> units, WideConsoleInput& console) {
  for (int retries = 0;; ++retries) {
    auto read = console.read_units(units);
    // Ctrl+C or Ctrl+Break broke the read off; a console that does nothing else is given up on.
    if (!read && read.error().is_os() && read.error().os_code() == console_read_aborted_code &&
        retries < console_read_aborted_retries) {
      continue;
    }
    if (!read) return read;
    std::size_t count = std::min(*read, units.size());
    if (count > 0 && units[count - 1] == console_end_of_input_unit) --count;
    return count;
  }
}

std::size_t ConsoleUtf16Reader::hand_out_pending(std::span<char> out) {
  const std::size_t count = std::min(out.size(), pending_end_ - pending_begin_);
  std::copy_n(pending_.begin() + pending_begin_, count, out.begin());
  pending_begin_ += count;
  return count;
}

}  // namespace platform
