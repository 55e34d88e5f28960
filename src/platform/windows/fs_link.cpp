// Final paths and links on Windows.
#include <cstring>
#include <vector>

#include "platform/fs.hpp"
#include "platform/little_endian.hpp"
#include "platform/path_chars.hpp"
#include "platform/windows/fs_internal.hpp"
#include "platform/windows_rules.hpp"

#include <winioctl.h>

namespace platform {

using windows::last_os_error;
using windows::native_path;
using windows::UniqueHandle;

namespace {

constexpr DWORD tag_symlink = 0xA000000C;
constexpr DWORD tag_mount_point = 0xA0000003;
constexpr DWORD symlink_flag_relative = 0x1;
constexpr std::size_t reparse_buffer_size = 16384;
constexpr std::size_t reparse_header_size = 8;  // tag, data length, reserved

// \??\C:\x is given back as C:\x, \??\UNC\server\share\x as \\server\share\x, when that ordinary
// form is short enough and means the same thing; otherwise as the verbatim \\?\ form.
std::wstring target_from_nt_form(std::wstring target) {
  if (!target.starts_with(LR"(\??\)")) return target;
  target[1] = L'\\';  // the NT prefix becomes the verbatim one

  const std::wstring_view rest = std::wstring_view(target).substr(4);
  std::wstring ordinary;
  if (rest.starts_with(LR"(UNC\)")) {
    ordinary = LR"(\\)" + std::wstring(rest.substr(4));
  } else if (rest.size() >= 3 && is_ascii_letter(rest[0]) && rest[1] == L':' && rest[2] == L'\\') {
    ordinary = std::wstring(rest);
  } else {
    return target;
  }
  if (ordinary.size() + 1 > windows_rules::max_path_units) return target;
  const auto full = windows::full_path_name(ordinary);
  if (full && *full == ordinary) return ordinary;
  return target;
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
  if (!final_path) return std::unexpected(final_path.error());
  return windows::utf8_from_wide(*final_path);
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

  const auto malformed = [] {
    return std::unexpected(PlatformError::message(ErrorKind::InvalidData, "malformed reparse point data"));
  };
  const little_endian::Bytes data(std::span<const std::byte>(buffer).first(returned));
  // Tag, data length, reserved; then substitute name offset and length, print name offset and
  // length, and for a symbolic link its flags; then the names.
  const auto header = data.record<reparse_header_size>(0);
  if (!header) return malformed();
  const DWORD tag = header->u32<0>();
  if (tag != tag_symlink && tag != tag_mount_point) {
    return std::unexpected(PlatformError::message(ErrorKind::Unsupported, "Unsupported reparse point type"));
  }
  const bool symlink = tag == tag_symlink;
  const std::size_t path_buffer = reparse_header_size + 8 + (symlink ? 4 : 0);
  const std::size_t data_end = std::min<std::size_t>(returned, reparse_header_size + header->u16<4>());
  if (data_end < path_buffer) return malformed();
  // Both fit now: the names' fields end at 16 bytes, a symbolic link's flags at 20.
  const auto name_fields = data.record<reparse_header_size + 8>(0);
  const auto link_fields = data.record<reparse_header_size + 12>(0);
  const std::size_t offset = name_fields->u16<reparse_header_size>();
  const std::size_t length = name_fields->u16<reparse_header_size + 2>();
  if (offset % 2 != 0 || length % 2 != 0 || path_buffer + offset + length > data_end) return malformed();

  std::wstring target(length / 2, L'\0');
  std::memcpy(target.data(), buffer.data() + path_buffer + offset, length);
  const bool relative = symlink && (link_fields->u32<reparse_header_size + 8>() & symlink_flag_relative);
  if (relative) return windows::utf8_from_wide(target);
  return windows::utf8_from_wide(target_from_nt_form(std::move(target)));
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
