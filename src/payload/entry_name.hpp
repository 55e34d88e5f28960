// How an entry's stored name bytes become its name.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace payload {

// The bytes as code page 437; bytes below 0x80 are ASCII.
std::string decode_cp437(std::string_view bytes);

// The entry's name: the stored bytes as UTF-8 when general-purpose flag bit 11 is set, else as
// CP437. A Unicode-path extra field (version 1, its CRC-32 that of the stored bytes) names the
// entry only where it exists for: a stored name in a legacy code page (flag 11 clear, not plain
// ASCII). Elsewhere readers differ on whether to take it, so a field that names anything other
// than the stored name leaves the entry without one name: none.
std::optional<std::string> decode_entry_name(std::string_view stored, bool utf8_flag, std::string_view central_extra);

}  // namespace payload
