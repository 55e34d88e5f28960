// Standard streams on Windows. The handle is asked for at every call and never closed. A console
// whose output code page is not UTF-8 is written as UTF-16 with WriteConsoleW; files, pipes and
// a UTF-8 console get the bytes unchanged through NtWriteFile. Console input is read as UTF-16
// with ReadConsoleW, redirected input with NtReadFile.
#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "platform/console_raw.hpp"
#include "platform/fatal.hpp"

extern "C" {
NTSTATUS NTAPI NtWriteFile(HANDLE file, HANDLE event, PIO_APC_ROUTINE apc_routine, PVOID apc_context,
                           PIO_STATUS_BLOCK io_status, PVOID buffer, ULONG length, PLARGE_INTEGER offset,
                           PULONG key);
NTSTATUS NTAPI NtReadFile(HANDLE file, HANDLE event, PIO_APC_ROUTINE apc_routine, PVOID apc_context,
                          PIO_STATUS_BLOCK io_status, PVOID buffer, ULONG length, PLARGE_INTEGER offset,
                          PULONG key);
}

namespace platform::raw {

namespace {

constexpr NTSTATUS status_pending = 0x00000103;
constexpr NTSTATUS status_end_of_file = static_cast<NTSTATUS>(0xC0000011);

Result<HANDLE> std_handle(DWORD which) {
  HANDLE handle = GetStdHandle(which);
  if (handle == nullptr) return std::unexpected(PlatformError::os(ERROR_INVALID_HANDLE));
  if (handle == INVALID_HANDLE_VALUE) return std::unexpected(PlatformError::os(GetLastError()));
  return handle;
}

bool is_console(HANDLE handle) {
  DWORD mode = 0;
  return GetConsoleMode(handle, &mode) != 0;
}

// A pending call that the wait did not finish would leave the system writing into memory that
// is gone once we return: the process cannot go on.
[[noreturn]] void abort_not_synchronous() {
  detail::write_stderr_raw("fatal runtime error: I/O error: operation failed to complete synchronously, aborting\n");
  detail::abort_process();
}

// Finishes an Nt call on a handle that may have been opened for overlapped use.
NTSTATUS settle(HANDLE handle, NTSTATUS status, const IO_STATUS_BLOCK& io_status) {
  if (status == status_pending) {
    WaitForSingleObject(handle, INFINITE);
    status = io_status.Status;
    if (status == status_pending) abort_not_synchronous();
  }
  return status;
}

PlatformError nt_error(NTSTATUS status) { return PlatformError::os(RtlNtStatusToDosError(status)); }

Result<std::size_t> nt_write(HANDLE handle, std::string_view bytes) {
  IO_STATUS_BLOCK io_status{};
  io_status.Status = status_pending;
  const auto length = static_cast<ULONG>(std::min<std::size_t>(bytes.size(), MAXDWORD));
  NTSTATUS status = NtWriteFile(handle, nullptr, nullptr, nullptr, &io_status, const_cast<char*>(bytes.data()),
                                length, nullptr, nullptr);
  status = settle(handle, status, io_status);
  if (!NT_SUCCESS(status)) return std::unexpected(nt_error(status));
  return static_cast<std::size_t>(io_status.Information);
}

Result<std::size_t> nt_read(HANDLE handle, std::span<char> out) {
  IO_STATUS_BLOCK io_status{};
  io_status.Status = status_pending;
  const auto length = static_cast<ULONG>(std::min<std::size_t>(out.size(), MAXDWORD));
  NTSTATUS status = NtReadFile(handle, nullptr, nullptr, nullptr, &io_status, out.data(), length, nullptr, nullptr);
  status = settle(handle, status, io_status);
  if (status == status_end_of_file) return 0;
  if (!NT_SUCCESS(status)) {
    const auto error = nt_error(status);
    // The writer of a pipe has gone: that is the end of the input, not a failure.
    if (error.kind() == ErrorKind::BrokenPipe) return 0;
    return std::unexpected(error);
  }
  return static_cast<std::size_t>(io_status.Information);
}

class ConsoleOutput final : public WideConsoleOutput {
 public:
  explicit ConsoleOutput(HANDLE handle) : handle_(handle) {}
  Result<std::size_t> write_units(std::u16string_view units) override {
    DWORD written = 0;
    const auto length = static_cast<DWORD>(units.size());
    if (!WriteConsoleW(handle_, units.data(), length, &written, nullptr)) {
      return std::unexpected(PlatformError::os(GetLastError()));
    }
    return static_cast<std::size_t>(written);
  }

 private:
  HANDLE handle_;
};

class ConsoleInput final : public WideConsoleInput {
 public:
  explicit ConsoleInput(HANDLE handle) : handle_(handle) {}
  Result<std::size_t> read_units(std::span<char16_t> units) override {
    // Ctrl+Z wakes the read at once instead of waiting for Enter.
    CONSOLE_READCONSOLE_CONTROL control{sizeof(CONSOLE_READCONSOLE_CONTROL), 0, 1UL << console_end_of_input_unit, 0};
    DWORD read = 0;
    SetLastError(ERROR_SUCCESS);
    if (!ReadConsoleW(handle_, units.data(), static_cast<DWORD>(units.size()), &read, &control)) {
      return std::unexpected(PlatformError::os(GetLastError()));
    }
    // Ctrl+C or Ctrl+Break during the read: it succeeds with nothing and says why.
    if (read == 0 && GetLastError() == ERROR_OPERATION_ABORTED) {
      return std::unexpected(PlatformError::os(ERROR_OPERATION_ABORTED));
    }
    return static_cast<std::size_t>(read);
  }

 private:
  HANDLE handle_;
};

}  // namespace

Result<std::size_t> write(OutputStream stream, std::string_view bytes, ConsoleUtf8Writer& console) {
  auto handle = std_handle(stream == OutputStream::stdout_stream ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  if (!handle) return std::unexpected(handle.error());
  if (is_console(*handle) && GetConsoleOutputCP() != CP_UTF8) {
    ConsoleOutput output(*handle);
    return console.write(bytes, output);
  }
  return nt_write(*handle, bytes);
}

Result<std::size_t> read_stdin(std::span<char> out, ConsoleUtf16Reader& console) {
  auto handle = std_handle(STD_INPUT_HANDLE);
  if (!handle) return std::unexpected(handle.error());
  if (is_console(*handle)) {
    ConsoleInput input(*handle);
    return console.read(out, input);
  }
  return nt_read(*handle, out);
}

}  // namespace platform::raw
