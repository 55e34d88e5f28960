// The standard streams for real: the fixture program runs with its streams redirected to files,
// closed, or on pipes whose other end has gone, and its bytes and exit code are checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <regex>
#include <string>
#include <vector>

#include "system/console_fixture_runner.hpp"
#include "platform/error.hpp"
#include "platform/fatal.hpp"

namespace console_test {
namespace {

constexpr std::string_view failed_run_output =
    "Setup \xE2\x80\x94 payload of 1234 bytes\n"
    "\n"
    "Press Enter to close.";
constexpr std::string_view failed_run_error = "Setup failed \xE2\x80\x94 see above\n";

TEST(ConsoleStreams, RedirectedOutputHoldsTheExactUtf8BytesWithBareLineFeeds) {
  const FixtureRun run = run_fixture("messages", Output::captured);
  EXPECT_EQ(run.out, failed_run_output);
  EXPECT_EQ(run.err, failed_run_error);
  EXPECT_EQ(run.exit_code, 1u);
}

TEST(ConsoleStreams, ClosedStandardOutputIsSilentAndLeavesTheExitCodeAlone) {
  const FixtureRun run = run_fixture("messages", Output::closed);
  EXPECT_EQ(run.err, failed_run_error);
  EXPECT_EQ(run.exit_code, 1u);
}

TEST(ConsoleStreams, TextAfterTheLastLineEndLeavesAtTheExit) {
  const FixtureRun run = run_fixture("unflushed", Output::captured);
  EXPECT_EQ(run.out, "line\ntail without line end");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exit_code, 7u);
}

TEST(ConsoleStreams, LinesReachTheHandleBeforeThePrintReturns) {
  // The fixture ends without the exit's flush: only what each print wrote at once is there,
  // the long line whole and the prompt's line end without its words.
  const FixtureRun run = run_fixture("abandon", Output::captured);
  EXPECT_EQ(run.out, "first line\n" + std::string(3000, 'x') + "\n\n");
  EXPECT_EQ(run.exit_code, 3u);
}

TEST(ConsoleStreams, PipeWhoseReaderHasGoneIsAFatalStop) {
  const FixtureRun run = run_fixture("messages", Output::pipe_reader_gone);
  EXPECT_EQ(run.exit_code, 101u);

  const std::regex heading("^\nthread 'main' \\([0-9]+\\) panicked at src/platform/console/console\\.cpp:[0-9]+:[0-9]+:\n");
  std::smatch found;
  ASSERT_TRUE(std::regex_search(run.err, found, heading)) << run.err;
  const std::string rest = run.err.substr(found.length());
#if defined(_WIN32)
  const std::vector<std::uint32_t> broken_pipe_codes{232, 109};
#else
  const std::vector<std::uint32_t> broken_pipe_codes{EPIPE};
#endif
  std::vector<std::string> expected;
  for (const auto code : broken_pipe_codes) {
    expected.push_back("failed printing to stdout: " + platform::error_text(platform::PlatformError::os(code)) +
                       "\n" + std::string(platform::backtrace_hint));
  }
  EXPECT_NE(std::find(expected.begin(), expected.end(), rest), expected.end()) << rest;
}

std::string read_result(int bytes, std::string_view line) {
  return "read " + std::to_string(bytes) + " bytes, line \"pre:" + std::string(line) + "\"\n";
}

TEST(ConsoleStreams, ReadsOneLineAtATimeFromRedirectedInput) {
  const FixtureRun run = run_fixture("read", Output::captured, Input::bytes, "abc\r\nsecond\nthird");
  EXPECT_EQ(run.out, read_result(5, "abc\\x0d\\x0a") + read_result(7, "second\\x0a"));
  EXPECT_EQ(run.exit_code, 0u);
}

TEST(ConsoleStreams, InputAtItsEndClosedOrFromAGoneWriterGivesNothing) {
  for (const Input input : {Input::bytes, Input::closed, Input::pipe_writer_gone}) {
    SCOPED_TRACE(static_cast<int>(input));
    const FixtureRun run = run_fixture("read", Output::captured, input);
    EXPECT_EQ(run.out, read_result(0, "") + read_result(0, ""));
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exit_code, 0u);
  }
}

TEST(ConsoleStreams, NonUtf8InputFailsTheReadAndLeavesTheLineUnchanged) {
  const FixtureRun run = run_fixture("read", Output::captured, Input::bytes, "caf\xE9\nnext\n");
  EXPECT_EQ(run.out, "read failed: stream did not contain valid UTF-8, line \"pre:\"\n" + read_result(5, "next\\x0a"));
  EXPECT_EQ(run.exit_code, 0u);
}

TEST(ConsoleStreams, CharacterOutsideTheBasicPlaneIsReadWhole) {
  const FixtureRun run = run_fixture("read", Output::captured, Input::bytes, "\xF0\x9F\x98\x80!");
  EXPECT_EQ(run.out, read_result(5, "\\xf0\\x9f\\x98\\x80!") + read_result(0, ""));
}

}  // namespace
}  // namespace console_test
