// Helpers shared by the Windows backend (Windows only):
//   native_path(path)         a UTF-8 path as the NUL-terminated UTF-16 native form for a W call
//   wide_from_utf8(text)      UTF-8 to a wide string, refusing a NUL ("nul byte found ...")
//   utf8_from_wide(text)      a wide string from Windows to UTF-8, lossless (WTF-8)
//   to_wstring / to_u16string between wchar_t strings and std::u16string (same code units)
//   query_wide_string(call)   runs a fill-this-buffer call, growing the buffer until the value fits
//   last_os_error()           the Os error of GetLastError(), to be taken right after the call
//   UniqueHandle              owns one HANDLE; NULL and INVALID_HANDLE_VALUE both mean empty
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <utility>

#include "platform/error.hpp"

namespace platform::windows {

static_assert(sizeof(wchar_t) == sizeof(char16_t));

inline std::wstring to_wstring(std::u16string_view text) {
  return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size());
}
inline std::u16string to_u16string(std::wstring_view text) {
  return std::u16string(reinterpret_cast<const char16_t*>(text.data()), text.size());
}

Result<std::wstring> wide_from_utf8(std::string_view text);
std::string utf8_from_wide(std::wstring_view text);

inline PlatformError last_os_error() { return PlatformError::os(::GetLastError()); }

// The path in the form handed to the file system: verbatim and short absolute paths unchanged,
// anything else made absolute (GetFullPathNameW) and given the \\?\ prefix, so that no length
// limit applies. Fails without a system call when the path holds a NUL.
Result<std::wstring> native_path(std::string_view path);

// A wide-string query: `call(buffer, size)` follows the usual Win32 contract. It returns the
// length without the NUL on success, the size needed (NUL included) when the buffer is too small,
// and 0 on failure. A 0 with GetLastError still 0 (it is cleared before every attempt) is an
// empty value, not a failure. A result equal to the size is taken as truncation, and the buffer
// is doubled (GetModuleFileNameW reports truncation that way).
template <typename Call>
Result<std::wstring> query_wide_string(Call&& call) {
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

// The owner of one kernel handle. Move-only; closes the handle exactly once.
class UniqueHandle {
 public:
  UniqueHandle() noexcept = default;
  explicit UniqueHandle(HANDLE handle) noexcept : handle_(handle) {}
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }

  HANDLE get() const noexcept { return handle_; }
  explicit operator bool() const noexcept { return valid(handle_); }
  // Gives up ownership without closing.
  HANDLE release() noexcept { return std::exchange(handle_, nullptr); }
  // Closes the owned handle (if any) and takes `handle` instead.
  void reset(HANDLE handle = nullptr) noexcept {
    const HANDLE old = std::exchange(handle_, handle);
    if (valid(old)) ::CloseHandle(old);
  }

 private:
  static bool valid(HANDLE handle) noexcept { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
  HANDLE handle_ = nullptr;
};

}  // namespace platform::windows
