// Where the Windows backend meets states Wine never reaches by itself: a synchronous write that
// says it is pending, and the choice of the temporary-directory function at first use. The
// roads that end the process run in a child made by googletest (each a fresh process, so the
// choice made at first use is made there anew). Those children end through exit_process, as the
// program does.
#include <windows.h>
#include <winternl.h>

#include <string>

#include "faults/windows/fault_fixture.hpp"
#include "platform/fatal.hpp"
#include "platform/fs.hpp"
#include "platform/runtime.hpp"

namespace {

using namespace faults;
using fs_test::TempTree;

FAULTS_IMPORT(WaitForSingleObject);
FAULTS_IMPORT(GetProcAddress);
FAULTS_IMPORT(GetModuleHandleA);
FAULTS_IMPORT(GetTempPathW);
FAULTS_IMPORT(GetCurrentThreadId);

constexpr NTSTATUS status_pending = 0x00000103;
constexpr int fail_fast_status = static_cast<int>(0xC0000409);

// googletest's simple regular expressions: the text matched as it is.
std::string literally(std::string_view text) {
  std::string pattern;
  for (const char c : text) {
    if (std::string_view("\\^$.[](){}*+?|").find(c) != std::string_view::npos) pattern += '\\';
    pattern += c;
  }
  return pattern;
}

using PendingWrite = TempTree;

// A write reported as pending is waited for on the file's handle; its outcome is then taken
// from the status block, and the whole text is written.
TEST_F(PendingWrite, APendingWriteIsWaitedForAndItsOutcomeTaken) {
  const std::string path = at({"pending.txt"});
  auto file = platform::create_file(path);
  ASSERT_EQ(outcome(file), "ok");
  int pending = 0;
  int waits = 0;
  {
    Hook<NtWriteFile_import> writes(ntdll, "NtWriteFile",
                                    [&](HANDLE handle, HANDLE event, PIO_APC_ROUTINE apc, PVOID context,
                                        PIO_STATUS_BLOCK io, PVOID buffer, ULONG length, PLARGE_INTEGER offset,
                                        PULONG key) -> NTSTATUS {
                                      const NTSTATUS status = NtWriteFile_import::original(
                                          handle, event, apc, context, io, buffer, std::min<ULONG>(length, 6), offset,
                                          key);
                                      if (status != 0) return status;
                                      ++pending;
                                      return status_pending;  // finished, as the status block says
                                    });
    Hook<WaitForSingleObject_import> wait_hook(kernel32, "WaitForSingleObject", [&](HANDLE handle, DWORD timeout) {
      ++waits;
      return WaitForSingleObject_import::original(handle, timeout);
    });
    ASSERT_HOOKED(writes);
    ASSERT_HOOKED(wait_hook);
    const std::string text = "written while pending";
    EXPECT_EQ(outcome(platform::write_file(*file, std::as_bytes(std::span(text.data(), text.size())))), "ok");
  }
  platform::close_file(std::move(*file));
  EXPECT_EQ(pending, 4);
  EXPECT_EQ(waits, 4);
  EXPECT_EQ(fs_test::read_text(path), "written while pending");
}

// A call still pending after the wait would leave the system writing into memory that is gone:
// the process reports it and ends at once with the fail-fast status. The child that ends so
// runs no clean-up, so its file has a fixed name in the temporary directory, removed here.
TEST(PendingWriteEnd, AWriteStillPendingAfterTheWaitEndsTheProcess) {
  const std::string path = platform::join_path(platform::temp_directory(), "zarvo-fault-pending-write.txt");
  EXPECT_EXIT(
      {
        auto file = platform::create_file(path);
        Hook<NtWriteFile_import> writes(ntdll, "NtWriteFile",
                                        [&](HANDLE, HANDLE, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK io, PVOID, ULONG,
                                            PLARGE_INTEGER, PULONG) -> NTSTATUS {
                                          io->Status = status_pending;
                                          return status_pending;
                                        });
        Hook<WaitForSingleObject_import> waits(kernel32, "WaitForSingleObject",
                                               [&](HANDLE, DWORD) -> DWORD { return WAIT_OBJECT_0; });
        const std::string text = "x";
        (void)platform::write_file(*file, std::as_bytes(std::span(text.data(), text.size())));
        platform::exit_process(0);
      },
      testing::ExitedWithCode(fail_fast_status),
      "^" + literally("fatal runtime error: I/O error: operation failed to complete synchronously, aborting\n") + "$");
  ::DeleteFileW(wide(path).c_str());
}

// The temporary directory comes from GetTempPath2W where the system has it, else from
// GetTempPathW; a directory that cannot be had at all is a fatal stop.
TEST(TempPathChoice, GetTempPath2WIsUsedWhereTheSystemHasIt) {
  EXPECT_EXIT(
      {
        Hook<GetProcAddress_import> lookups(kernel32, "GetProcAddress", [](HMODULE module, LPCSTR name) -> FARPROC {
          if (std::string_view(name) != "GetTempPath2W") return GetProcAddress_import::original(module, name);
          return reinterpret_cast<FARPROC>(+[](DWORD size, LPWSTR buffer) -> DWORD {
            constexpr std::wstring_view newer = L"C:\\newer\\";
            if (size <= newer.size()) return static_cast<DWORD>(newer.size() + 1);
            newer.copy(buffer, newer.size());
            buffer[newer.size()] = L'\0';
            return static_cast<DWORD>(newer.size());
          });
        });
        platform::detail::write_stderr_raw(platform::temp_directory() + "|" + platform::temp_directory());
        platform::exit_process(0);
      },
      testing::ExitedWithCode(0), "^" + literally("C:\\newer\\|C:\\newer\\") + "$");
}

TEST(TempPathChoice, WithoutKernel32FoundGetTempPathWIsUsedAndItsFailureIsFatal) {
  EXPECT_EXIT(
      {
        Hook<GetModuleHandleA_import> modules(kernel32, "GetModuleHandleA", [](LPCSTR name) -> HMODULE {
          if (name != nullptr && std::string_view(name) == "kernel32") return nullptr;
          return GetModuleHandleA_import::original(name);
        });
        Hook<GetTempPathW_import> older(kernel32, "GetTempPathW", [](DWORD size, LPWSTR buffer) -> DWORD {
          constexpr std::wstring_view path = L"C:\\older\\";
          if (size <= path.size()) return static_cast<DWORD>(path.size() + 1);
          path.copy(buffer, path.size());
          buffer[path.size()] = L'\0';
          return static_cast<DWORD>(path.size());
        });
        platform::detail::write_stderr_raw(platform::temp_directory());
        platform::exit_process(0);
      },
      testing::ExitedWithCode(0), "^" + literally("C:\\older\\") + "$");
  EXPECT_EXIT(
      {
        Hook<GetTempPathW_import> older(kernel32, "GetTempPathW", [](DWORD, LPWSTR) -> DWORD {
          ::SetLastError(ERROR_ACCESS_DENIED);
          return 0;
        });
        Hook<GetProcAddress_import> lookups(kernel32, "GetProcAddress", [](HMODULE module, LPCSTR name) -> FARPROC {
          if (std::string_view(name) == "GetTempPath2W") return nullptr;
          return GetProcAddress_import::original(module, name);
        });
        Hook<GetCurrentThreadId_import> thread(kernel32, "GetCurrentThreadId", [] { return DWORD{4242}; });
        (void)platform::temp_directory();
        platform::exit_process(0);
      },
      testing::ExitedWithCode(101),
      "^" + literally("\nthread 'main' (4242) panicked at src/platform/windows/runtime.cpp:76:") + "\\d+" +
          literally(":\ncalled `Result::unwrap()` on an `Err` value: " + os_detail(5, "PermissionDenied") + "\n" +
                    std::string(platform::backtrace_hint)) +
          "$");
}

// The main thread is described as "main" where the system can describe threads; where it
// cannot (no SetThreadDescription, or kernel32 not found), the program runs all the same.
std::uint32_t report_description() {
  using GetDescription = HRESULT(WINAPI*)(HANDLE, PWSTR*);
  const auto get = reinterpret_cast<GetDescription>(
      reinterpret_cast<void*>(GetProcAddress_import::original(::GetModuleHandleW(L"kernel32.dll"), "GetThreadDescription")));
  std::string text = "(no GetThreadDescription)";
  PWSTR description = nullptr;
  if (get != nullptr && SUCCEEDED(get(::GetCurrentThread(), &description))) {
    text = "[" + platform::from_utf16<wchar_t>(description) + "]";
    ::LocalFree(description);
  }
  platform::detail::write_stderr_raw(text);
  return 7;
}

TEST(StartFault, TheMainThreadIsDescribedWhereTheSystemCanAndTheRunGoesOnWhereItCannot) {
  struct Case {
    const char* name;
    bool kernel32_found;
    bool describer_found;
    const char* expected;
  };
  const Case cases[] = {
      {"describer found", true, true, "[main]"},
      {"no describer", true, false, "[]"},
      {"no kernel32", false, true, "[]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EXIT(
        {
          Hook<GetModuleHandleA_import> modules(kernel32, "GetModuleHandleA", [&](LPCSTR name) -> HMODULE {
            if (!c.kernel32_found && name != nullptr && std::string_view(name) == "kernel32") return nullptr;
            return GetModuleHandleA_import::original(name);
          });
          Hook<GetProcAddress_import> lookups(kernel32, "GetProcAddress", [&](HMODULE module, LPCSTR name) -> FARPROC {
            if (!c.describer_found && std::string_view(name) == "SetThreadDescription") return nullptr;
            return GetProcAddress_import::original(module, name);
          });
          platform::start(report_description);
        },
        testing::ExitedWithCode(7), "^" + literally(c.expected) + "$");
  }
}

}  // namespace
