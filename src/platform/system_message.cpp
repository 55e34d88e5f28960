#include "platform/system_message.hpp"

#include <cwchar>

#include "platform/text.hpp"

namespace platform {

namespace {

std::string signed_decimal(std::uint32_t value) { return std::to_string(static_cast<std::int32_t>(value)); }

}  // namespace

template <typename Unit>
std::string system_message_text(std::uint32_t code, std::optional<std::basic_string_view<Unit>> output,
                                std::uint32_t last_error) {
  if (!output) {
    return "OS Error " + signed_decimal(code) + " (FormatMessageW() returned error " +
           signed_decimal(last_error) + ")";
  }
  if (!utf8::is_valid_utf16<Unit>(*output)) {
    return "OS Error " + signed_decimal(code) + " (FormatMessageW() returned invalid UTF-16)";
  }
  std::string text = from_utf16<Unit>(*output);
  const std::size_t keep = text.find_last_not_of(" \t\n\f\r");
  text.resize(keep == std::string::npos ? 0 : keep + 1);
  return text;
}

template std::string system_message_text<char16_t>(std::uint32_t, std::optional<std::u16string_view>, std::uint32_t);
#if WCHAR_MAX <= 0xFFFF
template std::string system_message_text<wchar_t>(std::uint32_t, std::optional<std::wstring_view>, std::uint32_t);
#endif

}  // namespace platform
