// Text at the system boundary. Inside the setup text is UTF-8; values read from Windows are held
// losslessly as WTF-8 (an unpaired surrogate keeps its own three-byte form, lead byte 0xED), so a
// path read from the system can always be handed back to it unchanged.
#pragma once

#include <string>
#include <string_view>

#include "platform/error.hpp"

namespace platform {

// UTF-8 (or WTF-8) to UTF-16. Fails with "nul byte found in provided data" when the text holds a
// NUL, so that no string handed to the system is cut short. Invalid bytes become U+FFFD.
Result<std::u16string> to_utf16(std::string_view text);
// The same without the NUL check, for buffers whose length travels with them.
std::u16string to_utf16_unchecked(std::string_view text);
// UTF-16 to WTF-8, lossless.
std::string from_utf16(std::u16string_view text);
// A path or value as shown in a message: every unpaired surrogate becomes U+FFFD.
std::string display_text(std::string_view wtf8);
// Whether the bytes are valid UTF-8 (surrogate code points are not).
bool is_valid_utf8(std::string_view bytes);
// The number of leading bytes that form complete, valid UTF-8 characters.
std::size_t valid_utf8_prefix(std::string_view bytes);

}  // namespace platform
