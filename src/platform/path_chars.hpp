// The characters path rules look at, in text of any character type: the two separators of a
// Windows path (and of a ZIP entry name), and ASCII letters (drive letters, file extensions).
#pragma once

#include <string_view>

namespace platform {

template <typename Char>
constexpr bool is_separator(Char c) {
  return c == Char('\\') || c == Char('/');
}

template <typename Char>
constexpr bool is_ascii_letter(Char c) {
  return (c >= Char('a') && c <= Char('z')) || (c >= Char('A') && c <= Char('Z'));
}

template <typename Char>
constexpr Char ascii_lower(Char c) {
  return (c >= Char('A') && c <= Char('Z')) ? static_cast<Char>(c - Char('A') + Char('a')) : c;
}

// Whether `text` begins with `ascii`, character for character.
template <typename Char>
constexpr bool starts_with_ascii(std::basic_string_view<Char> text, std::string_view ascii) {
  if (text.size() < ascii.size()) return false;
  for (std::size_t i = 0; i < ascii.size(); ++i) {
    if (text[i] != static_cast<Char>(ascii[i])) return false;
  }
  return true;
}

// Whether `text` ends with `ascii_lower_case`, ASCII letters compared without regard to case.
template <typename Char>
constexpr bool ends_with_ascii_nocase(std::basic_string_view<Char> text, std::string_view ascii_lower_case) {
  if (text.size() < ascii_lower_case.size()) return false;
  const auto tail = text.substr(text.size() - ascii_lower_case.size());
  for (std::size_t i = 0; i < ascii_lower_case.size(); ++i) {
    if (ascii_lower(tail[i]) != static_cast<Char>(ascii_lower_case[i])) return false;
  }
  return true;
}

}  // namespace platform
