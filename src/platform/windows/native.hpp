// What the Windows backend shares (Windows only). Text crosses the border here, once: UTF-8 in,
// UTF-16 wide strings inside the backend, UTF-8 (WTF-8, lossless) out.
//   wide_from_utf8(text)      UTF-8 to a wide string, refusing a NUL ("nul byte found ...")
//   utf8_from_wide(text)      a wide string from Windows to UTF-8, lossless (WTF-8)
//   native_path(path)         a UTF-8 path as the NUL-terminated wide native form for a W call
//   full_path_name(path)      GetFullPathNameW
//   query_wide_string(call)   runs a fill-this-buffer call, growing the buffer until the value fits
//   last_os_error()           the Os error of GetLastError(), to be taken right after the call
//   nt_write, nt_read         one NtWriteFile / NtReadFile call at the current position
//   UniqueHandle, FindHandle  the owners of a kernel handle and of a directory search
#pragma once

#include <windows.h>

#include <span>
#include <string>
#include <string_view>

#include "platform/error.hpp"
#include "platform/native_handle.hpp"
#include "platform/text.hpp"

namespace platform::windows {

using UniqueHandle = KernelHandle;
using FindHandle = SearchHandle;

[[nodiscard]] inline Result<std::wstring> wide_from_utf8(std::string_view text) { return to_utf16<wchar_t>(text); }
inline std::string utf8_from_wide(std::wstring_view text) { return from_utf16<wchar_t>(text); }

inline PlatformError last_os_error() { return PlatformError::os(::GetLastError()); }

// The path in the form handed to the file system: verbatim and short absolute paths unchanged,
// anything else made absolute (GetFullPathNameW) and given the \\?\ prefix, so that no length
// limit applies. Fails without a system call when the path holds a NUL.
[[nodiscard]] Result<std::wstring> native_path(std::string_view path);

// GetFullPathNameW: the absolute form of a path.
[[nodiscard]] Result<std::wstring> full_path_name(std::wstring_view path);

// A wide-string query: `call(buffer, size)` follows the usual Win32 contract. It returns the
// length without the NUL on success, the size needed (NUL included) when the buffer is too small,
// and 0 on failure. A 0 with GetLastError still 0 (it is cleared before every attempt) is an
// empty value, not a failure. A result equal to the size is taken as truncation, and the buffer
// is doubled (GetModuleFileNameW reports truncation that way).
template <typename Call>
[[nodiscard]] Result<std::wstring> query_wide_string(Call&& call) {
  std::wstring buffer(512, L'\0');
  for (;;) {
    const DWORD size = static_cast<DWORD>(buffer.size());
    ::SetLastError(0);
    const DWORD length = call(buffer.data(), size);
    if (length == 0) {
      const DWORD error = ::GetLastError();
      if (error != 0) return std::unexpected(PlatformError::os(error));
      return std::wstring();
    }
    if (length < size) {
      buffer.resize(length);
      return buffer;
    }
    if (size == MAXDWORD) return std::unexpected(PlatformError::os(ERROR_INSUFFICIENT_BUFFER));
    const DWORD grown = length > size ? length : (size > MAXDWORD / 2 ? MAXDWORD : size * 2);
    buffer.assign(grown, L'\0');
  }
}

// One NtWriteFile or NtReadFile call at the current position. A pending call (a handle opened for
// overlapped use) is waited for; one the wait did not finish would leave the system writing into
// memory that is gone once the call returns, so the process is aborted then. A read at the end
// of a file gives 0.
[[nodiscard]] Result<std::size_t> nt_write(HANDLE handle, std::span<const std::byte> bytes);
[[nodiscard]] Result<std::size_t> nt_read(HANDLE handle, std::span<std::byte> out);

}  // namespace platform::windows
