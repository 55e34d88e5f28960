// The standard streams, raw standard-error writes, sleeping and child processes on Windows when
// the calls under them fail or answer as a console would.
#include <windows.h>
#include <winternl.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "faults/windows/fault_fixture.hpp"
#include "platform/console/raw.hpp"
#include "platform/fatal.hpp"
#include "platform/runtime.hpp"
#include "process/child.hpp"
#include "process/installer.hpp"

extern "C" NTSTATUS NTAPI NtReadFile(HANDLE file, HANDLE event, PIO_APC_ROUTINE apc_routine, PVOID apc_context,
                                     PIO_STATUS_BLOCK io_status, PVOID buffer, ULONG length, PLARGE_INTEGER offset,
                                     PULONG key);

namespace {

using namespace faults;

FAULTS_IMPORT(GetStdHandle);
FAULTS_IMPORT(GetConsoleMode);
FAULTS_IMPORT(GetConsoleOutputCP);
FAULTS_IMPORT(WriteConsoleW);
FAULTS_IMPORT(ReadConsoleW);
FAULTS_IMPORT(SetConsoleMode);
FAULTS_IMPORT(FlushConsoleInputBuffer);
FAULTS_IMPORT(WriteFile);
FAULTS_IMPORT(NtReadFile);
FAULTS_IMPORT(CreateWaitableTimerExW);
FAULTS_IMPORT(SetWaitableTimer);
FAULTS_IMPORT(QueryPerformanceCounter);
FAULTS_IMPORT(DuplicateHandle);
FAULTS_IMPORT(CreateProcessW);
FAULTS_IMPORT(WaitForSingleObject);
FAULTS_IMPORT(GetExitCodeProcess);
FAULTS_IMPORT(GetSystemDirectoryW);
FAULTS_IMPORT(GetWindowsDirectoryW);
FAULTS_IMPORT(GetEnvironmentVariableW);
FAULTS_IMPORT(GetFileAttributesW);

// A handle value no system call ever sees: every call that would use it is replaced.
const HANDLE stand_in_handle = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x5A5A0));

std::u16string utf16(std::string_view utf8) { return platform::to_utf16_unchecked(utf8); }

// ---- raw writes to standard error ----------------------------------------------------------------

// On a console the text goes as UTF-16 pieces of at most 512 bytes cut between characters (a
// run of stray continuation bytes is cut where it must be); a write that fails or takes nothing
// ends the report, one that takes part of a piece is continued.
TEST(StderrFault, AConsoleGetsTheTextInPiecesCutBetweenCharacters) {
  const std::string ascii_then_e = std::string(511, 'a') + "\xC3\xA9" + std::string(100, 'b');
  const std::string stray = std::string(600, '\x80');
  struct Case {
    const char* name;
    std::string text;
    DWORD accept;    // at most this many units per call
    int fail_at;     // the call that fails (0: none)
    bool take_none;  // the failing call succeeds taking nothing
    std::vector<std::u16string> expected_calls;
  };
  const std::u16string a511(511, u'a');
  const std::u16string e_b100 = u"\u00E9" + std::u16string(100, u'b');
  const Case cases[] = {
      {"cut before a character", ascii_then_e, 4096, 0, false, {a511, e_b100}},
      {"partly taken", ascii_then_e, 300, 0, false,
       {a511, a511.substr(300), e_b100}},
      {"stray continuation bytes", stray, 4096, 0, false,
       {std::u16string(512, u'\uFFFD'), std::u16string(88, u'\uFFFD')}},
      {"failing", ascii_then_e, 4096, 1, false, {a511}},
      {"taking nothing", ascii_then_e, 4096, 2, true, {a511, e_b100}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::u16string> calls;
    Hook<GetStdHandle_import> handles(kernel32, "GetStdHandle", [&](DWORD which) {
      return which == STD_ERROR_HANDLE ? stand_in_handle : GetStdHandle_import::original(which);
    });
    Hook<GetConsoleMode_import> modes(kernel32, "GetConsoleMode", [&](HANDLE handle, LPDWORD mode) -> BOOL {
      if (handle != stand_in_handle) return GetConsoleMode_import::original(handle, mode);
      *mode = ENABLE_PROCESSED_OUTPUT;
      return TRUE;
    });
    Hook<WriteConsoleW_import> writes(
        kernel32, "WriteConsoleW", [&](HANDLE, const VOID* units, DWORD count, LPDWORD written, LPVOID) -> BOOL {
          calls.emplace_back(static_cast<const char16_t*>(units), count);
          const bool failing = c.fail_at == static_cast<int>(calls.size());
          *written = failing ? 0 : std::min(count, c.accept);
          if (failing && !c.take_none) {
            ::SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
          }
          return TRUE;
        });
    ASSERT_HOOKED(handles);
    ASSERT_HOOKED(modes);
    ASSERT_HOOKED(writes);
    platform::detail::write_stderr_raw(c.text);
    EXPECT_EQ(calls, c.expected_calls);
  }
}

// Elsewhere the bytes go unchanged, continued after a partial write and given up after a write
// that fails or takes nothing; with no standard error at all nothing is written.
TEST(StderrFault, AFileOrPipeGetsTheBytesUntilAWriteTakesNothing) {
  struct Case {
    const char* name;
    HANDLE handle;
    DWORD accept;
    int fail_at;
    bool take_none;
    std::vector<std::string> expected_calls;
  };
  const Case cases[] = {
      {"whole", stand_in_handle, 100, 0, false, {"report\n"}},
      {"partly taken", stand_in_handle, 4, 0, false, {"report\n", "rt\n"}},
      {"failing", stand_in_handle, 100, 1, false, {"report\n"}},
      {"taking nothing", stand_in_handle, 4, 2, true, {"report\n", "rt\n"}},
      {"no handle", nullptr, 100, 0, false, {}},
      {"invalid handle", INVALID_HANDLE_VALUE, 100, 0, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> calls;
    Hook<GetStdHandle_import> handles(kernel32, "GetStdHandle", [&](DWORD which) {
      return which == STD_ERROR_HANDLE ? c.handle : GetStdHandle_import::original(which);
    });
    Hook<GetConsoleMode_import> modes(kernel32, "GetConsoleMode", [&](HANDLE handle, LPDWORD mode) -> BOOL {
      if (handle != stand_in_handle) return GetConsoleMode_import::original(handle, mode);
      ::SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    });
    Hook<WriteFile_import> writes(kernel32, "WriteFile",
                                  [&](HANDLE handle, LPCVOID bytes, DWORD count, LPDWORD written, LPOVERLAPPED) -> BOOL {
                                    if (handle != stand_in_handle) {
                                      ::SetLastError(ERROR_INVALID_HANDLE);
                                      return FALSE;
                                    }
                                    calls.emplace_back(static_cast<const char*>(bytes), count);
                                    const bool failing = c.fail_at == static_cast<int>(calls.size());
                                    *written = failing ? 0 : std::min(count, c.accept);
                                    if (failing && !c.take_none) {
                                      ::SetLastError(ERROR_NO_DATA);
                                      return FALSE;
                                    }
                                    return TRUE;
                                  });
    ASSERT_HOOKED(handles);
    ASSERT_HOOKED(modes);
    ASSERT_HOOKED(writes);
    platform::detail::write_stderr_raw("report\n");
    EXPECT_EQ(calls, c.expected_calls);
  }
}

// ---- the standard streams ------------------------------------------------------------------------

// A standard handle that is missing or invalid is the stream's error; a console whose output
// code page is not UTF-8 is written as UTF-16 (in these cases, code page 850 takes the units,
// 437 refuses them) and its refusal is the error; a UTF-8 console gets the bytes unchanged.
TEST(StreamFault, OutputGoesAsTheHandleAndCodePageRequire) {
  struct Case {
    const char* name;
    HANDLE handle;
    UINT code_page;
    std::string expected_outcome;
    std::vector<std::u16string> expected_console;
    std::vector<std::string> expected_bytes;
  };
  const Case cases[] = {
      {"no handle", nullptr, 437, os_detail(ERROR_INVALID_HANDLE, "Uncategorized"), {}, {}},
      {"invalid handle", INVALID_HANDLE_VALUE, 437, os_detail(ERROR_NOT_ENOUGH_MEMORY, "Uncategorized"), {}, {}},
      {"console refusing", stand_in_handle, 437, os_detail(ERROR_INVALID_HANDLE, "Uncategorized"), {u"h\u00E9\n"}, {}},
      {"console taking it", stand_in_handle, 850, "ok 4", {u"h\u00E9\n"}, {}},
      {"UTF-8 console", stand_in_handle, CP_UTF8, "ok 4", {}, {"h\xC3\xA9\n"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::u16string> console;
    std::vector<std::string> bytes;
    Hook<GetStdHandle_import> handles(kernel32, "GetStdHandle", [&](DWORD which) {
      if (which != STD_OUTPUT_HANDLE) return GetStdHandle_import::original(which);
      ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return c.handle;
    });
    Hook<GetConsoleMode_import> modes(kernel32, "GetConsoleMode", [&](HANDLE handle, LPDWORD mode) -> BOOL {
      if (handle != stand_in_handle) return GetConsoleMode_import::original(handle, mode);
      *mode = ENABLE_PROCESSED_OUTPUT;
      return TRUE;
    });
    Hook<GetConsoleOutputCP_import> pages(kernel32, "GetConsoleOutputCP", [&] { return c.code_page; });
    Hook<WriteConsoleW_import> writes(kernel32, "WriteConsoleW",
                                      [&](HANDLE, const VOID* units, DWORD count, LPDWORD written, LPVOID) -> BOOL {
                                        console.emplace_back(static_cast<const char16_t*>(units), count);
                                        const bool takes = c.code_page == 850;
                                        *written = takes ? count : 0;
                                        ::SetLastError(ERROR_INVALID_HANDLE);
                                        return takes;
                                      });
    Hook<NtWriteFile_import> nt_writes(ntdll, "NtWriteFile",
                                       [&](HANDLE, HANDLE, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK io, PVOID buffer,
                                           ULONG length, PLARGE_INTEGER, PULONG) -> NTSTATUS {
                                         bytes.emplace_back(static_cast<const char*>(buffer), length);
                                         io->Status = 0;
                                         io->Information = length;
                                         return 0;
                                       });
    ASSERT_HOOKED(handles);
    ASSERT_HOOKED(modes);
    ASSERT_HOOKED(pages);
    ASSERT_HOOKED(writes);
    ASSERT_HOOKED(nt_writes);
    platform::ConsoleUtf8Writer writer;
    auto written = platform::raw::write(platform::raw::OutputStream::Stdout, "h\xC3\xA9\n", writer);
    EXPECT_EQ(written ? "ok " + std::to_string(*written) : platform::error_detail(written.error()), c.expected_outcome);
    EXPECT_EQ(console, c.expected_console);
    EXPECT_EQ(bytes, c.expected_bytes);
  }
}

// Console input: a refused read is the error; a read broken off by Ctrl+C is tried again, and
// given up after 16 retries. Redirected input: a pipe whose writer has gone is the end, any
// other failure the error.
TEST(StreamFault, InputReadsAreRetriedEndedOrFailedAsTheirFailureSays) {
  struct Case {
    const char* name;
    bool console;
    std::vector<DWORD> answers;  // per read: 0 gives "ok\r\n", 995 an aborted read, else the error
    NTSTATUS redirected_status;
    std::string expected_outcome;
    std::size_t expected_reads;
  };
  const Case cases[] = {
      {"console refusing", true, {ERROR_ACCESS_DENIED}, 0, os_detail(5, "PermissionDenied"), 1},
      {"console aborted once", true, {995, 0}, 0, "ok\r\n", 2},
      {"console aborted for good", true, std::vector<DWORD>(17, 995), 0, os_detail(995, "Uncategorized"), 17},
      {"pipe ended", false, {}, static_cast<NTSTATUS>(0xC000014B), "", 1},
      {"pipe refusing", false, {}, status_access_denied, os_detail(5, "PermissionDenied"), 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::size_t reads = 0;
    Hook<GetStdHandle_import> handles(kernel32, "GetStdHandle", [&](DWORD which) {
      return which == STD_INPUT_HANDLE ? stand_in_handle : GetStdHandle_import::original(which);
    });
    Hook<GetConsoleMode_import> modes(kernel32, "GetConsoleMode", [&](HANDLE handle, LPDWORD mode) -> BOOL {
      if (handle != stand_in_handle) return GetConsoleMode_import::original(handle, mode);
      *mode = ENABLE_LINE_INPUT;
      ::SetLastError(ERROR_INVALID_HANDLE);
      return c.console;
    });
    Hook<ReadConsoleW_import> console_reads(
        kernel32, "ReadConsoleW", [&](HANDLE, LPVOID units, DWORD, LPDWORD read, LPVOID) -> BOOL {
          const DWORD answer = c.answers.at(reads++);
          *read = 0;
          if (answer == 0) {
            std::memcpy(units, u"ok\r\n", 8);
            *read = 4;
            return TRUE;
          }
          ::SetLastError(answer);
          return answer == 995;  // Ctrl+C: the read succeeds with nothing and says why
        });
    Hook<NtReadFile_import> pipe_reads(ntdll, "NtReadFile",
                                       [&](HANDLE, HANDLE, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK io, PVOID, ULONG,
                                           PLARGE_INTEGER, PULONG) -> NTSTATUS {
                                         ++reads;
                                         io->Status = c.redirected_status;
                                         return c.redirected_status;
                                       });
    ASSERT_HOOKED(handles);
    ASSERT_HOOKED(modes);
    ASSERT_HOOKED(console_reads);
    ASSERT_HOOKED(pipe_reads);
    platform::ConsoleUtf16Reader reader;
    char out[64];
    auto read = platform::raw::read_stdin(out, reader);
    EXPECT_EQ(read ? std::string(out, *read) : platform::error_detail(read.error()), c.expected_outcome);
    EXPECT_EQ(reads, c.expected_reads);
  }
}

// Before the question, a console's waiting input is dropped, and line input, echo and Ctrl+C are
// switched back on where a child left them off (other mode bits kept). Redirected input is left.
TEST(StreamFault, KeysTypedAheadAtAConsoleAreDroppedBeforeTheQuestion) {
  constexpr DWORD line_mode = ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT | ENABLE_PROCESSED_INPUT;
  const struct {
    bool console;
    DWORD mode;
    std::vector<DWORD> expected_modes_set;
    int expected_flushes;
  } cases[] = {
      {true, ENABLE_INSERT_MODE | line_mode, {}, 1},
      {true, ENABLE_INSERT_MODE | ENABLE_LINE_INPUT, {ENABLE_INSERT_MODE | line_mode}, 1},
      {false, 0, {}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    std::vector<DWORD> modes_set;
    int flushes = 0;
    Hook<GetStdHandle_import> handles(kernel32, "GetStdHandle", [&](DWORD which) {
      return which == STD_INPUT_HANDLE ? stand_in_handle : GetStdHandle_import::original(which);
    });
    Hook<GetConsoleMode_import> modes(kernel32, "GetConsoleMode", [&](HANDLE, LPDWORD mode) -> BOOL {
      *mode = c.mode;
      return c.console;
    });
    Hook<SetConsoleMode_import> sets(kernel32, "SetConsoleMode", [&](HANDLE, DWORD mode) -> BOOL {
      modes_set.push_back(mode);
      return TRUE;
    });
    Hook<FlushConsoleInputBuffer_import> flush(kernel32, "FlushConsoleInputBuffer", [&](HANDLE) -> BOOL {
      return ++flushes;
    });
    ASSERT_HOOKED(handles);
    ASSERT_HOOKED(modes);
    ASSERT_HOOKED(sets);
    ASSERT_HOOKED(flush);
    platform::raw::discard_typed_ahead();
    EXPECT_EQ(modes_set, c.expected_modes_set);
    EXPECT_EQ(flushes, c.expected_flushes);
  }
}

// ---- sleeping ------------------------------------------------------------------------------------

// Without a waitable timer (none made, or none set) the sleep is made of Sleep calls of at most
// INFINITE - 1 milliseconds (a part of a millisecond counting as a whole one), with one more
// millisecond when the performance counter says the time has not quite passed.
TEST(SleepFault, WithoutATimerTheSleepIsMadeOfMillisecondSleeps) {
  LARGE_INTEGER frequency;
  ::QueryPerformanceFrequency(&frequency);
  const LONGLONG per_millisecond = frequency.QuadPart / 1000;
  struct Case {
    const char* name;
    bool timer_made;
    std::uint64_t seconds;
    std::uint32_t nanoseconds;
    LONGLONG counted;  // ticks the counter shows as passed
    std::vector<DWORD> expected_sleeps;
  };
  const Case cases[] = {
      {"no timer, time passed", false, 0, 30'000'000, 30 * per_millisecond, {30}},
      {"no timer, time short", false, 0, 30'000'000, 30 * per_millisecond - 1, {30, 1}},
      {"timer not set, part of a millisecond", true, 0, 30'500'000, 31 * per_millisecond, {31}},
      {"longer than one Sleep", false, 5'000'000, 0, 5'000'000'000LL * per_millisecond,
       {INFINITE - 1, static_cast<DWORD>(5'000'000'000ULL - (INFINITE - 1))}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<DWORD> sleeps;
    int counts = 0;
    Hook<CreateWaitableTimerExW_import> timers(kernel32, "CreateWaitableTimerExW",
                                               [&](LPSECURITY_ATTRIBUTES security, LPCWSTR name, DWORD flags,
                                                   DWORD access) -> HANDLE {
                                                 if (c.timer_made) {
                                                   return CreateWaitableTimerExW_import::original(security, name, flags,
                                                                                                  access);
                                                 }
                                                 ::SetLastError(ERROR_INVALID_PARAMETER);
                                                 return nullptr;
                                               });
    Hook<SetWaitableTimer_import> sets(kernel32, "SetWaitableTimer",
                                       [&](HANDLE, const LARGE_INTEGER*, LONG, PTIMERAPCROUTINE, LPVOID, BOOL) -> BOOL {
                                         ::SetLastError(ERROR_ACCESS_DENIED);
                                         return FALSE;
                                       });
    Hook<Sleep_import> sleep(kernel32, "Sleep", [&](DWORD milliseconds) { sleeps.push_back(milliseconds); });
    Hook<QueryPerformanceCounter_import> counter(kernel32, "QueryPerformanceCounter", [&](LARGE_INTEGER* now) -> BOOL {
      now->QuadPart = counts++ == 0 ? 1000 : 1000 + c.counted;
      return TRUE;
    });
    ASSERT_HOOKED(timers);
    ASSERT_HOOKED(sets);
    ASSERT_HOOKED(sleep);
    ASSERT_HOOKED(counter);
    platform::sleep_for(c.seconds, c.nanoseconds);
    EXPECT_EQ(sleeps, c.expected_sleeps);
    EXPECT_EQ(counts, 2);
  }
}

// ---- child processes -----------------------------------------------------------------------------

const process::ChildCommand exit_seven{"C:\\windows\\system32\\cmd.exe", {"/c", "exit 7"}};

// What one CreateProcessW call was given.
struct Creation {
  LPCWSTR application;
  BOOL inherit;
  DWORD flags;
  LPCWSTR directory;
  const STARTUPINFOW* startup;

  // Started with a list of the only handles the child may inherit.
  bool listed() const {
    return (flags & EXTENDED_STARTUPINFO_PRESENT) && startup->cb == sizeof(STARTUPINFOEXW) &&
           reinterpret_cast<const STARTUPINFOEXW*>(startup)->lpAttributeList != nullptr;
  }
};

// Shows every CreateProcessW call to `see`, which gives the error to refuse it with (0: the call
// is made); the process it creates goes to `child`.
Hook<CreateProcessW_import> watch_creation(std::function<DWORD(const Creation&)> see, HANDLE* child = nullptr) {
  return Hook<CreateProcessW_import>(
      kernel32, "CreateProcessW",
      [see = std::move(see), child](LPCWSTR application, LPWSTR command_line, LPSECURITY_ATTRIBUTES process,
                                    LPSECURITY_ATTRIBUTES thread, BOOL inherit, DWORD creation, LPVOID environment,
                                    LPCWSTR directory, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION created) -> BOOL {
        if (const DWORD refusal = see(Creation{application, inherit, creation, directory, startup})) {
          ::SetLastError(refusal);
          return FALSE;
        }
        const BOOL done = CreateProcessW_import::original(application, command_line, process, thread, inherit,
                                                          creation, environment, directory, startup, created);
        if (child != nullptr) *child = created->hProcess;
        return done;
      });
}

// A standard handle that cannot be duplicated for the child fails the start before any child
// exists; missing standard handles are left out, and with none the child gets no handles.
TEST(ChildFault, TheChildGetsDuplicatesOfTheStandardHandlesThatExist) {
  const HANDLE error_stream = ::GetStdHandle(STD_ERROR_HANDLE);
  ASSERT_NE(error_stream, nullptr);
  ASSERT_NE(error_stream, INVALID_HANDLE_VALUE);
  struct Case {
    const char* name;
    HANDLE streams[3];  // input, output, error
    bool duplication_fails;
    std::string expected_outcome;
    int expected_duplications;
    int expected_starts;
    DWORD expected_flags;
    std::vector<bool> expected_given;  // input, output, error
    BOOL expected_inherit;
  };
  const Case cases[] = {
      {"duplication refused", {nullptr, INVALID_HANDLE_VALUE, error_stream}, true, os_detail(5, "PermissionDenied"), 1,
       0, 0, {}, FALSE},
      {"only standard error", {nullptr, INVALID_HANDLE_VALUE, error_stream}, false, "ok 7", 1, 1, STARTF_USESTDHANDLES,
       {false, false, true}, TRUE},
      {"no standard handles", {nullptr, INVALID_HANDLE_VALUE, nullptr}, false, "ok 7", 0, 1, 0, {false, false, false},
       FALSE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int duplications = 0;
    int starts = 0;
    DWORD flags = 0;
    std::vector<bool> given;
    BOOL inherits = FALSE;
    Hook<GetStdHandle_import> handles(kernel32, "GetStdHandle", [&](DWORD which) -> HANDLE {
      if (which == STD_INPUT_HANDLE) return c.streams[0];
      if (which == STD_OUTPUT_HANDLE) return c.streams[1];
      if (which == STD_ERROR_HANDLE) return c.streams[2];
      return GetStdHandle_import::original(which);
    });
    Hook<DuplicateHandle_import> duplicates(kernel32, "DuplicateHandle",
                                            [&](HANDLE from, HANDLE handle, HANDLE to, LPHANDLE copy, DWORD access,
                                                BOOL inherit, DWORD options) -> BOOL {
                                              ++duplications;
                                              if (c.duplication_fails) {
                                                ::SetLastError(ERROR_ACCESS_DENIED);
                                                return FALSE;
                                              }
                                              return DuplicateHandle_import::original(from, handle, to, copy, access,
                                                                                      inherit, options);
                                            });
    auto creates = watch_creation([&](const Creation& creation) -> DWORD {
      ++starts;
      const STARTUPINFOW& startup = *creation.startup;
      flags = startup.dwFlags;
      given = {startup.hStdInput != nullptr, startup.hStdOutput != nullptr, startup.hStdError != nullptr};
      inherits = creation.inherit;
      return 0;
    });
    ASSERT_HOOKED(handles);
    ASSERT_HOOKED(duplicates);
    ASSERT_HOOKED(creates);
    auto code = process::run_child(exit_seven);
    EXPECT_EQ(code ? "ok " + std::to_string(*code) : platform::error_detail(code.error()), c.expected_outcome);
    EXPECT_EQ(duplications, c.expected_duplications);
    EXPECT_EQ(starts, c.expected_starts);
    EXPECT_EQ(flags, c.expected_flags);
    EXPECT_EQ(given, c.expected_given);
    EXPECT_EQ(inherits, c.expected_inherit);
  }
}

// A system that refuses the list of the handles the child may inherit (Windows 7 could not list
// console handles) starts it without the list; any other refusal is the error. A child on its own
// (the Home window) inherits nothing, gets no standard handles, and starts in its program's folder.
TEST(ChildFault, TheHandlesAChildMayInheritAndWhereItStarts) {
  struct Case {
    process::ChildStart start;
    DWORD list_refusal;
    std::string expected_outcome;
    std::vector<std::wstring> expected_calls;  // inherit, start-up flags, list, current directory
  };
  const Case cases[] = {
      {process::ChildStart::WithSetupStreams, ERROR_INVALID_PARAMETER, "ok", {L"1 256 listed -", L"1 256 -"}},
      {process::ChildStart::WithSetupStreams, ERROR_ACCESS_DENIED, os_detail(5, "PermissionDenied"), {L"1 256 listed -"}},
      {process::ChildStart::OnItsOwn, 0, "ok", {L"0 0 C:\\windows\\system32"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.list_refusal);
    std::vector<std::wstring> calls;
    auto creates = watch_creation([&](const Creation& creation) -> DWORD {
      calls.push_back(std::to_wstring(creation.inherit) + L" " + std::to_wstring(creation.startup->dwFlags) +
                      (creation.listed() ? L" listed " : L" ") + (creation.directory ? creation.directory : L"-"));
      return creation.listed() ? c.list_refusal : 0;
    });
    ASSERT_HOOKED(creates);
    auto child = process::start_child(
        process::ChildCommand{.program = exit_seven.program, .arguments = exit_seven.arguments, .start = c.start});
    EXPECT_EQ(child ? "ok" : platform::error_detail(child.error()), c.expected_outcome);
    EXPECT_EQ(calls, c.expected_calls);
  }
}

// Without PATH (or with one that lost its folder) Windows PowerShell is found where the system
// keeps it. Every place is looked at with critical-error boxes ("No disk" for an empty removable
// drive on PATH) off for this thread; the child starts, and the thread goes on, without that.
TEST(ChildFault, TheInstallersPowerShellIsFoundBelowTheSystemFolderWithNoErrorBoxes) {
  const UINT mode_before = ::GetThreadErrorMode();
  std::vector<bool> quiet_lookups;
  std::vector<std::wstring> started;
  UINT mode_at_start = 0;
  Hook<GetEnvironmentVariableW_import> variables(
      kernel32, "GetEnvironmentVariableW", [&](LPCWSTR name, LPWSTR buffer, DWORD size) -> DWORD {
        if (std::wstring_view(name) != L"PATH") return GetEnvironmentVariableW_import::original(name, buffer, size);
        ::SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
      });
  Hook<GetFileAttributesW_import> lookups(kernel32, "GetFileAttributesW", [&](LPCWSTR name) {
    quiet_lookups.push_back((::GetThreadErrorMode() & SEM_FAILCRITICALERRORS) != 0);
    return GetFileAttributesW_import::original(name);
  });
  auto creates = watch_creation([&](const Creation& creation) -> DWORD {
    started.emplace_back(creation.application);
    mode_at_start = ::GetThreadErrorMode();
    return ERROR_ACCESS_DENIED;  // Wine's PowerShell is a stub: no need to run it
  });
  ASSERT_HOOKED(variables);
  ASSERT_HOOKED(lookups);
  ASSERT_HOOKED(creates);
  (void)process::run_child(process::installer_command("C:\\work\\install.ps1"));
  EXPECT_EQ(started, std::vector<std::wstring>{L"C:\\windows\\system32\\WindowsPowerShell\\v1.0\\powershell.exe"});
  EXPECT_EQ(quiet_lookups, std::vector<bool>(4, true));  // own folder, system, Windows, system's PowerShell
  EXPECT_EQ(mode_at_start, mode_before);
  EXPECT_EQ(::GetThreadErrorMode(), mode_before);
}

// Waiting for the child and reading its exit code: either failing is the error.
TEST(ChildFault, AFailedWaitOrExitCodeIsTheError) {
  for (const bool wait_fails : {true, false}) {
    SCOPED_TRACE(wait_fails ? "wait" : "exit code");
    HANDLE child = nullptr;
    auto creates = watch_creation([](const Creation&) -> DWORD { return 0; }, &child);
    Hook<WaitForSingleObject_import> waits(kernel32, "WaitForSingleObject", [&](HANDLE handle, DWORD timeout) -> DWORD {
      const DWORD waited = WaitForSingleObject_import::original(handle, timeout);
      if (handle != child || !wait_fails) return waited;
      ::SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    });
    Hook<GetExitCodeProcess_import> codes(kernel32, "GetExitCodeProcess", [&](HANDLE, LPDWORD) -> BOOL {
      ::SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    });
    ASSERT_HOOKED(creates);
    ASSERT_HOOKED(waits);
    ASSERT_HOOKED(codes);
    auto code = process::run_child(exit_seven);
    EXPECT_EQ(code ? "ok " + std::to_string(*code) : platform::error_detail(code.error()),
              wait_fails ? os_detail(ERROR_INVALID_HANDLE, "Uncategorized") : os_detail(5, "PermissionDenied"));
  }
}

}  // namespace
