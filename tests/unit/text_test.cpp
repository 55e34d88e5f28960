// Text at the system boundary: lossless WTF-8, display with U+FFFD, and the NUL refusal.
#include "platform/text.hpp"

#include <gtest/gtest.h>

namespace {

using namespace std::string_literals;

TEST(Text, AnUnpairedSurrogateSurvivesTheRoundTripAsItsOwnThreeBytes) {
  const std::u16string read = u"a\xD800" u"b\xDC01";
  const std::string held = platform::from_utf16(read);
  EXPECT_EQ(held, "a\xED\xA0\x80" "b\xED\xB0\x81");
  EXPECT_EQ(platform::to_utf16(held).value(), read);
}

TEST(Text, ValidTextRoundTripsIncludingCharactersBeyondTheBasicPlane) {
  const std::string text = "C:\\Users\\Bj\xC3\xB6rn\\\xE2\x82\xAC\\\xF0\x9F\x98\x80";
  const std::u16string wide = platform::to_utf16(text).value();
  EXPECT_EQ(wide, u"C:\\Users\\Bj\u00F6rn\\\u20AC\\\U0001F600");
  EXPECT_EQ(platform::from_utf16(wide), text);
}

TEST(Text, DisplayShowsEachUnpairedSurrogateAsOneReplacementCharacter) {
  const std::string held = platform::from_utf16(u"x\xD800\xD800y\xDFFF");
  EXPECT_EQ(platform::display_text(held), "x\xEF\xBF\xBD\xEF\xBF\xBDy\xEF\xBF\xBD");
  EXPECT_EQ(platform::display_text("plain \xC3\xA9"), "plain \xC3\xA9");
}

TEST(Text, ANulIsRefusedWithTheFixedMessage) {
  for (const std::string& text : {"a\0b"s, "\0"s, "end\0"s}) {
    SCOPED_TRACE(::testing::PrintToString(text));
    const auto converted = platform::to_utf16(text);
    ASSERT_FALSE(converted.has_value());
    EXPECT_EQ(converted.error().kind(), platform::ErrorKind::InvalidInput);
    EXPECT_EQ(platform::error_text(converted.error()), "nul byte found in provided data");
  }
}

}  // namespace
