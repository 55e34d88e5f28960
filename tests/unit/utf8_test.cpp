// The one UTF-8 module: decoding one character, lossy decoding, validity and carried beginnings.
#include "platform/utf8.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

namespace utf8 = platform::utf8;
const std::string fffd = "\xEF\xBF\xBD";

TEST(Utf8, InvalidSequencesBecomeOneReplacementEach) {
  using utf8::decode_lossy;
  EXPECT_EQ(decode_lossy("d\xC3\xA9j\xC3\xA0/\xE6\x97\xA5\xF0\x9F\x98\x80"), "d\xC3\xA9j\xC3\xA0/\xE6\x97\xA5\xF0\x9F\x98\x80");
  EXPECT_EQ(decode_lossy("a\x80" "b"), "a" + fffd + "b");
  EXPECT_EQ(decode_lossy("\xE2\x82" "x"), fffd + "x");             // cut three-byte sequence
  EXPECT_EQ(decode_lossy("\xF0\x9F\x98"), fffd);                     // cut at the end
  EXPECT_EQ(decode_lossy("\xC0\xAF"), fffd + fffd);                  // overlong
  EXPECT_EQ(decode_lossy("\xED\xA0\x80"), fffd + fffd + fffd);       // surrogate
  EXPECT_EQ(decode_lossy("\xF4\x90\x80\x80"), fffd + fffd + fffd + fffd);  // above U+10FFFF
  EXPECT_EQ(decode_lossy("\xE0\x80\xBF"), fffd + fffd + fffd);
  EXPECT_EQ(decode_lossy("\xFF\xFE"), fffd + fffd);
}

// Surrogates decode only where WTF-8 is read; everything else about a character stays the same.
TEST(Utf8, TheSurrogatePolicyDecidesSurrogatesAlone) {
  const auto allowed = utf8::decode("\xED\xA0\x80", utf8::Surrogates::Allowed);
  ASSERT_TRUE(allowed.has_value());
  EXPECT_EQ(allowed->code_point, U'\xD800');
  EXPECT_EQ(allowed->length, 3u);
  EXPECT_EQ(utf8::decode("\xED\xA0\x80").error(), 1u);
  for (const auto policy : {utf8::Surrogates::Refused, utf8::Surrogates::Allowed}) {
    SCOPED_TRACE(policy == utf8::Surrogates::Allowed ? "allowed" : "refused");
    EXPECT_EQ(utf8::decode("\xC0\x80", policy).error(), 1u);      // overlong
    EXPECT_EQ(utf8::decode("\xF4\x90\x80\x80", policy).error(), 1u);  // above U+10FFFF
    EXPECT_EQ(utf8::decode("\xF0\x9F\x98", policy).error(), 3u);  // cut short after three bytes
    EXPECT_EQ(utf8::decode("\xF0\x9F\x98\x80", policy)->code_point, U'\U0001F600');
  }
}

TEST(Utf8, ValidPrefixStopsAtTheFirstByteThatIsNoCharacter) {
  EXPECT_EQ(utf8::valid_prefix("ab\xC3\xA9"), 4u);
  EXPECT_EQ(utf8::valid_prefix("ab\xC3"), 2u);
  EXPECT_EQ(utf8::valid_prefix("\xED\xA0\x80x"), 0u);
  EXPECT_TRUE(utf8::is_char_beginning("\xF0\x9F"));
  EXPECT_FALSE(utf8::is_char_beginning("\xF0\x7F"));
  EXPECT_FALSE(utf8::is_char_beginning("\xED\xA0"));  // would be a surrogate
  EXPECT_FALSE(utf8::is_char_beginning("ab"));        // longer than its character
}

}  // namespace
