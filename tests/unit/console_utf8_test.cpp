// UTF-8 text written to a UTF-16 console, over a scripted console.
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "platform/console/utf8_writer.hpp"

namespace platform {
namespace {

// Records every WriteConsoleW call; each takes at most the scripted number of units.
class ScriptedConsole final : public WideConsoleOutput {
 public:
  std::deque<Result<std::size_t>> script;
  std::vector<std::u16string> calls;
  std::u16string shown;

  Result<std::size_t> write_units(std::u16string_view units) override {
    calls.emplace_back(units);
    std::size_t n = units.size();
    if (!script.empty()) {
      auto answer = script.front();
      script.pop_front();
      if (!answer) return answer;
      n = std::min(n, *answer);
    }
    shown.append(units.substr(0, n));
    return n;
  }
};

using Calls = std::vector<std::u16string>;
const PlatformError non_utf8 = PlatformError::message(ErrorKind::InvalidData, console_non_utf8_message);

TEST(ConsoleUtf8Writer, ConvertsTextToUtf16InOneCall) {
  ConsoleUtf8Writer writer;
  ScriptedConsole console;
  EXPECT_EQ(writer.write("Setup \xE2\x80\x94 caf\xC3\xA9 \xF0\x9F\x98\x80\n", console), Result<std::size_t>(21));
  EXPECT_EQ(console.calls, Calls{u"Setup \u2014 caf\u00E9 \U0001F600\n"});
}

TEST(ConsoleUtf8Writer, CharacterArrivingOneByteThenTwoIsShownOnceWhole) {
  ConsoleUtf8Writer writer;
  ScriptedConsole console;
  EXPECT_EQ(writer.write("\xE2", console), Result<std::size_t>(1));
  EXPECT_TRUE(console.calls.empty());
  EXPECT_EQ(writer.write("\x80\x94", console), Result<std::size_t>(2));
  EXPECT_EQ(console.calls, Calls{u"\u2014"});
  EXPECT_EQ(writer.carry(), "");
}

TEST(ConsoleUtf8Writer, CharacterArrivingByteByByteIsShownAfterTheThird) {
  ConsoleUtf8Writer writer;
  ScriptedConsole console;
  EXPECT_EQ(writer.write("\xE2", console), Result<std::size_t>(1));
  EXPECT_EQ(writer.write("\x80", console), Result<std::size_t>(1));
  EXPECT_TRUE(console.calls.empty());
  EXPECT_EQ(writer.carry(), "\xE2\x80");
  EXPECT_EQ(writer.write("\x94", console), Result<std::size_t>(1));
  EXPECT_EQ(console.calls, Calls{u"\u2014"});
}

TEST(ConsoleUtf8Writer, TextEndingInsideACharacterIsWrittenUpToItThenTheRestIsCarried) {
  ConsoleUtf8Writer writer;
  ScriptedConsole console;
  EXPECT_EQ(writer.write("ab\xF0\x9F", console), Result<std::size_t>(2));
  EXPECT_EQ(writer.write("\xF0\x9F", console), Result<std::size_t>(2));
  EXPECT_EQ(writer.carry(), "\xF0\x9F");
  // Completing the character takes only its own bytes; the rest is a separate write.
  EXPECT_EQ(writer.write("\x98\x80!", console), Result<std::size_t>(2));
  EXPECT_EQ(writer.write("!", console), Result<std::size_t>(1));
  EXPECT_EQ(console.calls, (Calls{u"ab", u"\U0001F600", u"!"}));
}

TEST(ConsoleUtf8Writer, StrayContinuationByteFailsAndShowsNothing) {
  ConsoleUtf8Writer writer;
  ScriptedConsole console;
  EXPECT_EQ(writer.write("\x80" "abc", console), Result<std::size_t>(std::unexpected(non_utf8)));
  EXPECT_EQ(error_text(non_utf8), "Windows stdio in console mode does not support writing non-UTF-8 byte sequences");
  EXPECT_TRUE(console.calls.empty());
}

TEST(ConsoleUtf8Writer, CarriedBeginningNotContinuedFailsAndEmptiesTheCarry) {
  ConsoleUtf8Writer writer;
  ScriptedConsole console;
  EXPECT_EQ(writer.write("\xE2", console), Result<std::size_t>(1));
  EXPECT_EQ(writer.write("A", console), Result<std::size_t>(std::unexpected(non_utf8)));
  EXPECT_EQ(writer.carry(), "");
  EXPECT_EQ(writer.write("A", console), Result<std::size_t>(1));
  // A surrogate's encoding is not UTF-8 either, even split across writes.
  EXPECT_EQ(writer.write("\xED", console), Result<std::size_t>(1));
  EXPECT_EQ(writer.write("\xA0\x80", console), Result<std::size_t>(std::unexpected(non_utf8)));
  EXPECT_EQ(console.calls, Calls{u"A"});
}

TEST(ConsoleUtf8Writer, InvalidBytesEndTheValidBeginningAndFailTheNextWrite) {
  ConsoleUtf8Writer writer;
  ScriptedConsole console;
  EXPECT_EQ(writer.write("ok\xFF" "rest", console), Result<std::size_t>(2));
  EXPECT_EQ(writer.write("\xFF" "rest", console), Result<std::size_t>(std::unexpected(non_utf8)));
  // A whole but malformed three-byte sequence is not carried.
  EXPECT_EQ(writer.write("\xE2\x28\xA1", console), Result<std::size_t>(std::unexpected(non_utf8)));
  EXPECT_EQ(console.calls, Calls{u"ok"});
}

TEST(ConsoleUtf8Writer, TakesAtMost4096BytesPerWrite) {
  ConsoleUtf8Writer writer;
  ScriptedConsole console;
  EXPECT_EQ(writer.write(std::string(5000, 'a'), console), Result<std::size_t>(4096));
  // The limit falling inside a character moves the cut before it.
  const std::string text = std::string(4095, 'b') + "\xE2\x80\x94";
  EXPECT_EQ(writer.write(text, console), Result<std::size_t>(4095));
  EXPECT_EQ(writer.write(std::string_view(text).substr(4095), console), Result<std::size_t>(3));
  ASSERT_EQ(console.calls.size(), 3u);
  EXPECT_EQ(console.calls[0], std::u16string(4096, u'a'));
  EXPECT_EQ(console.calls[1], std::u16string(4095, u'b'));
  EXPECT_EQ(console.calls[2], u"\u2014");
}

TEST(ConsoleUtf8Writer, PartialAcceptanceReportsTheBytesOfTheAcceptedUnits) {
  ConsoleUtf8Writer writer;
  ScriptedConsole console;
  console.script = {2};
  EXPECT_EQ(writer.write("a\xE2\x80\x94" "b", console), Result<std::size_t>(4));
  EXPECT_EQ(console.shown, u"a\u2014");
  // One, two and three bytes per unit: "aé—" is 1 + 2 + 3 bytes.
  for (std::size_t taken = 1; taken <= 3; ++taken) {
    SCOPED_TRACE(taken);
    ConsoleUtf8Writer each;
    ScriptedConsole partial;
    partial.script = {taken};
    const std::size_t bytes[] = {0, 1, 3, 6};  // by units taken
    EXPECT_EQ(each.write("a\xC3\xA9\xE2\x80\x94z", partial), Result<std::size_t>(bytes[taken]));
    EXPECT_EQ(partial.shown, std::u16string(u"a\u00E9\u2014").substr(0, taken));
  }
}

TEST(ConsoleUtf8Writer, SurrogatePairIsNeverCut) {
  ConsoleUtf8Writer writer;
  ScriptedConsole console;
  console.script = {2, 0};  // takes "x" and the high half; the low half is written alone
  EXPECT_EQ(writer.write("x\xF0\x9F\x98\x80y", console), Result<std::size_t>(5));
  EXPECT_EQ(console.calls, (Calls{u"x\U0001F600y", u"\xDE00"}));
}

TEST(ConsoleUtf8Writer, ConsoleFailuresAreReturned) {
  ConsoleUtf8Writer writer;
  ScriptedConsole console;
  console.script = {std::unexpected(PlatformError::os(31)), 0};
  EXPECT_EQ(writer.write("abc", console), Result<std::size_t>(std::unexpected(PlatformError::os(31))));
  EXPECT_EQ(writer.write("abc", console), Result<std::size_t>(0));
  // A carried character the console refuses stays carried and counts as not yet written.
  console.script = {0};
  EXPECT_EQ(writer.write("\xC3", console), Result<std::size_t>(1));
  EXPECT_EQ(writer.write("\xA9", console), Result<std::size_t>(0));
  EXPECT_EQ(writer.carry(), "\xC3");
  EXPECT_EQ(writer.write("\xA9", console), Result<std::size_t>(1));
  EXPECT_EQ(console.shown, u"\u00E9");
}

}  // namespace
}  // namespace platform
