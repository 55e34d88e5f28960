// Text at the system boundary. Inside the setup text is UTF-8; values read from Windows are held
// losslessly as WTF-8 (an unpaired surrogate keeps its own three-byte form, lead byte 0xED), so a
// path read from the system can always be handed back to it unchanged. UTF-16 text comes as
// units of any 16-bit type: char16_t in portable code, wchar_t inside the Windows backend.
#pragma once

#include <string>
#include <string_view>

#include "platform/error.hpp"
#include "platform/utf8.hpp"

namespace platform {

// UTF-8 (or WTF-8) to UTF-16 without the NUL check, for buffers whose length travels with them.
// Each byte that begins no valid sequence becomes U+FFFD.
template <typename Unit = char16_t>
std::basic_string<Unit> to_utf16_unchecked(std::string_view text) {
  static_assert(sizeof(Unit) == 2, "UTF-16 units");
  std::basic_string<Unit> out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto decoded = utf8::decode(text.substr(i), utf8::Surrogates::Allowed);
    utf8::append_utf16(out, decoded ? decoded->code_point : U'\xFFFD');
    i += decoded ? decoded->length : 1;
  }
  return out;
}

// The same, failing with "nul byte found in provided data" when the text holds a NUL, so that no
// string handed to the system is cut short.
template <typename Unit = char16_t>
[[nodiscard]] Result<std::basic_string<Unit>> to_utf16(std::string_view text) {
  if (text.find('\0') != std::string_view::npos) return std::unexpected(nul_in_data_error());
  return to_utf16_unchecked<Unit>(text);
}

// UTF-16 to WTF-8, lossless: an unpaired surrogate keeps its own three-byte form.
template <typename Unit>
std::string from_utf16(std::basic_string_view<Unit> text) {
  static_assert(sizeof(Unit) == 2, "UTF-16 units");
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t unit = static_cast<char16_t>(text[i]);
    if (utf8::is_high_surrogate(unit) && i + 1 < text.size() && utf8::is_low_surrogate(static_cast<char16_t>(text[i + 1]))) {
      unit = utf8::combine(unit, static_cast<char16_t>(text[++i]));
    }
    utf8::append(out, unit);
  }
  return out;
}
inline std::string from_utf16(std::u16string_view text) { return from_utf16<char16_t>(text); }

// A path or value as shown in a message: every unpaired surrogate becomes U+FFFD.
std::string display_text(std::string_view wtf8);

}  // namespace platform
