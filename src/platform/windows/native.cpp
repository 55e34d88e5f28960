// Paths, handles and NT I/O at the Windows boundary.
#include "platform/windows/native.hpp"

#include <winternl.h>

#include <algorithm>

#include "platform/fatal.hpp"
#include "platform/windows_rules.hpp"

extern "C" {
NTSTATUS NTAPI NtWriteFile(HANDLE file, HANDLE event, PIO_APC_ROUTINE apc_routine, PVOID apc_context,
                           PIO_STATUS_BLOCK io_status, PVOID buffer, ULONG length, PLARGE_INTEGER offset,
                           PULONG key);
NTSTATUS NTAPI NtReadFile(HANDLE file, HANDLE event, PIO_APC_ROUTINE apc_routine, PVOID apc_context,
                          PIO_STATUS_BLOCK io_status, PVOID buffer, ULONG length, PLARGE_INTEGER offset,
                          PULONG key);
}

namespace platform {

void KernelHandleTraits::close(Handle handle) noexcept { ::CloseHandle(handle); }
void SearchHandleTraits::close(Handle handle) noexcept { ::FindClose(handle); }

namespace windows {

namespace {

constexpr NTSTATUS status_pending = 0x00000103;
constexpr NTSTATUS status_end_of_file = static_cast<NTSTATUS>(0xC0000011);

[[noreturn]] void abort_not_synchronous() {
  detail::write_stderr_raw("fatal runtime error: I/O error: operation failed to complete synchronously, aborting\n");
  detail::abort_process();
}

// The status of a call once it has finished.
NTSTATUS settle(HANDLE handle, NTSTATUS status, const IO_STATUS_BLOCK& io_status) {
  if (status == status_pending) {
    ::WaitForSingleObject(handle, INFINITE);
    status = io_status.Status;
    if (status == status_pending) abort_not_synchronous();
  }
  return status;
}

PlatformError nt_error(NTSTATUS status) { return PlatformError::os(::RtlNtStatusToDosError(status)); }

}  // namespace

Result<std::wstring> full_path_name(std::wstring_view path) {
  const std::wstring terminated(path);  // the view has no NUL of its own
  return query_wide_string(
      [&](wchar_t* buffer, DWORD size) { return ::GetFullPathNameW(terminated.c_str(), size, buffer, nullptr); });
}

Result<std::wstring> native_path(std::string_view path) {
  auto wide = wide_from_utf8(path);
  if (!wide) return std::unexpected(wide.error());
  return windows_rules::native_form<wchar_t>(*wide, full_path_name);
}

Result<std::size_t> nt_write(HANDLE handle, std::span<const std::byte> bytes) {
  IO_STATUS_BLOCK io_status{};
  io_status.Status = status_pending;
  const auto length = static_cast<ULONG>(std::min<std::size_t>(bytes.size(), MAXDWORD));
  NTSTATUS status = ::NtWriteFile(handle, nullptr, nullptr, nullptr, &io_status, const_cast<std::byte*>(bytes.data()),
                                  length, nullptr, nullptr);
  status = settle(handle, status, io_status);
  if (!NT_SUCCESS(status)) return std::unexpected(nt_error(status));
  return static_cast<std::size_t>(io_status.Information);
}

Result<std::size_t> nt_read(HANDLE handle, std::span<std::byte> out) {
  IO_STATUS_BLOCK io_status{};
  io_status.Status = status_pending;
  const auto length = static_cast<ULONG>(std::min<std::size_t>(out.size(), MAXDWORD));
  NTSTATUS status = ::NtReadFile(handle, nullptr, nullptr, nullptr, &io_status, out.data(), length, nullptr, nullptr);
  status = settle(handle, status, io_status);
  if (status == status_end_of_file) return 0;
  if (!NT_SUCCESS(status)) return std::unexpected(nt_error(status));
  return static_cast<std::size_t>(io_status.Information);
}

}  // namespace windows
}  // namespace platform
