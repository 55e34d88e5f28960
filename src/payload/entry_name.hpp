// How an entry's stored name bytes become its name.
#pragma once

#include <string>
#include <string_view>

namespace payload {

// The bytes as code page 437; bytes below 0x80 are ASCII.
std::string decode_cp437(std::string_view bytes);

// The entry's name: the stored bytes as UTF-8 when general-purpose flag bit 11 is set, else as
// CP437; a Unicode-path extra field whose CRC-32 matches the stored bytes replaces it.
std::string decode_entry_name(std::string_view stored, bool utf8_flag, std::string_view central_extra);

}  // namespace payload
