#include "platform/text.hpp"

namespace platform {

namespace {

// Decodes one generalized UTF-8 sequence at `i` (surrogate code points allowed, as WTF-8 needs).
// Returns the code point and advances `i`, or returns -1 for an invalid sequence (advancing by one).
long decode(std::string_view s, std::size_t& i, bool allow_surrogates) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int len;
  long cp;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3;
    cp = b0 & 0x0F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4;
    cp = b0 & 0x07;
  } else {
    ++i;
    return -1;
  }
  if (i + len > s.size()) {
    ++i;
    return -1;
  }
  for (int k = 1; k < len; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return -1;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  const bool overlong = (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000);
  const bool surrogate = cp >= 0xD800 && cp <= 0xDFFF;
  if (overlong || cp > 0x10FFFF || (surrogate && !allow_surrogates)) {
    ++i;
    return -1;
  }
  i += len;
  return cp;
}

void append_utf8(std::string& out, unsigned long cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

std::u16string to_utf16_unchecked(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    long cp = decode(text, i, true);
    if (cp < 0) cp = 0xFFFD;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

Result<std::u16string> to_utf16(std::string_view text) {
  if (text.find('\0') != std::string_view::npos) return std::unexpected(nul_in_data_error());
  return to_utf16_unchecked(text);
}

std::string from_utf16(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    unsigned long u = text[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      u = 0x10000 + ((u - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    append_utf8(out, u);  // an unpaired surrogate keeps its own three-byte form
  }
  return out;
}

std::string display_text(std::string_view wtf8) {
  std::string out;
  out.reserve(wtf8.size());
  std::size_t i = 0;
  while (i < wtf8.size()) {
    const std::size_t start = i;
    const long cp = decode(wtf8, i, true);
    if (cp < 0 || (cp >= 0xD800 && cp <= 0xDFFF)) {
      out += "\xEF\xBF\xBD";
    } else {
      out.append(wtf8.substr(start, i - start));
    }
  }
  return out;
}

std::size_t valid_utf8_prefix(std::string_view bytes) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    std::size_t next = i;
    if (decode(bytes, next, false) < 0) break;
    i = next;
  }
  return i;
}

bool is_valid_utf8(std::string_view bytes) { return valid_utf8_prefix(bytes) == bytes.size(); }

}  // namespace platform
