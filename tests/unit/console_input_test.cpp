// Console input from UTF-16 units to UTF-8, and reading a line through the read buffer, over
// scripted readers.
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "platform/console/utf16_reader.hpp"
#include "platform/console/std_handle.hpp"
#include "platform/console/line_reader.hpp"

namespace platform {
namespace {

// Each ReadConsoleW call hands out the next scripted chunk (at most the space it is given).
class ScriptedConsoleInput final : public WideConsoleInput {
 public:
  std::deque<Result<std::u16string>> script;
  std::vector<std::size_t> spaces;  // the space offered by each call

  Result<std::size_t> read_units(std::span<char16_t> units) override {
    spaces.push_back(units.size());
    if (script.empty()) return 0;
    auto chunk = script.front();
    script.pop_front();
    if (!chunk) return std::unexpected(chunk.error());
    EXPECT_LE(chunk->size(), units.size()) << "the test script does not fit the read";
    std::copy(chunk->begin(), chunk->end(), units.begin());
    return chunk->size();
  }
};

std::string read_some(ConsoleUtf16Reader& reader, ScriptedConsoleInput& console, std::size_t space) {
  std::string out(space, '\0');
  auto read = reader.read(out, console);
  EXPECT_TRUE(read) << error_text(read.error());
  out.resize(read.value_or(0));
  return out;
}

const PlatformError unpaired =
    PlatformError::message(ErrorKind::InvalidData, console_unpaired_surrogate_message);

TEST(ConsoleUtf16Reader, TypedLineArrivesAsUtf8WithItsCarriageReturn) {
  ConsoleUtf16Reader reader;
  ScriptedConsoleInput console;
  console.script = {u"abc \u2014\r\n"};
  EXPECT_EQ(read_some(reader, console, 8192), "abc \xE2\x80\x94\r\n");
  EXPECT_EQ(console.spaces, std::vector<std::size_t>{8192 / 3});
}

TEST(ConsoleUtf16Reader, ReadThatEndsInAHighSurrogateWaitsForItsLowHalf) {
  ConsoleUtf16Reader reader;
  ScriptedConsoleInput console;
  console.script = {u"ab\xD83D", u"\xDE00\r\n"};
  EXPECT_EQ(read_some(reader, console, 90), "ab");
  EXPECT_EQ(read_some(reader, console, 90), "\xF0\x9F\x98\x80\r\n");

  // A read that brings only the high half does not look like the end of the input.
  console.script = {u"\xD83D", u"\xDE00"};
  EXPECT_EQ(read_some(reader, console, 90), "\xF0\x9F\x98\x80");
}

TEST(ConsoleUtf16Reader, CtrlZEndsTheInputAndIsDropped) {
  ConsoleUtf16Reader reader;
  ScriptedConsoleInput console;
  console.script = {u"\x1A", u"abc\x1A"};
  EXPECT_EQ(read_some(reader, console, 90), "");
  EXPECT_EQ(read_some(reader, console, 90), "abc");
}

TEST(ConsoleUtf16Reader, ReadBrokenOffByCtrlCIsRepeated) {
  ConsoleUtf16Reader reader;
  ScriptedConsoleInput console;
  console.script = {std::unexpected(PlatformError::os(console_read_aborted_code)), u"x\r\n"};
  EXPECT_EQ(read_some(reader, console, 90), "x\r\n");
  EXPECT_EQ(console.spaces.size(), 2u);

  console.script = {std::unexpected(PlatformError::os(5))};
  std::string out(90, '\0');
  EXPECT_EQ(reader.read(out, console), Result<std::size_t>(std::unexpected(PlatformError::os(5))));

  // A console that keeps breaking reads off is given up on: the read fails with that error.
  const auto aborted = std::unexpected(PlatformError::os(console_read_aborted_code));
  console.spaces.clear();
  console.script.assign(platform::console_read_aborted_retries + 2, aborted);
  EXPECT_EQ(reader.read(out, console), Result<std::size_t>(aborted));
  EXPECT_EQ(console.spaces.size(), static_cast<std::size_t>(platform::console_read_aborted_retries) + 1);
}

TEST(ConsoleUtf16Reader, UnpairedSurrogatesFailTheRead) {
  ConsoleUtf16Reader reader;
  ScriptedConsoleInput console;
  std::string out(90, '\0');
  for (std::u16string units : {u"a\xDC00" u"b", u"\xD83D" u"b"}) {
    SCOPED_TRACE(::testing::PrintToString(units));
    console.script = {units};
    EXPECT_EQ(reader.read(out, console), Result<std::size_t>(std::unexpected(unpaired)));
  }
  // A high half carried to the end of the input stays unpaired.
  console.script = {u"\xD83D", u""};
  EXPECT_EQ(reader.read(out, console), Result<std::size_t>(std::unexpected(unpaired)));
  EXPECT_EQ(error_text(unpaired),
            "Windows stdin in console mode does not support non-UTF-16 input; encountered unpaired surrogate");
}

TEST(ConsoleUtf16Reader, CharacterThatDoesNotFitIsHandedOutByTheNextReads) {
  ConsoleUtf16Reader reader;
  ScriptedConsoleInput console;
  console.script = {u"\u2014", u"\xD83D", u"\xDE00"};
  EXPECT_EQ(read_some(reader, console, 2), "\xE2\x80");
  EXPECT_EQ(read_some(reader, console, 2), "\x94");  // from the carry, without a console read
  EXPECT_EQ(console.spaces.size(), 1u);
  EXPECT_EQ(read_some(reader, console, 3), "\xF0\x9F\x98");
  EXPECT_EQ(read_some(reader, console, 3), "\x80");
  // Reads are sized to the space: a third of it in units, at least one.
  EXPECT_EQ(console.spaces, (std::vector<std::size_t>{1, 1, 1}));
}

// Standard input as the line reader sees it: scripted raw reads.
class ScriptedReader final : public RawReader {
 public:
  std::deque<Result<std::string>> script;
  Result<std::size_t> read(std::span<char> out) override {
    if (script.empty()) return 0;
    auto chunk = script.front();
    script.pop_front();
    if (!chunk) return std::unexpected(chunk.error());
    std::copy(chunk->begin(), chunk->end(), out.begin());
    return chunk->size();
  }
};

TEST(LineReader, ReadsUpToTheFirstLineEndAndKeepsTheRestBuffered) {
  LineReader reader;
  ScriptedReader raw;
  raw.script = {"one\r\ntwo\nthr", "ee"};
  std::string line = "pre:";
  EXPECT_EQ(reader.read_line(line, raw), Result<std::size_t>(5));
  EXPECT_EQ(line, "pre:one\r\n");
  line.clear();
  EXPECT_EQ(reader.read_line(line, raw), Result<std::size_t>(4));
  EXPECT_EQ(line, "two\n");
  line.clear();
  EXPECT_EQ(reader.read_line(line, raw), Result<std::size_t>(5));  // the end of input ends it too
  EXPECT_EQ(line, "three");
  EXPECT_EQ(reader.read_line(line, raw), Result<std::size_t>(0));
  EXPECT_EQ(line, "three");
}

TEST(LineReader, FourByteCharacterSplitAcrossTwoReadsIsKept) {
  LineReader reader;
  ScriptedReader raw;
  raw.script = {"\xF0\x9F", "\x98\x80\n"};
  std::string line;
  EXPECT_EQ(reader.read_line(line, raw), Result<std::size_t>(5));
  EXPECT_EQ(line, "\xF0\x9F\x98\x80\n");
}

TEST(LineReader, InvalidUtf8IsRemovedAgain) {
  LineReader reader;
  ScriptedReader raw;
  raw.script = {"ab\xFF" "c\n", "next\n"};
  std::string line = "kept";
  const auto failed = reader.read_line(line, raw);
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error(), PlatformError::message(ErrorKind::InvalidData, "stream did not contain valid UTF-8"));
  EXPECT_EQ(line, "kept");
  EXPECT_EQ(reader.read_line(line, raw), Result<std::size_t>(5));  // the bad line is gone
  EXPECT_EQ(line, "keptnext\n");
}

TEST(LineReader, ReadErrorKeepsValidBytesAndIsReturned) {
  const auto denied = PlatformError::os(5);
  {
    LineReader reader;
    ScriptedReader raw;
    raw.script = {"ab", std::unexpected(denied)};
    std::string line;
    EXPECT_EQ(reader.read_line(line, raw), Result<std::size_t>(std::unexpected(denied)));
    EXPECT_EQ(line, "ab");
  }
  {
    LineReader reader;  // invalid bytes before the error: removed, and the error is the read's
    ScriptedReader raw;
    raw.script = {"a\xC3", std::unexpected(denied)};
    std::string line;
    EXPECT_EQ(reader.read_line(line, raw), Result<std::size_t>(std::unexpected(denied)));
    EXPECT_EQ(line, "");
  }
}

TEST(LineReader, MissingInputIsTheEndOfInput) {
  class MissingStdin final : public RawReader {
   public:
    Result<std::size_t> read(std::span<char>) override {
      return count_missing_as_end(std::unexpected(PlatformError::os(missing_handle_code)));
    }
  } raw;
  LineReader reader;
  std::string line = "x";
  EXPECT_EQ(reader.read_line(line, raw), Result<std::size_t>(0));
  EXPECT_EQ(line, "x");
}

TEST(LineReader, ConsoleLineWhoseSurrogatePairIsSplitAcrossReads) {
  class ConsoleStdin final : public RawReader {
   public:
    ScriptedConsoleInput console;
    ConsoleUtf16Reader converter;
    Result<std::size_t> read(std::span<char> out) override { return converter.read(out, console); }
  } raw;
  raw.console.script = {u"a\xD83D", u"\xDE00\r\n"};
  LineReader reader;
  std::string line;
  EXPECT_EQ(reader.read_line(line, raw), Result<std::size_t>(7));
  EXPECT_EQ(line, "a\xF0\x9F\x98\x80\r\n");
}

}  // namespace
}  // namespace platform
