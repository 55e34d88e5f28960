#include "platform/utf8.hpp"

namespace platform::utf8 {

namespace {

// The range a character's second byte must lie in, given its lead; later bytes are 0x80-0xBF.
// The limits keep out overlong forms, code points above U+10FFFF and, unless allowed, surrogates.
struct Range {
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
};

Range second_byte(unsigned char lead, Surrogates surrogates) {
  if (lead == 0xE0) return {0xA0, 0xBF};
  if (lead == 0xED && surrogates == Surrogates::Refused) return {0x80, 0x9F};
  if (lead == 0xF0) return {0x90, 0xBF};
  if (lead == 0xF4) return {0x80, 0x8F};
  return {};
}

}  // namespace

std::expected<Decoded, std::size_t> decode(std::string_view bytes, Surrogates surrogates) {
  const auto lead = static_cast<unsigned char>(bytes[0]);
  const std::size_t length = char_length(lead);
  if (length == 0) return std::unexpected(1);
  if (length == 1) return Decoded{lead, 1};
  char32_t code_point = lead & (0x7F >> length);
  const Range range = second_byte(lead, surrogates);
  for (std::size_t k = 1; k < length; ++k) {
    if (k >= bytes.size()) return std::unexpected(k);
    const auto b = static_cast<unsigned char>(bytes[k]);
    const bool fits = k == 1 ? (b >= range.low && b <= range.high) : (b >= 0x80 && b <= 0xBF);
    if (!fits) return std::unexpected(k);
    code_point = (code_point << 6) | (b & 0x3F);
  }
  return Decoded{code_point, length};
}

bool is_char_beginning(std::string_view bytes) {
  if (bytes.empty()) return false;
  const std::size_t length = char_length(static_cast<unsigned char>(bytes[0]));
  if (length == 0 || bytes.size() > length) return false;
  const auto decoded = decode(bytes);
  // Either whole, or cut short only by the end of the bytes.
  return decoded || decoded.error() == bytes.size();
}

std::size_t encode(char32_t code_point, char* out) {
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

void append(std::string& out, char32_t code_point) {
  char bytes[4];
  out.append(bytes, encode(code_point, bytes));
}

std::size_t valid_prefix(std::string_view bytes) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto decoded = decode(bytes.substr(i));
    if (!decoded) break;
    i += decoded->length;
  }
  return i;
}

std::string decode_lossy(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    const auto decoded = decode(bytes.substr(i));
    if (decoded) {
      out.append(bytes.substr(i, decoded->length));
      i += decoded->length;
    } else {
      out += replacement_character;
      i += decoded.error();
    }
  }
  return out;
}

}  // namespace platform::utf8
