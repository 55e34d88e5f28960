// Small facts about single UTF-8 characters, shared by the console conversions.
#pragma once

#include <cstddef>
#include <string_view>

namespace platform::utf8 {

// The length of the character that `lead` begins: 1 to 4, or 0 when `lead` cannot begin one
// (a continuation byte, or a byte that never occurs in UTF-8).
constexpr std::size_t char_length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

// Whether `bytes` (not longer than its character) can still become one valid character: the
// lead byte begins one and every following byte continues it (no overlong form, no surrogate,
// nothing above U+10FFFF).
constexpr bool is_char_beginning(std::string_view bytes) {
  if (bytes.empty()) return false;
  const auto lead = static_cast<unsigned char>(bytes[0]);
  const std::size_t length = char_length(lead);
  if (length == 0 || bytes.size() > length) return false;
  for (std::size_t i = 1; i < bytes.size(); ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (i == 1) {
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    }
    if (b < low || b > high) return false;
  }
  return true;
}

// Appends the UTF-8 form of a code point (at most U+10FFFF) and gives its length.
inline std::size_t encode(char32_t code_point, char* out) {
  if (code_point < 0x80) {
    out[0] = static_cast<char>(code_point);
    return 1;
  }
  if (code_point < 0x800) {
    out[0] = static_cast<char>(0xC0 | (code_point >> 6));
    out[1] = static_cast<char>(0x80 | (code_point & 0x3F));
    return 2;
  }
  if (code_point < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (code_point >> 12));
    out[1] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (code_point & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (code_point >> 18));
  out[1] = static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (code_point & 0x3F));
  return 4;
}

constexpr bool is_high_surrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
constexpr bool is_low_surrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace platform::utf8
