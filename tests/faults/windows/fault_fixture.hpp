// What the fault tests share: the hooked imports, names of open handles and object attributes,
// the whole tree below a test's folder, and the whole error a result carries.
#pragma once

#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <string>
#include <type_traits>
#include <vector>

#include "faults/windows/import_patch.hpp"
#include "platform/error.hpp"
#include "platform/text.hpp"
#include "system/fs_fixture.hpp"

extern "C" NTSTATUS NTAPI NtWriteFile(HANDLE file, HANDLE event, PIO_APC_ROUTINE apc_routine, PVOID apc_context,
                                      PIO_STATUS_BLOCK io_status, PVOID buffer, ULONG length, PLARGE_INTEGER offset,
                                      PULONG key);

namespace faults {

FAULTS_IMPORT(NtOpenFile);
FAULTS_IMPORT(NtWriteFile);
FAULTS_IMPORT(CreateFileW);
FAULTS_IMPORT(ReOpenFile);
FAULTS_IMPORT(SetFileInformationByHandle);
FAULTS_IMPORT(GetFileInformationByHandleEx);
FAULTS_IMPORT(GetFileInformationByHandle);
FAULTS_IMPORT(FindFirstFileExW);
FAULTS_IMPORT(FindNextFileW);
FAULTS_IMPORT(CreateSymbolicLinkW);
FAULTS_IMPORT(DeviceIoControl);
FAULTS_IMPORT(GetFinalPathNameByHandleW);
FAULTS_IMPORT(Sleep);

inline constexpr const char* kernel32 = "KERNEL32.dll";
inline constexpr const char* ntdll = "ntdll.dll";

inline constexpr NTSTATUS status_invalid_parameter = static_cast<NTSTATUS>(0xC000000D);
inline constexpr NTSTATUS status_access_denied = static_cast<NTSTATUS>(0xC0000022);
inline constexpr NTSTATUS status_sharing_violation = static_cast<NTSTATUS>(0xC0000043);

inline std::wstring wide(std::string_view utf8) {
  return platform::to_utf16_unchecked<wchar_t>(utf8);
}

// The last component of an open entry's final path ("" when the system cannot tell).
inline std::wstring leaf(HANDLE handle) {
  wchar_t buffer[2048];
  const DWORD length = ::GetFinalPathNameByHandleW(handle, buffer, 2048, 0);
  if (length == 0 || length >= 2048) return {};
  const std::wstring_view path(buffer, length);
  return std::wstring(path.substr(path.find_last_of(L'\\') + 1));
}

inline std::wstring object_name(const OBJECT_ATTRIBUTES* object) {
  if (object == nullptr || object->ObjectName == nullptr) return {};
  return std::wstring(object->ObjectName->Buffer, object->ObjectName->Length / sizeof(wchar_t));
}

// Every entry below `root`, relative, '/'-separated, directories with a trailing '/', sorted.
inline std::vector<std::string> tree(const std::string& root) {
  std::vector<std::string> entries;
  const auto base = fs_test::host_path(root);
  for (const auto& entry : std::filesystem::recursive_directory_iterator(base)) {
    const std::u8string relative = entry.path().lexically_relative(base).generic_u8string();
    std::string name(relative.begin(), relative.end());
    if (entry.is_directory()) name += '/';
    entries.push_back(std::move(name));
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

// The whole outcome: "ok", or the error's detail form (code, kind and the system's message).
template <typename T>
std::string outcome(const platform::Result<T>& result) {
  return result ? "ok" : platform::error_detail(result.error());
}

// The detail form an OS error must have: the code and kind as given, the system's own message.
inline std::string os_detail(std::uint32_t code, std::string_view kind) {
  return "Os { code: " + std::to_string(code) + ", kind: " + std::string(kind) + ", message: \"" +
         platform::os_error_message(code) + "\" }";
}

}  // namespace faults

#define ASSERT_HOOKED(hook) ASSERT_TRUE((hook).installed()) << "no import table entry for " #hook
