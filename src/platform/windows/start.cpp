// Start-up and the backend of fatal stops on Windows: where DLLs are looked for, the main
// thread's description, the stack-overflow report, raw writes to standard error, backtraces and
// the fail-fast abort.
#include <atomic>

#include "platform/fatal.hpp"
#include "platform/runtime.hpp"
#include "platform/windows/native.hpp"

namespace platform {

namespace {

void describe_thread_as_main() {
  using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  HMODULE kernel32 = ::GetModuleHandleA("kernel32");
  if (kernel32 == nullptr) return;
  FARPROC found = ::GetProcAddress(kernel32, "SetThreadDescription");
  if (found == nullptr) return;
  reinterpret_cast<SetDescription>(reinterpret_cast<void*>(found))(::GetCurrentThread(), L"main");
}

#ifdef ZARVO_COVERAGE
DWORD WINAPI write_coverage_counters(void*) {
  detail::write_coverage_counters();
  return 0;
}
#endif

// Runs on the overflowed thread's reserved stack: nothing here allocates.
LONG CALLBACK report_stack_overflow(EXCEPTION_POINTERS* info) {
  if (info->ExceptionRecord->ExceptionCode == EXCEPTION_STACK_OVERFLOW) {
    detail::write_stderr_raw(stack_overflow_report(::GetCurrentThreadId()).view());
#ifdef ZARVO_COVERAGE
    // The reserved stack has no room for writing the counters; another thread's has.
    if (HANDLE writer = ::CreateThread(nullptr, 0, write_coverage_counters, nullptr, 0, nullptr)) {
      ::WaitForSingleObject(writer, INFINITE);
      ::CloseHandle(writer);
    }
#endif
  }
  return EXCEPTION_CONTINUE_SEARCH;  // the system ends the process with the overflow status
}

void write_all(HANDLE handle, std::string_view text) {
  while (!text.empty()) {
    const DWORD chunk = text.size() < 0x40000000 ? static_cast<DWORD>(text.size()) : 0x40000000;
    DWORD written = 0;
    if (!::WriteFile(handle, text.data(), chunk, &written, nullptr) || written == 0) return;
    text.remove_prefix(written);
  }
}

// A console takes UTF-16; the text is converted in small pieces cut between characters, so that
// no heap is needed.
void write_console(HANDLE console, std::string_view text) {
  constexpr std::size_t piece_size = 512;
  wchar_t wide[piece_size];
  while (!text.empty()) {
    std::size_t cut = text.size() < piece_size ? text.size() : piece_size;
    while (cut < text.size() && cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    if (cut == 0) cut = text.size() < piece_size ? text.size() : piece_size;
    const int units = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(cut), wide, piece_size);
    const wchar_t* next = wide;
    DWORD left = static_cast<DWORD>(units);
    while (left > 0) {
      DWORD written = 0;
      if (!::WriteConsoleW(console, next, left, &written, nullptr) || written == 0) return;
      next += written;
      left -= written;
    }
    text.remove_prefix(cut);
  }
}

}  // namespace

namespace detail {

void write_stderr_raw(std::string_view text) {
  const HANDLE handle = ::GetStdHandle(STD_ERROR_HANDLE);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
  DWORD mode = 0;
  if (::GetConsoleMode(handle, &mode)) {
    write_console(handle, text);
  } else {
    write_all(handle, text);
  }
}

std::uint64_t current_thread_id() { return ::GetCurrentThreadId(); }

std::optional<std::string_view> backtrace_variable(char (&buffer)[32]) {
  wchar_t wide[32];
  ::SetLastError(0);
  const DWORD length = ::GetEnvironmentVariableW(L"ZARVO_BACKTRACE", wide, 32);
  if (length == 0) {
    if (::GetLastError() != 0) return std::nullopt;
    return std::string_view();
  }
  // A longer value only has to be told apart from "0" and from empty.
  const DWORD kept = length < 32 ? length : 31;
  for (DWORD i = 0; i < kept; ++i) buffer[i] = wide[i] < 0x80 ? static_cast<char>(wide[i]) : '?';
  return std::string_view(buffer, kept);
}

void write_backtrace() {
  void* frames[62];
  const USHORT count = ::RtlCaptureStackBackTrace(1, 62, frames, nullptr);
  write_stderr_raw("stack backtrace:\n");
  for (USHORT i = 0; i < count; ++i) {
    FixedText<48> line;
    line.append("  ").append_decimal(i).append(": 0x");
    line.append_hex(reinterpret_cast<std::uintptr_t>(frames[i]), 16).append("\n");
    write_stderr_raw(line.view());
  }
}

void abort_process() {
  write_coverage_counters();
  // __fastfail(FAST_FAIL_FATAL_APP_EXIT): ends the process at once, with no handler run.
  __asm__ volatile("int $0x29" : : "c"(FAST_FAIL_FATAL_APP_EXIT) : "memory");
  ::TerminateProcess(::GetCurrentProcess(), 3);
  __builtin_unreachable();
}

}  // namespace detail

void start(std::uint32_t (*body)()) {
  // DLLs loaded from here on (by the system's own DLLs too) come from the system folder only,
  // never from the folder the setup was started from (usually Downloads, where anyone's file can
  // lie). The imports the loader resolved before this are system DLLs alone.
  ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  describe_thread_as_main();
  ::AddVectoredExceptionHandler(1, report_stack_overflow);
  // Room for the report once the stack has overflowed.
  ULONG guarantee = 0x5000;
  ::SetThreadStackGuarantee(&guarantee);
  detail::allocation_failure_is_fatal.store(true);
  exit_process(body());
}

}  // namespace platform
