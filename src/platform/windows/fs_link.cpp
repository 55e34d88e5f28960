// Final paths and links on Windows.
#include <vector>

#include "platform/fs.hpp"
#include "platform/text.hpp"
#include "platform/windows/fs_internal.hpp"
#include "platform/windows_rules.hpp"

#include <winioctl.h>

namespace platform {

using windows::last_os_error;
using windows::native_path;
using windows::UniqueHandle;

namespace {

constexpr std::size_t reparse_buffer_size = 16384;

// GetFullPathNameW for the pure rules, which hold UTF-16 as char16_t.
Result<std::u16string> full_path_u16(std::u16string_view path) {
  auto full = windows::full_path_name(std::wstring_view(reinterpret_cast<const wchar_t*>(path.data()), path.size()));
  if (!full) return std::unexpected(full.error());
  return std::u16string(reinterpret_cast<const char16_t*>(full->data()), full->size());
}

}  // namespace

Result<std::string> resolve_path(std::string_view path) {
  auto native = native_path(path);
  if (!native) return std::unexpected(native.error());
  UniqueHandle handle = windows::open_for_examination(*native, true);
  if (!handle) return std::unexpected(last_os_error());
  auto final_path = windows::query_wide_string([&](wchar_t* buffer, DWORD size) {
    return ::GetFinalPathNameByHandleW(handle.get(), buffer, size, 0);
  });
  if (final_path) return windows::utf8_from_wide(*final_path);
  // A volume without a drive-letter name the system can give back (a RAM disk, a volume the
  // Mount Manager does not know) has no such final path. The entry was just opened, so its own
  // full path, in the long-path form, stands in.
  if (native->starts_with(L"\\\\?\\") || native->starts_with(L"\\??\\")) return windows::utf8_from_wide(*native);
  auto full = windows::full_path_name(*native);
  if (!full) return std::unexpected(full.error());
  return windows::utf8_from_wide(windows_rules::with_long_path_prefix<wchar_t>(*full));
}

Result<std::string> read_link(std::string_view path) {
  auto native = native_path(path);
  if (!native) return std::unexpected(native.error());
  UniqueHandle handle = windows::open_for_examination(*native, false);
  if (!handle) return std::unexpected(last_os_error());

  std::vector<std::byte> buffer(reparse_buffer_size);
  DWORD returned = 0;
  if (!::DeviceIoControl(handle.get(), FSCTL_GET_REPARSE_POINT, nullptr, 0, buffer.data(),
                         static_cast<DWORD>(buffer.size()), &returned, nullptr)) {
    return std::unexpected(last_os_error());
  }
  handle.reset();

  auto target = windows_rules::link_target(std::span<const std::byte>(buffer).first(returned), full_path_u16);
  if (!target) return std::unexpected(target.error());
  return from_utf16(*target);
}

Result<void> create_link(std::string_view target, std::string_view link_path, bool directory) {
  auto wide_target = windows::wide_from_utf8(target);  // a relative target stays relative
  if (!wide_target) return std::unexpected(wide_target.error());
  auto native_link = native_path(link_path);
  if (!native_link) return std::unexpected(native_link.error());

  DWORD flags = SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE | (directory ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0);
  if (::CreateSymbolicLinkW(native_link->c_str(), wide_target->c_str(), flags)) return {};
  DWORD code = ::GetLastError();
  if (code == ERROR_INVALID_PARAMETER) {
    // Systems that predate unprivileged links reject the flag.
    flags &= ~DWORD{SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE};
    if (::CreateSymbolicLinkW(native_link->c_str(), wide_target->c_str(), flags)) return {};
    code = ::GetLastError();
  }
  return std::unexpected(PlatformError::os(code));
}

}  // namespace platform
