// Text and path conversions at the Windows boundary.
#include "platform/windows/native.hpp"

#include "platform/text.hpp"
#include "platform/windows_path.hpp"

namespace platform::windows {

Result<std::wstring> wide_from_utf8(std::string_view text) {
  Result<std::u16string> converted = to_utf16(text);
  if (!converted) return std::unexpected(converted.error());
  return to_wstring(*converted);
}

std::string utf8_from_wide(std::wstring_view text) {
  return from_utf16(std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()));
}

Result<std::wstring> native_path(std::string_view path) {
  Result<std::u16string> converted = to_utf16(path);
  if (!converted) return std::unexpected(converted.error());
  const auto full_path = [](std::u16string_view relative) -> Result<std::u16string> {
    const std::wstring terminated = to_wstring(relative);  // the view has no NUL of its own
    Result<std::wstring> absolute = query_wide_string([&](wchar_t* buffer, DWORD size) {
      return ::GetFullPathNameW(terminated.c_str(), size, buffer, nullptr);
    });
    if (!absolute) return std::unexpected(absolute.error());
    return to_u16string(*absolute);
  };
  Result<std::u16string> native = windows_path::native_form(*converted, full_path);
  if (!native) return std::unexpected(native.error());
  return to_wstring(*native);
}

}  // namespace platform::windows
