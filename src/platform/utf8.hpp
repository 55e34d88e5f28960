// UTF-8 and UTF-16, one character at a time: the one place where characters are encoded,
// decoded and checked. Every other conversion in the setup is built on these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace platform::utf8 {

inline constexpr std::string_view replacement_character = "\xEF\xBF\xBD";  // U+FFFD

// Whether surrogate code points (U+D800 to U+DFFF) decode: they do in WTF-8, the lossless form
// in which values read from Windows are held; they never do in UTF-8.
enum class Surrogates { Refused, Allowed };

struct Decoded {
  char32_t code_point;
  std::size_t length;  // bytes taken, 1 to 4
};

// The length of the character that `lead` begins: 1 to 4, or 0 when `lead` cannot begin one
// (a continuation byte, or a byte that never occurs in UTF-8).
constexpr std::size_t char_length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

// The character at the start of `bytes` (not empty), or, when it is not one, the length of its
// longest beginning that could still have become one (at least 1): the bytes one replacement
// character stands for. No overlong form and nothing above U+10FFFF decodes.
[[nodiscard]] std::expected<Decoded, std::size_t> decode(std::string_view bytes, Surrogates surrogates = Surrogates::Refused);

// Whether `bytes` (not longer than its character) can still become one valid character.
bool is_char_beginning(std::string_view bytes);

// Writes the UTF-8 form of a code point (at most U+10FFFF) to `out` and gives its length.
std::size_t encode(char32_t code_point, char* out);
void append(std::string& out, char32_t code_point);

// The number of leading bytes that form whole, valid characters (surrogates refused).
std::size_t valid_prefix(std::string_view bytes);
inline bool is_valid(std::string_view bytes) { return valid_prefix(bytes) == bytes.size(); }

// The bytes as UTF-8, each invalid sequence (its longest beginning, or one byte) replaced by U+FFFD.
std::string decode_lossy(std::string_view bytes);

// ---- UTF-16 ---------------------------------------------------------------------------------

constexpr bool is_high_surrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
constexpr bool is_low_surrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }
constexpr char32_t combine(char32_t high, char32_t low) { return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00); }

// Appends a code point as UTF-16 units: one, or a surrogate pair above U+FFFF.
template <typename String>
void append_utf16(String& out, char32_t code_point) {
  using Unit = typename String::value_type;
  if (code_point < 0x10000) {
    out += static_cast<Unit>(code_point);
    return;
  }
  code_point -= 0x10000;
  out += static_cast<Unit>(0xD800 + (code_point >> 10));
  out += static_cast<Unit>(0xDC00 + (code_point & 0x3FF));
}

// Whether every surrogate in the units is half of a pair.
template <typename Unit>
bool is_valid_utf16(std::basic_string_view<Unit> units) {
  for (std::size_t i = 0; i < units.size(); ++i) {
    if (is_high_surrogate(units[i]) && i + 1 < units.size() && is_low_surrogate(units[i + 1])) {
      ++i;
    } else if (is_high_surrogate(units[i]) || is_low_surrogate(units[i])) {
      return false;
    }
  }
  return true;
}

}  // namespace platform::utf8
