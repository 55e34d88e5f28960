// The Windows path rules: joining, parents and the native form (with a fake GetFullPathNameW).
#include "platform/windows_rules.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

namespace wp = platform::windows_rules;

struct JoinCase {
  std::string_view base;
  std::string_view more;
  std::string_view joined;
};

TEST(WindowsJoinPath, InsertsOneBackslashUnlessTheBaseEndsInASeparatorIsEmptyOrABareDrive) {
  const JoinCase cases[] = {
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
  for (const JoinCase& c : cases) {
    SCOPED_TRACE(std::string(c.base) + " + " + std::string(c.more));
    EXPECT_EQ(wp::join_path(c.base, c.more), c.joined);
  }
}

TEST(WindowsJoinPath, APathWithAPrefixReplacesTheBaseAndARootKeepsOnlyTheBasePrefix) {
  const JoinCase cases[] = {
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
  for (const JoinCase& c : cases) {
    SCOPED_TRACE(std::string(c.base) + " + " + std::string(c.more));
    EXPECT_EQ(wp::join_path(c.base, c.more), c.joined);
  }
}

TEST(WindowsJoinPath, OntoAVerbatimBaseDotsAreResolvedAndSeparatorsBecomeSingleBackslashes) {
  const JoinCase cases[] = {
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
  for (const JoinCase& c : cases) {
    SCOPED_TRACE(std::string(c.base) + " + " + std::string(c.more));
    EXPECT_EQ(wp::join_path(c.base, c.more), c.joined);
  }
}

TEST(WindowsParentPath, DropsTheLastComponentAndHasNoneForRootsPrefixesAndEmpty) {
  const std::pair<std::string_view, std::optional<std::string_view>> cases[] = {
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
  };
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

TEST(WindowsLiesBelow, ComponentByComponentWithOrdinaryNamesOnly) {
  const std::string temp = R"(\\?\C:\Users\Zoë\AppData\Local\Temp\zarvo-setup-42)";
  const std::string sub = temp + R"(\bin\zarvo.exe)";
  const BelowCase cases[] = {
      {temp, sub, true},
      {temp, temp + R"(\x)", true},
      {temp + "\\", temp + R"(\x)", true},
      {temp, temp + R"(\...\x.)", true},  // verbatim: taken as they stand
      {temp, temp + R"(\CON)", true},
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
      // Outside a verbatim path the system rewrites device names and trailing dots and spaces.
      {R"(C:\Temp\w)", R"(C:\Temp\w\a\b)", true},
      {R"(C:\Temp\w)", R"(C:/Temp/w/a)", true},
      {R"(C:\Temp\w)", R"(C:\Temp\w\.\a)", true},
      {R"(C:\Temp\w)", R"(C:\Temp\w\..\a)", false},
      {R"(C:\Temp\w)", R"(C:\Temp\w\CON)", false},
      {R"(C:\Temp\w)", R"(C:\Temp\w\a\nul.txt)", false},
      {R"(C:\Temp\w)", R"(C:\Temp\w\com7)", false},
      {R"(C:\Temp\w)", R"(C:\Temp\w\com0)", false},
      {R"(C:\Temp\w)", "C:\\Temp\\w\\LPT\xC2\xB3.log", false},
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
  for (const BelowCase& c : cases) {
    SCOPED_TRACE(c.path + " below " + c.base);
    EXPECT_EQ(wp::lies_below(c.base, c.path), c.below);
  }
}

TEST(WindowsNativeForm, ShortAbsoluteVerbatimAndEmptyPathsPassUnchangedWithoutAQuery) {
  const std::u16string long_tail(300, u'a');
  const std::u16string cases[] = {
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
  for (const std::u16string& path : cases) {
    SCOPED_TRACE(::testing::PrintToString(path));
    FakeFullPath fake;
    const auto native = wp::native_form<char16_t>(path, fake.query());
    ASSERT_TRUE(native.has_value());
    EXPECT_EQ(*native, path);
    EXPECT_TRUE(fake.asked.empty());
  }
}

TEST(WindowsNativeForm, LongOrRelativePathsAreMadeAbsoluteAndGivenTheVerbatimPrefix) {
  const std::u16string tail(292, u'a');
  struct Case {
    std::u16string path;
    std::u16string full;
    std::u16string native;
  };
  const Case cases[] = {
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
  for (const Case& c : cases) {
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

}  // namespace
