// Start-up, exits and fatal stops, seen from outside: this program runs itself again with a
// scenario, which the child plays before main, and the parent checks both streams and the end.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <string>

#include "platform/console/console.hpp"
#include "platform/error.hpp"
#include "platform/fatal.hpp"
#include "system/process_harness.hpp"
#include "platform/runtime.hpp"

#ifdef _WIN32
#include <windows.h>
#endif

#ifndef ZARVO_GLOBAL_NEW_REPLACED
#error "the build says whether it replaces the global operator new (ZARVO_GLOBAL_NEW_REPLACED)"
#endif

namespace {

constexpr std::string_view hint = "note: run with `ZARVO_BACKTRACE=1` environment variable to display a backtrace\n";

// The location the stopping scenarios hand to the stop, known to the parent as well.
constexpr std::source_location stop_site = std::source_location::current();

std::string stop_site_text() {
  return "tests/system/fatal_stop_test.cpp:" + std::to_string(stop_site.line()) + ":" +
         std::to_string(stop_site.column());
}

void print_thread_id() {
  platform::print_stdout({"thread ", std::to_string(platform::detail::current_thread_id()), "\n"});
}

// Runs off any stack: each frame hands its address on, so no call can become a jump.
[[gnu::noinline]] std::uint32_t recurse(volatile char* previous) {
  volatile char frame[1024];
  frame[0] = static_cast<char>(previous[0] + 1);
  frame[1] = 0;
  if (frame[1] == 42) return 0;  // never: keeps the recursion from looking endless
  return recurse(frame) + frame[1023];
}

std::string current_scenario() { return platform::environment_variable("ZARVO_PLATFORM_FIXTURE").value_or(""); }

std::uint32_t scenario_body() {
  const std::string scenario = current_scenario();
  if (scenario == "exit") {
    platform::print_stdout("partial line");
    return 7;
  }
  if (scenario == "stop") {
    print_thread_id();
    platform::print_stdout("pending");
    platform::fatal_stop("the check failed", stop_site);
  }
  if (scenario == "unwrap") {
    platform::fatal_unwrap(platform::PlatformError::os(2), stop_site);
  }
  if (scenario == "allocation") {
    void* memory = ::operator new(std::size_t{1} << 62);
    ::operator delete(memory);
    return 0;
  }
#ifdef _WIN32
  if (scenario == "prepared") {
    using GetDescription = HRESULT(WINAPI*)(HANDLE, PWSTR*);
    const auto get_description = reinterpret_cast<GetDescription>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("kernel32"), "GetThreadDescription")));
    std::string described = "(no GetThreadDescription)";
    PWSTR description = nullptr;
    if (get_description != nullptr && SUCCEEDED(get_description(::GetCurrentThread(), &description))) {
      described.assign(description, description + ::wcslen(description));  // ASCII expected
      ::LocalFree(description);
    }
    ULONG guarantee = 0;
    ::SetThreadStackGuarantee(&guarantee);
    const HMODULE beside = ::LoadLibraryW(L"zarvo-beside.dll");
    const std::string loaded = beside != nullptr ? "loaded" : "not found, error " + std::to_string(::GetLastError());
    platform::print_stdout({"description ", described, "\nDLL beside the program: ", loaded, "\nguarantee ",
                            std::to_string(guarantee), "\n"});
    return 0;
  }
#endif
  if (scenario == "fault") {
#ifdef _WIN32
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
#endif
    print_thread_id();
    *reinterpret_cast<volatile int*>(std::uintptr_t{16}) = 1;  // far from any stack
    return 0;
  }
  if (scenario == "overflow") {
#ifdef _WIN32
    // No crash dialog or debugger: the process is to end with the overflow status.
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
#endif
    print_thread_id();
    volatile char start[1] = {0};
    return recurse(start);
  }
  return 99;
}

// Runs before main (and before googletest prints anything) in a child started by run_fixture.
[[maybe_unused]] const bool fixture_played = [] {
  if (!current_scenario().empty()) platform::start(scenario_body);
  return false;
}();

#ifdef _WIN32
bool running_under_wine() {
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}
#endif

// The thread id the child printed on its first line, and the rest of its output.
std::pair<std::string, std::string> split_thread_line(const std::string& out) {
  const std::string prefix = "thread ";
  const std::size_t end = out.find('\n');
  if (!out.starts_with(prefix) || end == std::string::npos) return {"", out};
  return {out.substr(prefix.size(), end - prefix.size()), out.substr(end + 1)};
}

TEST(Start, RunsTheBodyAndExitsWithItsCodeAfterWritingOutPendingOutput) {
  const auto child = platform_test::run_fixture("exit");
  EXPECT_TRUE(child.exited);
  EXPECT_EQ(child.status, 7u);
  EXPECT_EQ(child.out, "partial line");
  EXPECT_EQ(child.err, "");
}

#ifdef _WIN32
// Start-up also keeps DLLs from being looked for beside the program (in Downloads, say): a DLL
// there that this test program, not started that way, finds by its name alone is not found.
TEST(Start, NamesTheMainThreadReservesStackForTheOverflowReportAndLoadsNoDllFromBesideTheProgram) {
  const HMODULE beside = ::LoadLibraryW(L"zarvo-beside.dll");
  ASSERT_NE(beside, nullptr) << "zarvo-beside.dll is not beside the test program: error " << ::GetLastError();
  ::FreeLibrary(beside);
  const auto child = platform_test::run_fixture("prepared");
  EXPECT_EQ(child.status, 0u);
  const std::string described = "description main\nDLL beside the program: not found, error 126\nguarantee ";
  ASSERT_TRUE(child.out.starts_with(described)) << child.out;
  EXPECT_GE(std::stoul(child.out.substr(described.size())), 0x5000u) << child.out;
}
#endif

TEST(FatalStop, ReportsOnStandardErrorWithTheHintFlushesStandardOutputAndExitsWith101) {
  const auto child = platform_test::run_fixture("stop");
  const auto [thread, rest] = split_thread_line(child.out);
  ASSERT_FALSE(thread.empty()) << child.out;
  EXPECT_EQ(rest, "pending");
  EXPECT_EQ(child.err,
            "\nthread 'main' (" + thread + ") panicked at " + stop_site_text() + ":\nthe check failed\n" +
                std::string(hint));
  EXPECT_TRUE(child.exited);
  EXPECT_EQ(child.status, 101u);
}

TEST(FatalStop, AFailedUnwrapShowsTheErrorsDetailForm) {
  const auto child = platform_test::run_fixture("unwrap");
  const std::string report_start = "\nthread 'main' (";
  ASSERT_TRUE(child.err.starts_with(report_start)) << child.err;
  const std::size_t id_end = child.err.find(')');
  const std::string thread = child.err.substr(report_start.size(), id_end - report_start.size());
  EXPECT_EQ(child.err, report_start + thread + ") panicked at " + stop_site_text() +
                           ":\ncalled `Result::unwrap()` on an `Err` value: Os { code: 2, kind: NotFound, message: \"" +
                           platform::os_error_message(2) + "\" }\n" + std::string(hint));
  EXPECT_EQ(child.status, 101u);
}

TEST(FatalStop, ABacktraceReplacesTheHintWhenAskedFor) {
  const auto child = platform_test::run_fixture("stop", {{"ZARVO_BACKTRACE", "1"}});
  const auto [thread, rest] = split_thread_line(child.out);
  const std::string report =
      "\nthread 'main' (" + thread + ") panicked at " + stop_site_text() + ":\nthe check failed\nstack backtrace:\n";
  ASSERT_TRUE(child.err.starts_with(report)) << child.err;
  // One "  N: 0x<16 hex digits>" line per frame, numbered from 0.
  std::string frames = child.err.substr(report.size());
  ASSERT_FALSE(frames.empty());
  for (int number = 0; !frames.empty(); ++number) {
    SCOPED_TRACE("frame " + std::to_string(number));
    const std::string start = "  " + std::to_string(number) + ": 0x";
    ASSERT_TRUE(frames.starts_with(start)) << frames;
    const std::size_t end = frames.find('\n');
    ASSERT_EQ(end, start.size() + 16) << frames;
    EXPECT_EQ(frames.substr(start.size(), 16).find_first_not_of("0123456789abcdef"), std::string::npos);
    frames.erase(0, end + 1);
  }
  EXPECT_EQ(child.status, 101u);
}

// ZARVO_BACKTRACE asks for a backtrace unless it is empty or exactly "0"; the Windows backend reads
// it into a small buffer without allocating, so a long or non-ASCII value must still count.
TEST(FatalStop, EveryBacktraceValueButEmptyAndZeroAsksForTheBacktrace) {
  const auto report = [](const std::string& out) {
    const auto [thread, rest] = split_thread_line(out);
    return "\nthread 'main' (" + thread + ") panicked at " + stop_site_text() + ":\nthe check failed\n";
  };
  for (const char* value : {"", "0"}) {
    SCOPED_TRACE(std::string("ZARVO_BACKTRACE=") + value);
    const auto child = platform_test::run_fixture("stop", {{"ZARVO_BACKTRACE", value}});
    EXPECT_EQ(child.err, report(child.out) + std::string(hint));
    EXPECT_EQ(child.status, 101u);
  }
  for (const std::string& value : {std::string("full"), std::string("\xC3\xA9"), std::string(40, '0')}) {
    SCOPED_TRACE("ZARVO_BACKTRACE=" + value);
    const auto child = platform_test::run_fixture("stop", {{"ZARVO_BACKTRACE", value}});
    EXPECT_TRUE(child.err.starts_with(report(child.out) + "stack backtrace:\n  0: 0x")) << child.err;
    EXPECT_EQ(child.status, 101u);
  }
}

TEST(FatalStop, RunningOutOfMemoryReportsTheSizeAndAborts) {
#if !ZARVO_GLOBAL_NEW_REPLACED
  GTEST_SKIP() << "this build keeps the C++ runtime's operator new (ZARVO_REPLACE_GLOBAL_NEW=OFF), "
                  "so there is no out-of-memory report of the setup's own to check";
#elif defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer refuses the oversized request itself";
#endif
  const auto child = platform_test::run_fixture("allocation");
  EXPECT_EQ(child.err, "memory allocation of 4611686018427387904 bytes failed\n" + std::string(hint));
  EXPECT_EQ(child.out, "");
#ifdef _WIN32
  EXPECT_EQ(child.status, 0xC0000409u);  // the fail-fast status
#else
  EXPECT_FALSE(child.exited);
  EXPECT_EQ(child.status, static_cast<std::uint32_t>(SIGABRT));
#endif
}

// The stack-overflow watch sees every fault; one elsewhere gets no report and ends the process as
// the system ends it.
TEST(FatalStop, AFaultThatIsNoStackOverflowIsNotReportedAsOne) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer reports faults itself";
#endif
  const auto child = platform_test::run_fixture("fault");
  const auto [thread, rest] = split_thread_line(child.out);
  ASSERT_FALSE(thread.empty()) << child.out;
  EXPECT_EQ(child.err, "");
#ifdef _WIN32
  EXPECT_EQ(child.status, 0xC0000005u);  // STATUS_ACCESS_VIOLATION
#else
  EXPECT_FALSE(child.exited);
  EXPECT_EQ(child.status, static_cast<std::uint32_t>(SIGSEGV));
#endif
}

TEST(FatalStop, AStackOverflowIsReportedAndEndsTheProcessWithTheOverflow) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer reports stack overflows itself";
#endif
  const auto child = platform_test::run_fixture("overflow");
  const auto [thread, rest] = split_thread_line(child.out);
  ASSERT_FALSE(thread.empty()) << child.out;
  EXPECT_EQ(child.err, "\nthread 'main' (" + thread + ") has overflowed its stack\n");
#ifdef _WIN32
  if (running_under_wine() && child.status != 0xC00000FDu) {
    GTEST_SKIP() << "the report is right, but Wine ends a process whose stack overflowed with status "
                 << child.status << ", not STATUS_STACK_OVERFLOW";
  }
  EXPECT_EQ(child.status, 0xC00000FDu);
#else
  EXPECT_FALSE(child.exited);
  EXPECT_EQ(child.status, static_cast<std::uint32_t>(SIGSEGV));
#endif
}

}  // namespace
