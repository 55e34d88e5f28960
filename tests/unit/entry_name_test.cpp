// How stored name bytes become names: CP437, UTF-8 with replacement, the Unicode-path field.
#include <gtest/gtest.h>

#include <optional>
#include <tuple>

#include <string>

#include "payload/entry_name.hpp"
#include "support/zip_builder.hpp"

namespace {

using payload::decode_cp437;
using payload::decode_entry_name;

const std::string fffd = "\xEF\xBF\xBD";

TEST(EntryName, Cp437UpperHalfDecodesToItsCharacters) {
  std::string upper;
  for (int b = 0x80; b <= 0xFF; ++b) upper += static_cast<char>(b);
  const std::string expected =
      "\xC3\x87\xC3\xBC\xC3\xA9\xC3\xA2\xC3\xA4\xC3\xA0\xC3\xA5\xC3\xA7\xC3\xAA\xC3\xAB\xC3\xA8\xC3\xAF\xC3\xAE"
      "\xC3\xAC\xC3\x84\xC3\x85"
      "\xC3\x89\xC3\xA6\xC3\x86\xC3\xB4\xC3\xB6\xC3\xB2\xC3\xBB\xC3\xB9\xC3\xBF\xC3\x96\xC3\x9C\xC2\xA2\xC2\xA3"
      "\xC2\xA5\xE2\x82\xA7\xC6\x92"
      "\xC3\xA1\xC3\xAD\xC3\xB3\xC3\xBA\xC3\xB1\xC3\x91\xC2\xAA\xC2\xBA\xC2\xBF\xE2\x8C\x90\xC2\xAC\xC2\xBD\xC2\xBC"
      "\xC2\xA1\xC2\xAB\xC2\xBB"
      "\xE2\x96\x91\xE2\x96\x92\xE2\x96\x93\xE2\x94\x82\xE2\x94\xA4\xE2\x95\xA1\xE2\x95\xA2\xE2\x95\x96\xE2\x95\x95"
      "\xE2\x95\xA3\xE2\x95\x91\xE2\x95\x97\xE2\x95\x9D\xE2\x95\x9C\xE2\x95\x9B\xE2\x94\x90"
      "\xE2\x94\x94\xE2\x94\xB4\xE2\x94\xAC\xE2\x94\x9C\xE2\x94\x80\xE2\x94\xBC\xE2\x95\x9E\xE2\x95\x9F\xE2\x95\x9A"
      "\xE2\x95\x94\xE2\x95\xA9\xE2\x95\xA6\xE2\x95\xA0\xE2\x95\x90\xE2\x95\xAC\xE2\x95\xA7"
      "\xE2\x95\xA8\xE2\x95\xA4\xE2\x95\xA5\xE2\x95\x99\xE2\x95\x98\xE2\x95\x92\xE2\x95\x93\xE2\x95\xAB\xE2\x95\xAA"
      "\xE2\x94\x98\xE2\x94\x8C\xE2\x96\x88\xE2\x96\x84\xE2\x96\x8C\xE2\x96\x90\xE2\x96\x80"
      "\xCE\xB1\xC3\x9F\xCE\x93\xCF\x80\xCE\xA3\xCF\x83\xC2\xB5\xCF\x84\xCE\xA6\xCE\x98\xCE\xA9\xCE\xB4\xE2\x88\x9E"
      "\xCF\x86\xCE\xB5\xE2\x88\xA9"
      "\xE2\x89\xA1\xC2\xB1\xE2\x89\xA5\xE2\x89\xA4\xE2\x8C\xA0\xE2\x8C\xA1\xC3\xB7\xE2\x89\x88\xC2\xB0\xE2\x88\x99"
      "\xC2\xB7\xE2\x88\x9A\xE2\x81\xBF\xC2\xB2\xE2\x96\xA0\xC2\xA0";
  EXPECT_EQ(decode_cp437(upper), expected);
  EXPECT_EQ(decode_cp437("bin\\zarvo.exe"), "bin\\zarvo.exe");
  EXPECT_EQ(decode_cp437(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(EntryName, FlagBit11ChoosesUtf8ElseCp437) {
  EXPECT_EQ(decode_entry_name("\x81" "ber.txt", false, ""), "\xC3\xBC" "ber.txt");
  EXPECT_EQ(decode_entry_name("\x81" "ber.txt", true, ""), fffd + "ber.txt");
  EXPECT_EQ(decode_entry_name("\xC3\xBC" "ber.txt", true, ""), "\xC3\xBC" "ber.txt");
  EXPECT_EQ(decode_entry_name("\xC3\xBC" "ber.txt", false, ""), "\xE2\x94\x9C\xE2\x95\x9D" "ber.txt");
}

// The field names the entry where the stored name is in a legacy code page; where readers differ on
// taking it (a plain ASCII name, or one flagged as UTF-8), it must say the same, or the entry has
// no one name.
TEST(EntryName, UnicodePathFieldNamesOnlyLegacyNamesAndOtherwiseMustAgree) {
  using test_support::extra_field;
  using test_support::unicode_path_field;
  const std::string legacy = "\x81" "ber.txt";
  const std::string other = extra_field(0x5455, std::string(5, '\x01'));  // a timestamp field first
  std::string version2 = unicode_path_field(legacy, "x");
  version2[4] = '\x02';
  const std::tuple<std::string, bool, std::string, std::optional<std::string>> cases[] = {
      {legacy, false, other + unicode_path_field(legacy, "\xE2\x82\xAC.txt"), "\xE2\x82\xAC.txt"},
      // its text is UTF-8 whatever the flag says, invalid sequences replaced
      {legacy, false, unicode_path_field(legacy, "a\xFF"), "a" + fffd},
      // a field of another name's CRC-32, or of another version, is not read
      {legacy, false, unicode_path_field("something else", "\xE2\x82\xAC.txt"), "\xC3\xBC" "ber.txt"},
      {legacy, false, version2, "\xC3\xBC" "ber.txt"},
      {"notes.txt", false, unicode_path_field("notes.txt", "notes.txt"), "notes.txt"},
      {"notes.txt", false, unicode_path_field("notes.txt", "install.ps1"), std::nullopt},
      {"\xC3\xBC.txt", true, unicode_path_field("\xC3\xBC.txt", "\xC3\xBC.txt"), "\xC3\xBC.txt"},
      {"\xC3\xBC.txt", true, unicode_path_field("\xC3\xBC.txt", "u.txt"), std::nullopt},
  };
  for (const auto& [stored, utf8, extra, name] : cases) {
    SCOPED_TRACE(stored);
    EXPECT_EQ(decode_entry_name(stored, utf8, extra), name);
  }
}

}  // namespace
