#include "payload/entry_name.hpp"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdint>

#include "payload/central_directory.hpp"
#include "platform/utf8.hpp"

namespace payload {

namespace {

constexpr std::array<char16_t, 128> cp437_upper{
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C,
    0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320,
    0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

// A plain ASCII name reads the same in every code page.
bool is_plain_ascii(std::string_view bytes) {
  return std::ranges::all_of(bytes, [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace

std::string decode_cp437(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    platform::utf8::append(out, b < 0x80 ? char32_t{b} : char32_t{cp437_upper[b - 0x80]});
  }
  return out;
}

std::optional<std::string> decode_entry_name(std::string_view stored, bool utf8_flag, std::string_view central_extra) {
  std::string name = utf8_flag ? platform::utf8::decode_lossy(stored) : decode_cp437(stored);
  // The Unicode-path field: version 1, the CRC-32 of the stored name, then the name as UTF-8.
  const auto field = find_extra_field(central_extra, extra_unicode_path);
  const auto header = field ? platform::little_endian::Bytes(*field).record<5>(0) : std::nullopt;
  if (!header || header->u8<0>() != 1 ||
      header->u32<1>() != crc32(0, reinterpret_cast<const Bytef*>(stored.data()), static_cast<uInt>(stored.size()))) {
    return name;
  }
  std::string unicode = platform::utf8::decode_lossy(field->substr(5));
  const bool legacy = !utf8_flag && !is_plain_ascii(stored);
  if (legacy || unicode == name) return unicode;
  return std::nullopt;
}

}  // namespace payload
