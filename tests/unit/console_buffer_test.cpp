// The standard-output line buffer and the raw write-all, over a scripted raw writer.
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "platform/console/std_handle.hpp"
#include "platform/console/line_buffer.hpp"

namespace platform {
namespace {

// Records every raw write. Each call takes its answer from the script (accept at most N bytes,
// or fail); with the script empty it accepts everything.
class ScriptedWriter final : public RawWriter {
 public:
  struct Answer {
    std::size_t accept = SIZE_MAX;
    std::optional<PlatformError> error;
  };
  std::deque<Answer> script;
  std::vector<std::string> calls;
  std::string reached;  // every byte accepted, in order

  Result<std::size_t> write(std::string_view bytes) override {
    calls.emplace_back(bytes);
    Answer answer;
    if (!script.empty()) {
      answer = script.front();
      script.pop_front();
    }
    if (answer.error) return std::unexpected(*answer.error);
    const std::size_t n = std::min(answer.accept, bytes.size());
    reached.append(bytes.substr(0, n));
    return n;
  }
};

ScriptedWriter::Answer accept(std::size_t n) { return {n, std::nullopt}; }
ScriptedWriter::Answer fail(std::uint32_t code) { return {0, PlatformError::os(code)}; }

using Calls = std::vector<std::string>;

TEST(LineBuffer, PromptShowsItsLineEndAtOnceAndItsWordsOnlyAtTheFlush) {
  LineBuffer buffer;
  ScriptedWriter raw;
  ASSERT_TRUE(buffer.write("\nPress Enter to close.", raw));
  EXPECT_EQ(raw.calls, Calls{"\n"});
  EXPECT_EQ(buffer.held(), "Press Enter to close.");

  ASSERT_TRUE(buffer.write_out(raw));
  EXPECT_EQ(raw.calls, (Calls{"\n", "Press Enter to close."}));
  EXPECT_EQ(buffer.held(), "");
}

TEST(LineBuffer, PiecesOfOneLineLeaveInOneWriteWhenTheLineEnds) {
  LineBuffer buffer;
  ScriptedWriter raw;
  for (std::string_view piece : {"Payload: ", "1234", " bytes \xE2\x80\x94 ok\nnext"}) {
    SCOPED_TRACE(::testing::PrintToString(piece));
    ASSERT_TRUE(buffer.write(piece, raw));
  }
  EXPECT_EQ(raw.calls, Calls{"Payload: 1234 bytes \xE2\x80\x94 ok\n"});
  EXPECT_EQ(buffer.held(), "next");
}

TEST(LineBuffer, LongLinesReachTheHandleBeforeThePrintReturns) {
  const std::string long_line = std::string(3000, 'x') + "\n";
  {
    LineBuffer buffer;  // nothing held: the lines go straight to the handle
    ScriptedWriter raw;
    ASSERT_TRUE(buffer.write(long_line, raw));
    EXPECT_EQ(raw.calls, Calls{long_line});
    EXPECT_EQ(buffer.held(), "");
  }
  {
    LineBuffer buffer;  // something held: it leaves first, then the line
    ScriptedWriter raw;
    ASSERT_TRUE(buffer.write("held ", raw));
    ASSERT_TRUE(buffer.write(long_line + "tail", raw));
    EXPECT_EQ(raw.calls, (Calls{"held ", long_line}));
    EXPECT_EQ(buffer.held(), "tail");
  }
  {
    LineBuffer buffer;  // a handle taking 700 bytes at a time still gets all of it
    ScriptedWriter raw;
    raw.script = {accept(700), accept(700), accept(700), accept(700), accept(700)};
    ASSERT_TRUE(buffer.write(long_line, raw));
    EXPECT_EQ(raw.reached, long_line);
    EXPECT_EQ(raw.calls.size(), 5u);
  }
}

TEST(LineBuffer, PiecesWithoutLineEndAreHeldUntilTheyNoLongerFit) {
  LineBuffer buffer;
  ScriptedWriter raw;
  const std::string first(1000, 'a');
  ASSERT_TRUE(buffer.write(first, raw));
  ASSERT_TRUE(buffer.write(std::string(24, 'b'), raw));  // exactly the free space: still held
  EXPECT_TRUE(raw.calls.empty());
  EXPECT_EQ(buffer.held(), first + std::string(24, 'b'));

  ASSERT_TRUE(buffer.write("c", raw));  // longer than the free space: the buffer leaves first
  EXPECT_EQ(raw.calls, Calls{first + std::string(24, 'b')});
  EXPECT_EQ(buffer.held(), "c");

  ASSERT_TRUE(buffer.write(std::string(1500, 'd'), raw));  // larger than the buffer: straight out
  EXPECT_EQ(raw.calls, (Calls{first + std::string(24, 'b'), "c", std::string(1500, 'd')}));
  EXPECT_EQ(buffer.held(), "");

  ASSERT_TRUE(buffer.write(std::string(1024, 'e'), raw));  // as large as the buffer: straight out
  EXPECT_EQ(raw.calls.back(), std::string(1024, 'e'));
  EXPECT_EQ(buffer.held(), "");
}

TEST(LineBuffer, FailedWriteOutKeepsTheUnwrittenBytesForTheNextAttempt) {
  LineBuffer buffer;
  ScriptedWriter raw;
  ASSERT_TRUE(buffer.write("abc", raw));
  raw.script = {accept(2), fail(5)};
  const auto failed = buffer.write("def\n", raw);
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error(), PlatformError::os(5));
  EXPECT_EQ(buffer.held(), "cdef\n");

  // The completed line goes out before text of the next line is added.
  ASSERT_TRUE(buffer.write("x", raw));
  EXPECT_EQ(raw.calls, (Calls{"abcdef\n", "cdef\n", "cdef\n"}));
  EXPECT_EQ(raw.reached, "abcdef\n");
  EXPECT_EQ(buffer.held(), "x");
}

TEST(LineBuffer, WriteOutThatMovesNothingFailsWithWriteZero) {
  LineBuffer buffer;
  ScriptedWriter raw;
  ASSERT_TRUE(buffer.write("pending", raw));
  raw.script = {accept(3), accept(0)};
  const auto failed = buffer.write_out(raw);
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error(), PlatformError::message(ErrorKind::WriteZero, "failed to write the buffered data"));
  EXPECT_EQ(error_text(failed.error()), "failed to write the buffered data");
  EXPECT_EQ(buffer.held(), "ding");
}

TEST(LineBuffer, LinesOfAPieceFailWithWriteAllsTextWhenNothingMoves) {
  LineBuffer buffer;
  ScriptedWriter raw;
  raw.script = {accept(4), accept(0)};
  const auto failed = buffer.write("line one\nrest", raw);
  ASSERT_FALSE(failed);
  EXPECT_EQ(error_text(failed.error()), "failed to write whole buffer");
  EXPECT_EQ(failed.error().kind(), ErrorKind::WriteZero);
  EXPECT_EQ(raw.reached, "line");
  EXPECT_EQ(buffer.held(), "");  // the tail is not added after a failure
}

TEST(LineBuffer, UnbufferedHoldsNothing) {
  LineBuffer buffer;
  ScriptedWriter raw;
  ASSERT_TRUE(buffer.write("held", raw));
  buffer.make_unbuffered();
  EXPECT_EQ(buffer.held(), "");
  ASSERT_TRUE(buffer.write("a", raw));
  ASSERT_TRUE(buffer.write("", raw));
  ASSERT_TRUE(buffer.write("b\nc", raw));
  EXPECT_EQ(raw.calls, (Calls{"a", "b\n", "c"}));
  EXPECT_EQ(buffer.held(), "");
}

TEST(WriteAll, RepeatsUntilEverythingIsTaken) {
  ScriptedWriter raw;
  raw.script = {accept(1), accept(2), accept(100)};
  ASSERT_TRUE(write_all(raw, "abcdef"));
  EXPECT_EQ(raw.calls, (Calls{"abcdef", "bcdef", "def"}));
  EXPECT_TRUE(write_all(raw, ""));
  EXPECT_EQ(raw.calls.size(), 3u);
}

TEST(WriteAll, ErrorsEndIt) {
  ScriptedWriter raw;
  raw.script = {accept(2), fail(232)};
  const auto failed = write_all(raw, "abcdef");
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error(), PlatformError::os(232));
  EXPECT_EQ(raw.reached, "ab");
}

TEST(MissingHandle, OutputToItCountsAsWrittenAndInputFromItIsTheEnd) {
  const auto missing = PlatformError::os(missing_handle_code);
  EXPECT_EQ(count_missing_as_written(std::unexpected(missing), 17), Result<std::size_t>(17));
  EXPECT_EQ(count_missing_as_end(std::unexpected(missing)), Result<std::size_t>(0));

  const auto other = PlatformError::os(missing_handle_code + 1);
  EXPECT_EQ(count_missing_as_written(std::unexpected(other), 17), Result<std::size_t>(std::unexpected(other)));
  EXPECT_EQ(count_missing_as_end(std::unexpected(other)), Result<std::size_t>(std::unexpected(other)));
  EXPECT_EQ(count_missing_as_written(5, 17), Result<std::size_t>(5));
}

}  // namespace
}  // namespace platform
