// Standard streams on Windows. The handle is asked for at every call and never closed. A console
// whose output code page is not UTF-8 is written as UTF-16 with WriteConsoleW; files, pipes and
// a UTF-8 console get the bytes unchanged through NtWriteFile. Console input is read as UTF-16
// with ReadConsoleW, redirected input with NtReadFile.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "platform/console/raw.hpp"
#include "platform/windows/native.hpp"

namespace platform::raw {

namespace {

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

Result<std::size_t> nt_read(HANDLE handle, std::span<char> out) {
  auto read = windows::nt_read(handle, std::as_writable_bytes(out));
  // The writer of a pipe has gone: that is the end of the input, not a failure.
  if (!read && read.error().kind() == ErrorKind::BrokenPipe) return 0;
  return read;
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
  auto handle = std_handle(stream == OutputStream::Stdout ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  if (!handle) return std::unexpected(handle.error());
  if (is_console(*handle) && GetConsoleOutputCP() != CP_UTF8) {
    ConsoleOutput output(*handle);
    return console.write(bytes, output);
  }
  return windows::nt_write(*handle, std::as_bytes(std::span(bytes.data(), bytes.size())));
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

void discard_typed_ahead() {
  const HANDLE handle = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode)) return;
  constexpr DWORD line_mode = ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT | ENABLE_PROCESSED_INPUT;
  if ((mode & line_mode) != line_mode) SetConsoleMode(handle, mode | line_mode);
  FlushConsoleInputBuffer(handle);
}

}  // namespace platform::raw
