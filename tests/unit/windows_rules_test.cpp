// The Windows path rules: joining, parents and the native form (with a fake GetFullPathNameW).
#include "platform/windows_rules.hpp"

#include <gtest/gtest.h>

#include <cwchar>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/text.hpp"

namespace {

namespace wp = platform::windows_rules;

struct JoinCase {
  std::string_view base;
  std::string_view more;
  std::string_view joined;
};

std::vector<JoinCase> join_separator_cases() {
  return {
    {R"(C:\Temp\)", "x", R"(C:\Temp\x)"},
    {R"(C:\Temp)", "x", R"(C:\Temp\x)"},
    {"C:/Temp/", "x", "C:/Temp/x"},
    {"", "Programs", "Programs"},
    {"C:", "x", "C:x"},
    {"a", R"(b\c)", R"(a\b\c)"},
    {R"(C:\a)", "", R"(C:\a\)"},
    {R"(\\server\share)", "x", R"(\\server\share\x)"},
    {R"(\\.\pipe)", "x", R"(\\.\pipe\x)"},
  };
}

TEST(WindowsJoinPath, InsertsOneBackslashUnlessTheBaseEndsInASeparatorIsEmptyOrABareDrive) {
  const auto cases = join_separator_cases();
  for (const JoinCase& c : cases) {
    SCOPED_TRACE(std::string(c.base) + " + " + std::string(c.more));
    EXPECT_EQ(wp::join_path(c.base, c.more), c.joined);
  }
}

std::vector<JoinCase> join_prefix_cases() {
  return {
    {R"(C:\a)", R"(D:\b)", R"(D:\b)"},
    {R"(C:\a)", "D:x", "D:x"},
    {R"(C:\a)", R"(\\server\share\x)", R"(\\server\share\x)"},
    {R"(C:\a)", R"(\\?\D:\x)", R"(\\?\D:\x)"},
    {R"(\\?\C:\a)", R"(\\.\COM1)", R"(\\.\COM1)"},
    {R"(C:\a\b)", R"(\c)", R"(C:\c)"},
    {R"(C:\a\b)", "/c", "C:/c"},
    {R"(\\server\share\a)", R"(\c)", R"(\\server\share\c)"},
    {R"(a\b)", R"(\c)", R"(\c)"},
    // Not a UNC prefix without both server and share: a root only.
    {R"(C:\a)", R"(\\server)", R"(C:\\server)"},
  };
}

TEST(WindowsJoinPath, APathWithAPrefixReplacesTheBaseAndARootKeepsOnlyTheBasePrefix) {
  const auto cases = join_prefix_cases();
  for (const JoinCase& c : cases) {
    SCOPED_TRACE(std::string(c.base) + " + " + std::string(c.more));
    EXPECT_EQ(wp::join_path(c.base, c.more), c.joined);
  }
}

std::vector<JoinCase> join_verbatim_cases() {
  return {
    {R"(\\?\C:\a)", R"(b\.\c\..\d)", R"(\\?\C:\a\b\d)"},
    {R"(\\?\C:\a)", "b/c//d/", R"(\\?\C:\a\b\c\d)"},
    {R"(\\?\C:\a\b)", R"(..\..\..\x)", R"(\\?\C:\x)"},
    {R"(\\?\C:\a)", R"(\x\y)", R"(\\?\C:\x\y)"},
    {R"(\\?\C:\)", "x", R"(\\?\C:\x)"},
    {R"(\\?\UNC\server\share)", "x", R"(\\?\UNC\server\share\x)"},
    {R"(\\?\UNC\server\share\a)", R"(..\..)", R"(\\?\UNC\server\share\)"},
    {R"(\\?\UNC\server\share\a)", R"(\b)", R"(\\?\UNC\server\share\b)"},
    {R"(\\?\pictures\a)", R"(.\b)", R"(\\?\pictures\a\b)"},
    // An empty further path is no merge: just the separator.
    {R"(\\?\C:\a)", "", R"(\\?\C:\a\)"},
  };
}

TEST(WindowsJoinPath, OntoAVerbatimBaseDotsAreResolvedAndSeparatorsBecomeSingleBackslashes) {
  const auto cases = join_verbatim_cases();
  for (const JoinCase& c : cases) {
    SCOPED_TRACE(std::string(c.base) + " + " + std::string(c.more));
    EXPECT_EQ(wp::join_path(c.base, c.more), c.joined);
  }
}

std::vector<std::pair<std::string_view, std::optional<std::string_view>>> parent_cases() {
  return {
    {R"(C:\)", std::nullopt},
    {"C:", std::nullopt},
    {R"(\\server\share\)", std::nullopt},
    {R"(\\server\share)", std::nullopt},
    {R"(\)", std::nullopt},
    {"", std::nullopt},
    {R"(\\?\C:\)", std::nullopt},
    {"a", ""},
    {".", ""},
    {R"(C:\a)", R"(C:\)"},
    {R"(C:\a\b\\)", R"(C:\a)"},
    {"C:/a/b/", "C:/a"},
    {"C:a", "C:"},
    {R"(\a)", R"(\)"},
    {R"(a\b)", "a"},
    {R"(a\.\b)", "a"},
    {R"(C:\a\.)", R"(C:\)"},
    {R"(.\a)", "."},
    {R"(\\server\share\a)", R"(\\server\share\)"},
    {R"(\\?\C:\a\b)", R"(\\?\C:\a)"},
    {R"(\\?\UNC\s\sh\x)", R"(\\?\UNC\s\sh\)"},
    // Verbatim paths are literal: "." is a name and "/" is no separator.
    {R"(\\?\C:\a\.)", R"(\\?\C:\a)"},
    {R"(\\?\C:\a/b)", R"(\\?\C:\)"},
    // Prefixes cut short are prefixes still; a verbatim name other than a drive is one too.
    {R"(\\?\UNC\server)", std::nullopt},
    {R"(\\?\C:)", std::nullopt},
    {R"(\\.\)", std::nullopt},
    {R"(\\?\C:x\y)", R"(\\?\C:x\)"},
    // No device without the separator after the dot: a share named so.
    {R"(\\.x\y\z)", R"(\\.x\y\)"},
    // Without a server or a share there is no UNC prefix: a root and names.
    {R"(\\server)", R"(\)"},
    {R"(\\server\\share)", R"(\\server)"},
  };
}

TEST(WindowsParentPath, DropsTheLastComponentAndHasNoneForRootsPrefixesAndEmpty) {
  const auto cases = parent_cases();
  for (const auto& [path, parent] : cases) {
    SCOPED_TRACE(path);
    const std::optional<std::string> found = wp::parent_path(path);
    ASSERT_EQ(found.has_value(), parent.has_value());
    if (parent) {
      EXPECT_EQ(*found, *parent);
    }
  }
}

// GetFullPathNameW stand-in: records what it was asked and answers from a script.
struct FakeFullPath {
  std::vector<std::u16string> asked;
  platform::Result<std::u16string> answer = std::u16string();

  wp::FullPathQuery<char16_t> query() {
    return [this](std::u16string_view path) {
      asked.emplace_back(path);
      return answer;
    };
  }
};

struct BelowCase {
  std::string base;
  std::string path;
  bool below;
};

std::vector<BelowCase> below_cases() {
  const std::string temp = R"(\\?\C:\Users\Zoë\AppData\Local\Temp\zarvo-setup-42)";
  const std::string sub = temp + R"(\bin\zarvo.exe)";
  return {
    {temp, sub, true},
    {temp, temp + R"(\x)", true},
    {temp + "\\", temp + R"(\x)", true},
    // Verbatim paths are taken as they stand, and then Windows' own tools cannot open these.
    {temp, temp + R"(\...\x.)", false},
    {temp, temp + R"(\CON)", false},
    {temp, temp + R"(\docs\aux.txt)", false},
    {temp, temp + R"(\x )", false},
    {temp, temp + R"(\.x\CONSOLE\com10)", true},
    {temp, temp, false},
    {temp, temp + "\\", false},
    {temp, temp + "x", false},  // a string prefix, not a component
    {temp, R"(\\?\C:\Users\Zoë\AppData\Local\Temp\zarvo-setup-4)", false},
    {temp, R"(\\?\C:\Users\Zoë\AppData\Local\Temp\zarvo-setup-42x\y)", false},
    {temp, R"(\\?\C:\Users\Zoë\AppData\Local\Temp)", false},
    {temp, R"(\\?\D:\Users\Zoë\AppData\Local\Temp\zarvo-setup-42\x)", false},
    {temp, R"(\\?\UNC\server\share\x)", false},
    {temp, "C:escape.txt", false},
    {temp, R"(C:\Users\Zoë\AppData\Local\Temp\zarvo-setup-42\x)", false},
    {temp, temp + R"(\..\x)", false},
    {temp, temp + R"(\.\x)", false},
    {temp, temp + R"(\a\..)", false},
    {temp, temp + R"(\C:x)", false},
    {temp, temp + R"(\docs:stream)", false},
    {temp, temp + R"(\a/b)", false},
    {temp, R"(\\?\c:\Users\Zoë\AppData\Local\Temp\zarvo-setup-42\x)", false},  // only the same text counts
    // Outside a verbatim path the system rewrites device names and trailing dots and spaces itself.
    {R"(C:\Temp\w)", R"(C:\Temp\w\a\b)", true},
    {R"(C:\Temp\w)", R"(C:/Temp/w/a)", true},
    {R"(C:\Temp\w)", R"(C:\Temp\w\.\a)", true},
    {R"(C:\Temp\w)", R"(C:\Temp\w\..\a)", false},
    {R"(C:\Temp\w)", R"(C:\Temp\w\CON)", false},
    {R"(C:\Temp\w)", R"(C:\Temp\w\a\nul.txt)", false},
    {R"(C:\Temp\w)", R"(C:\Temp\w\com7)", false},
    {R"(C:\Temp\w)", R"(C:\Temp\w\com0)", false},
    {R"(C:\Temp\w)", "C:\\Temp\\w\\LPT\xC2\xB3.log", false},
    {R"(C:\Temp\w)", "C:\\Temp\\w\\COM\xC2\xB9", false},
    {R"(C:\Temp\w)", "C:\\Temp\\w\\lpt\xC2\xB2.txt", false},
    {R"(C:\Temp\w)", R"(C:\Temp\w\COM!)", true},
    {R"(C:\Temp\w)", R"(C:\Temp\w\COM)", true},
    {R"(C:\Temp\w)", R"(C:\Temp\w\con .txt)", false},
    {R"(C:\Temp\w)", R"(C:\Temp\w\AUX  )", false},
    {R"(C:\Temp\w)", R"(C:\Temp\w\nul.tar.gz)", false},
    {R"(C:\Temp\w)", R"(C:\Temp\w\com10)", true},
    {R"(C:\Temp\w)", R"(C:\Temp\w\console)", true},
    {R"(C:\Temp\w)", R"(C:\Temp\w\x.)", false},
    {R"(C:\Temp\w)", R"(C:\Temp\w\x )", false},
    {R"(C:\Temp\w)", R"(D:\Temp\w\x)", false},
    {R"(\\server\share\w)", R"(\\server\share\w\x)", true},
    {R"(\\server\share\w)", R"(\\server\other\w\x)", false},
    {"rel", R"(rel\x)", true},
    {"rel", R"(\rel\x)", false},
  };
}

TEST(WindowsLiesBelow, ComponentByComponentWithOrdinaryNamesOnly) {
  const auto cases = below_cases();
  for (const BelowCase& c : cases) {
    SCOPED_TRACE(c.path + " below " + c.base);
    EXPECT_EQ(wp::lies_below(c.base, c.path), c.below);
  }
}

std::vector<std::u16string> unchanged_native_cases() {
  const std::u16string long_tail(300, u'a');
  return {
    u"",
    u"C:\\Temp\\x",
    u"C:/Temp/x",
    u"C:",
    u"\\\\server\\share\\x",
    u"//x",
    u"\\\\.\\COM1",
    u"\\\\?\\C:\\" + long_tail,
    u"\\??\\C:\\" + long_tail,
  };
}

TEST(WindowsNativeForm, ShortAbsoluteVerbatimAndEmptyPathsPassUnchangedWithoutAQuery) {
  const auto cases = unchanged_native_cases();
  for (const std::u16string& path : cases) {
    SCOPED_TRACE(::testing::PrintToString(path));
    FakeFullPath fake;
    const auto native = wp::native_form<char16_t>(path, fake.query());
    ASSERT_TRUE(native.has_value());
    EXPECT_EQ(*native, path);
    EXPECT_TRUE(fake.asked.empty());
  }
}

struct NativeCase {
  std::u16string path;
  std::u16string full;
  std::u16string native;
};

std::vector<NativeCase> resolved_native_cases() {
  const std::u16string tail(292, u'a');
  return {
    // 300 units below the temporary directory.
    {u"C:\\Temp\\" + tail, u"C:\\Temp\\" + tail, u"\\\\?\\C:\\Temp\\" + tail},
    {u"C:/Temp/" + tail, u"C:\\Temp\\" + tail, u"\\\\?\\C:\\Temp\\" + tail},
    {u"\\\\server\\share\\" + tail, u"\\\\server\\share\\" + tail, u"\\\\?\\UNC\\server\\share\\" + tail},
    {u"\\\\.\\C:\\" + tail, u"\\\\.\\C:\\" + tail, u"\\\\?\\C:\\" + tail},
    {u"Programs\\zarvo\\bin\\zarvo-hud.exe", u"D:\\work\\Programs\\zarvo\\bin\\zarvo-hud.exe",
     u"\\\\?\\D:\\work\\Programs\\zarvo\\bin\\zarvo-hud.exe"},
    {u"\\x", u"C:\\x", u"\\\\?\\C:\\x"},
    {u"C:x", u"C:\\cwd\\x", u"\\\\?\\C:\\cwd\\x"},
    // Already verbatim after resolution, or a shape without a known prefix: left as resolved.
    {u"\\\\?" + tail, u"\\\\?\\" + tail, u"\\\\?\\" + tail},
    {u"x", u"odd", u"odd"},
  };
}

TEST(WindowsNativeForm, LongOrRelativePathsAreMadeAbsoluteAndGivenTheVerbatimPrefix) {
  const auto cases = resolved_native_cases();
  for (const NativeCase& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.path));
    FakeFullPath fake;
    fake.answer = c.full;
    const auto native = wp::native_form<char16_t>(c.path, fake.query());
    ASSERT_TRUE(native.has_value());
    EXPECT_EQ(*native, c.native);
    ASSERT_EQ(fake.asked.size(), 1u);
    EXPECT_EQ(fake.asked[0], c.path);
  }
}

TEST(WindowsNativeForm, TheShortPathLimitIs246Units) {
  FakeFullPath fake;
  const std::u16string at_limit = u"C:\\" + std::u16string(243, u'a');
  ASSERT_EQ(at_limit.size(), 246u);
  EXPECT_EQ(wp::native_form<char16_t>(at_limit, fake.query()).value(), at_limit);
  EXPECT_TRUE(fake.asked.empty());

  const std::u16string over = at_limit + u"a";
  fake.answer = over;
  EXPECT_EQ(wp::native_form<char16_t>(over, fake.query()).value(), u"\\\\?\\" + over);
  EXPECT_EQ(fake.asked.size(), 1u);
}

TEST(WindowsNativeForm, AFailedFullPathQueryIsTheOperationsError) {
  FakeFullPath fake;
  fake.answer = std::unexpected(platform::PlatformError::os(3));
  const auto native = wp::native_form<char16_t>(u"relative", fake.query());
  ASSERT_FALSE(native.has_value());
  EXPECT_EQ(native.error(), platform::PlatformError::os(3));
}


// ---- the same rules for every unit type --------------------------------------------------------

// The rules are compiled once for each unit type a path comes in; a fault may sit in one of them
// only (a UTF-8 superscript digit is two units, a UTF-16 one a single unit), so each is asked the
// cases above, converted.
template <typename Unit>
std::basic_string<Unit> in_units(std::string_view utf8) {
  if constexpr (sizeof(Unit) == 1) {
    return std::basic_string<Unit>(utf8);
  } else {
    return platform::to_utf16_unchecked<Unit>(utf8);
  }
}

template <typename Unit>
std::basic_string<Unit> in_units(std::u16string_view utf16) {
  if constexpr (sizeof(Unit) == 1) {
    return platform::from_utf16(utf16);
  } else {
    return std::basic_string<Unit>(utf16.begin(), utf16.end());
  }
}

template <typename Unit>
class WindowsRulesInUtf16 : public ::testing::Test {};
using Utf16Units = ::testing::Types<char16_t
#if WCHAR_MAX <= 0xFFFF
                                    ,
                                    wchar_t
#endif
                                    >;
TYPED_TEST_SUITE(WindowsRulesInUtf16, Utf16Units);

TYPED_TEST(WindowsRulesInUtf16, JoinAsInUtf8) {
  for (const auto& cases : {join_separator_cases(), join_prefix_cases(), join_verbatim_cases()}) {
    for (const JoinCase& c : cases) {
      SCOPED_TRACE(std::string(c.base) + " + " + std::string(c.more));
      EXPECT_EQ(wp::join_path<TypeParam>(in_units<TypeParam>(c.base), in_units<TypeParam>(c.more)),
                in_units<TypeParam>(c.joined));
    }
  }
}

TYPED_TEST(WindowsRulesInUtf16, ParentsAsInUtf8) {
  for (const auto& [path, parent] : parent_cases()) {
    SCOPED_TRACE(path);
    const auto found = wp::parent_path<TypeParam>(in_units<TypeParam>(path));
    ASSERT_EQ(found.has_value(), parent.has_value());
    if (parent) {
      EXPECT_EQ(*found, in_units<TypeParam>(*parent));
    }
  }
}

TYPED_TEST(WindowsRulesInUtf16, WhatLiesBelowAsInUtf8) {
  for (const BelowCase& c : below_cases()) {
    SCOPED_TRACE(c.path + " below " + c.base);
    EXPECT_EQ(wp::lies_below<TypeParam>(in_units<TypeParam>(c.base), in_units<TypeParam>(c.path)), c.below);
  }
}

template <typename Unit>
class WindowsNativeFormInUnits : public ::testing::Test {};
using NativeUnits = ::testing::Types<char
#if WCHAR_MAX <= 0xFFFF
                                     ,
                                     wchar_t
#endif
                                     >;
TYPED_TEST_SUITE(WindowsNativeFormInUnits, NativeUnits);

TYPED_TEST(WindowsNativeFormInUnits, AsInChar16) {
  using String = std::basic_string<TypeParam>;
  std::vector<String> asked;
  platform::Result<String> answer = String();
  const wp::FullPathQuery<TypeParam> query = [&](std::basic_string_view<TypeParam> path) {
    asked.emplace_back(path);
    return answer;
  };
  for (const std::u16string& path : unchanged_native_cases()) {
    SCOPED_TRACE(::testing::PrintToString(path));
    asked.clear();
    EXPECT_EQ(wp::native_form<TypeParam>(in_units<TypeParam>(path), query),
              platform::Result<String>(in_units<TypeParam>(path)));
    EXPECT_TRUE(asked.empty());
  }
  for (const NativeCase& c : resolved_native_cases()) {
    SCOPED_TRACE(::testing::PrintToString(c.path));
    asked.clear();
    answer = in_units<TypeParam>(c.full);
    EXPECT_EQ(wp::native_form<TypeParam>(in_units<TypeParam>(c.path), query),
              platform::Result<String>(in_units<TypeParam>(c.native)));
    EXPECT_EQ(asked, std::vector<String>{in_units<TypeParam>(c.path)});
  }
  answer = std::unexpected(platform::PlatformError::os(3));
  EXPECT_EQ(wp::native_form<TypeParam>(in_units<TypeParam>(std::u16string_view(u"relative")), query),
            platform::Result<String>(std::unexpected(platform::PlatformError::os(3))));
}

// ---- link targets from reparse data ---------------------------------------------------------------

constexpr std::uint32_t tag_symlink = 0xA000000C;
constexpr std::uint32_t tag_mount_point = 0xA0000003;

// Reparse data as FSCTL_GET_REPARSE_POINT gives it: the header, the name fields (and a symbolic
// link's flags), then the names. Every field can be set by hand; by default they describe
// `names` holding the substitute name first and the print name after it.
struct ReparseData {
  std::uint32_t tag = tag_symlink;
  std::u16string substitute;
  std::u16string print;
  std::uint32_t flags = 0;
  std::optional<std::uint16_t> data_length;  // default: everything after the header
  std::optional<std::uint16_t> substitute_offset;
  std::optional<std::uint16_t> substitute_length;

  std::vector<std::byte> bytes() const {
    std::vector<std::byte> out;
    const auto put = [&out](std::uint64_t value, int width) {
      for (int i = 0; i < width; ++i) out.push_back(static_cast<std::byte>((value >> (8 * i)) & 0xFF));
    };
    const bool symlink = tag == tag_symlink;
    const std::size_t names = 2 * (substitute.size() + print.size());
    put(tag, 4);
    put(data_length.value_or(static_cast<std::uint16_t>(8 + (symlink ? 4 : 0) + names)), 2);
    put(0, 2);
    put(substitute_offset.value_or(0), 2);
    put(substitute_length.value_or(static_cast<std::uint16_t>(2 * substitute.size())), 2);
    put(2 * substitute.size(), 2);
    put(2 * print.size(), 2);
    if (symlink) put(flags, 4);
    for (const char16_t unit : substitute + print) put(unit, 2);
    return out;
  }
};

struct LinkTargetCase {
  std::string what;
  ReparseData data;
  platform::Result<std::u16string> full;     // the fake GetFullPathNameW's answer
  std::vector<std::u16string> asked;          // what it must have been asked
  platform::Result<std::u16string> target;
};

TEST(WindowsLinkTarget, NtPathsTakeTheirOrdinaryFormOnlyWhenItMeansTheSame) {
  const std::u16string long_name(260, u'a');
  const LinkTargetCase cases[] = {
      {"symbolic link to a drive path", {.substitute = u"\\??\\C:\\Users\\Zoë", .print = u"C:\\Users\\Zoë"},
       u"C:\\Users\\Zoë", {u"C:\\Users\\Zoë"}, u"C:\\Users\\Zoë"},
      {"symbolic link to a share", {.substitute = u"\\??\\UNC\\server\\share\\x", .print = u"\\\\server\\share\\x"},
       u"\\\\server\\share\\x", {u"\\\\server\\share\\x"}, u"\\\\server\\share\\x"},
      {"junction to a drive path", {.tag = tag_mount_point, .substitute = u"\\??\\D:\\target\\", .print = u"D:\\target\\"},
       u"D:\\target\\", {u"D:\\target\\"}, u"D:\\target\\"},
      {"the ordinary form is rewritten by the system", {.substitute = u"\\??\\C:\\a\\..\\b. "}, u"C:\\b",
       {u"C:\\a\\..\\b. "}, u"\\\\?\\C:\\a\\..\\b. "},
      {"the ordinary form cannot be resolved", {.substitute = u"\\??\\C:\\x"},
       std::unexpected(platform::PlatformError::os(123)), {u"C:\\x"}, u"\\\\?\\C:\\x"},
      {"the ordinary form is too long", {.substitute = u"\\??\\C:\\" + long_name}, u"unused", {},
       u"\\\\?\\C:\\" + long_name},
      {"an NT path that is neither a drive nor a share", {.substitute = u"\\??\\Volume{1234}\\x"}, u"unused", {},
       u"\\\\?\\Volume{1234}\\x"},
      {"a drive letter without its separator", {.substitute = u"\\??\\C:x"}, u"unused", {}, u"\\\\?\\C:x"},
      {"no NT prefix", {.substitute = u"C:\\plain"}, u"unused", {}, u"C:\\plain"},
      {"a relative symbolic link stands as it is", {.substitute = u"..\\up\\there", .flags = 1}, u"unused", {},
       u"..\\up\\there"},
      {"a relative flag leaves even an NT form alone", {.substitute = u"\\??\\C:\\x", .flags = 1}, u"unused", {},
       u"\\??\\C:\\x"},
      {"an empty substitute name", {.substitute = u"", .print = u"shown"}, u"unused", {}, u""},
  };
  for (const LinkTargetCase& c : cases) {
    SCOPED_TRACE(c.what);
    FakeFullPath fake;
    fake.answer = c.full;
    EXPECT_EQ(wp::link_target(c.data.bytes(), fake.query()), c.target);
    EXPECT_EQ(fake.asked, c.asked);
  }
}

TEST(WindowsLinkTarget, TheSubstituteNameIsFoundByItsOffsetWhereverItIs) {
  // The print name first, then the substitute name.
  ReparseData data{.tag = tag_mount_point, .substitute = u"", .print = u"E:\\shown\\\\??\\E:\\real"};
  data.substitute_offset = 2 * 9;
  data.substitute_length = 2 * 11;
  FakeFullPath fake;
  fake.answer = u"E:\\real";
  EXPECT_EQ(wp::link_target(data.bytes(), fake.query()), platform::Result<std::u16string>(u"E:\\real"));
}

TEST(WindowsLinkTarget, OtherReparsePointsAndDataTooShortForItsFieldsAreRefused) {
  const auto malformed = std::unexpected(
      platform::PlatformError::message(platform::ErrorKind::InvalidData, "malformed reparse point data"));
  const auto unsupported = std::unexpected(
      platform::PlatformError::message(platform::ErrorKind::Unsupported, "Unsupported reparse point type"));
  const ReparseData link{.substitute = u"\\??\\C:\\x"};
  const std::vector<std::byte> whole = link.bytes();
  ReparseData odd_offset = link;
  odd_offset.substitute_offset = 1;
  ReparseData odd_length = link;
  odd_length.substitute_length = 3;
  ReparseData past_the_names = link;
  past_the_names.substitute_length = 2 * 9;
  ReparseData declared_short = link;  // the header's data length ends before the name does
  declared_short.data_length = 12 + 2 * 7;
  ReparseData no_flags = link;  // a symbolic link needs 12 bytes of fields
  no_flags.data_length = 8;
  ReparseData junction_no_fields{.tag = tag_mount_point, .substitute = u"\\??\\C:\\x"};
  junction_no_fields.data_length = 7;
  const std::pair<std::string, std::vector<std::byte>> malformed_cases[] = {
      {"no bytes", {}},
      {"a header cut short", std::vector<std::byte>(whole.begin(), whole.begin() + 7)},
      {"fields cut short by the bytes returned", std::vector<std::byte>(whole.begin(), whole.begin() + 19)},
      {"a name cut short by the bytes returned", std::vector<std::byte>(whole.begin(), whole.end() - 1)},
      {"an odd name offset", odd_offset.bytes()},
      {"an odd name length", odd_length.bytes()},
      {"a name beyond the data", past_the_names.bytes()},
      {"a name beyond the declared data length", declared_short.bytes()},
      {"a symbolic link without its flags", no_flags.bytes()},
      {"a junction without its name fields", junction_no_fields.bytes()},
  };
  for (const auto& [what, bytes] : malformed_cases) {
    SCOPED_TRACE(what);
    FakeFullPath fake;
    EXPECT_EQ(wp::link_target(bytes, fake.query()), platform::Result<std::u16string>(malformed));
    EXPECT_TRUE(fake.asked.empty());
  }
  for (const std::uint32_t tag : {0x80000017u, 0x9000001Au, 0xA000001Du, 0u}) {
    SCOPED_TRACE(tag);
    ReparseData other = link;
    other.tag = tag;
    FakeFullPath fake;
    EXPECT_EQ(wp::link_target(other.bytes(), fake.query()), platform::Result<std::u16string>(unsupported));
  }
}

}  // namespace
