#include "platform/console/utf8_writer.hpp"

#include <algorithm>

#include "platform/utf8.hpp"

namespace platform {

namespace {

PlatformError non_utf8_error() { return PlatformError::message(ErrorKind::InvalidData, console_non_utf8_message); }

// Converts text that is known to be valid UTF-8; `out` has room for one unit per byte.
std::size_t to_units(std::string_view valid, char16_t* out) {
  std::u16string units;
  for (std::size_t i = 0; i < valid.size();) {
    const auto decoded = utf8::decode(valid.substr(i));
    utf8::append_utf16(units, decoded->code_point);
    i += decoded->length;
  }
  std::copy(units.begin(), units.end(), out);
  return units.size();
}

// The UTF-8 length of the text that `units` (whole characters) stand for.
std::size_t utf8_length(std::u16string_view units) {
  std::size_t bytes = 0;
  for (const char16_t unit : units) {
    if (unit < 0x80) {
      bytes += 1;
    } else if (unit < 0x800) {
      bytes += 2;
    } else if (utf8::is_high_surrogate(unit) || utf8::is_low_surrogate(unit)) {
      bytes += 2;  // a pair is four bytes
    } else {
      bytes += 3;
    }
  }
  return bytes;
}

}  // namespace

Result<std::size_t> ConsoleUtf8Writer::write(std::string_view bytes, WideConsoleOutput& console) {
  if (bytes.empty()) return 0;
  if (carry_size_ > 0) return complete_carry(bytes, console);

  const auto window = bytes.substr(0, max_bytes_per_write);
  const std::size_t valid = utf8::valid_prefix(window);
  if (valid == 0) {
    // Either the data ends inside its first character, which is then carried and reported as
    // written, or the first character is not UTF-8 at all.
    const std::size_t length = utf8::char_length(static_cast<unsigned char>(bytes[0]));
    if (length > 1 && bytes.size() < length && utf8::is_char_beginning(bytes)) {
      std::copy(bytes.begin(), bytes.end(), carry_.begin());
      carry_size_ = bytes.size();
      return bytes.size();
    }
    return std::unexpected(non_utf8_error());
  }
  const std::size_t count = to_units(window.substr(0, valid), units_.data());
  const std::u16string_view units(units_.data(), count);
  auto shown = write_units(units, console);
  if (!shown) return std::unexpected(shown.error());
  if (*shown >= count) return valid;
  return utf8_length(units.substr(0, *shown));
}

Result<std::size_t> ConsoleUtf8Writer::complete_carry(std::string_view bytes, WideConsoleOutput& console) {
  const std::size_t length = utf8::char_length(static_cast<unsigned char>(carry_[0]));
  const std::size_t taken = std::min(length - carry_size_, bytes.size());
  std::array<char, 4> whole = carry_;
  std::copy_n(bytes.begin(), taken, whole.begin() + carry_size_);
  const std::string_view candidate(whole.data(), carry_size_ + taken);
  if (!utf8::is_char_beginning(candidate)) {
    carry_size_ = 0;
    return std::unexpected(non_utf8_error());
  }
  if (candidate.size() < length) {
    carry_ = whole;
    carry_size_ = candidate.size();
    return taken;
  }
  std::array<char16_t, 2> units{};
  const std::size_t count = to_units(candidate, units.data());
  auto shown = write_units({units.data(), count}, console);
  if (!shown) return std::unexpected(shown.error());
  // The carried bytes were already reported as written; until the console takes the character
  // they stay carried and the completing bytes count as not written.
  if (*shown == 0) return 0;
  carry_size_ = 0;
  return taken;
}

Result<std::size_t> ConsoleUtf8Writer::write_units(std::u16string_view units, WideConsoleOutput& console) {
  auto accepted = console.write_units(units);
  if (!accepted) return accepted;
  std::size_t shown = std::min(*accepted, units.size());
  if (shown > 0 && shown < units.size() && utf8::is_high_surrogate(units[shown - 1])) {
    // The high half is on the screen and cannot be taken back: its low half follows at once,
    // and the character counts as written whatever this second call says.
    (void)console.write_units(units.substr(shown, 1));
    ++shown;
  }
  return shown;
}

}  // namespace platform
