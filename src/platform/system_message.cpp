#include "platform/system_message.hpp"

#include "platform/text.hpp"

namespace platform {

namespace {

bool is_valid_utf16(std::u16string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      if (i + 1 == text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return false;
      ++i;
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

std::string signed_decimal(std::uint32_t value) { return std::to_string(static_cast<std::int32_t>(value)); }

}  // namespace

std::string system_message_text(std::uint32_t code, std::optional<std::u16string_view> output,
                                std::uint32_t last_error) {
  if (!output) {
    return "OS Error " + signed_decimal(code) + " (FormatMessageW() returned error " +
           signed_decimal(last_error) + ")";
  }
  if (!is_valid_utf16(*output)) {
    return "OS Error " + signed_decimal(code) + " (FormatMessageW() returned invalid UTF-16)";
  }
  std::string text = from_utf16(*output);
  const std::size_t keep = text.find_last_not_of(" \t\n\f\r");
  text.resize(keep == std::string::npos ? 0 : keep + 1);
  return text;
}

}  // namespace platform
