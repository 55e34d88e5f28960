// Windows error codes: their kinds and the system's own message texts.
#include <windows.h>

#include "platform/error.hpp"
#include "platform/system_message.hpp"

namespace platform {

ErrorKind os_error_kind(std::uint32_t code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:      // 2
    case ERROR_PATH_NOT_FOUND:      // 3
    case ERROR_INVALID_DRIVE:       // 15
    case ERROR_BAD_NETPATH:         // 53
    case ERROR_BAD_NET_NAME:        // 67
      return ErrorKind::NotFound;
    case ERROR_ACCESS_DENIED:       // 5
    case 10013:                     // WSAEACCES
      return ErrorKind::PermissionDenied;
    case ERROR_BROKEN_PIPE:         // 109
    case ERROR_NO_DATA:             // 232
    case 10058:                     // WSAESHUTDOWN
      return ErrorKind::BrokenPipe;
    case ERROR_FILE_EXISTS:         // 80
    case ERROR_ALREADY_EXISTS:      // 183
      return ErrorKind::AlreadyExists;
    case ERROR_INVALID_PARAMETER:   // 87
    case 10022:                     // WSAEINVAL
      return ErrorKind::InvalidInput;
    default:
      return ErrorKind::Uncategorized;
  }
}

std::string os_error_message(std::uint32_t code) {
  // Codes with the NT facility bit are NTSTATUS values whose texts live in ntdll's table.
  constexpr std::uint32_t nt_facility_bit = 0x10000000;
  DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  HMODULE module = nullptr;
  if ((code & nt_facility_bit) != 0) {
    module = ::GetModuleHandleW(L"NTDLL.DLL");
    if (module != nullptr) {
      flags |= FORMAT_MESSAGE_FROM_HMODULE;
      code &= ~nt_facility_bit;
    }
  }
  wchar_t buffer[2048];
  const DWORD length = ::FormatMessageW(flags, module, code, 0, buffer, 2048, nullptr);
  if (length == 0) return system_message_text<wchar_t>(code, std::nullopt, ::GetLastError());
  return system_message_text<wchar_t>(code, std::wstring_view(buffer, length), 0);
}

}  // namespace platform
