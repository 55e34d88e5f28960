// Program resolution and command lines against fake system answers.
#include "process/command_line.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cwchar>
#include <set>

#include "platform/text.hpp"
#include "process/interrupt_window.hpp"

namespace {

using platform::ErrorKind;
using platform::PlatformError;
using ProgramQueries = process::ProgramQueries<char16_t>;
using FullPathQuery = platform::windows_rules::FullPathQuery<char16_t>;

std::string utf8(const std::u16string& text) { return platform::from_utf16(text); }
std::u16string utf16(std::string_view text) { return platform::to_utf16_unchecked(text); }
std::optional<std::u16string> wide(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  return utf16(*text);
}

char16_t lower(char16_t c) { return (c >= u'A' && c <= u'Z') ? c - u'A' + u'a' : c; }
std::u16string lowered(std::u16string_view text) {
  std::u16string out(text);
  std::transform(out.begin(), out.end(), out.begin(), lower);
  return out;
}

// GetFullPathNameW as far as these tests need it: slashes become backslashes, a relative path
// is taken from the current folder, a root from its drive, and trailing dots and spaces of the
// last component are dropped.
platform::Result<std::u16string> fake_full_path(std::u16string_view path, std::u16string_view cwd) {
  if (path.find(u'|') != std::u16string_view::npos) return std::unexpected(PlatformError::os(123));
  std::u16string out(path);
  std::replace(out.begin(), out.end(), u'/', u'\\');
  const bool drive = out.size() >= 2 && out[1] == u':';
  if (out.starts_with(u"\\\\")) {
  } else if (drive && out.size() >= 3 && out[2] == u'\\') {
  } else if (out.starts_with(u"\\")) {
    out = std::u16string(cwd.substr(0, 2)) + out;
  } else if (!drive) {
    out = std::u16string(cwd) + u"\\" + out;
  }
  while (!out.empty() && (out.back() == u'.' || out.back() == u' ')) out.pop_back();
  return out;
}

// The process layer is compiled for char16_t and, inside the Windows backend, for wchar_t. Where
// wchar_t holds UTF-16 units, each answer checked below is asked of the wchar_t instantiation too,
// which must give the same (and, searching for a program, ask the same of the system).
#if WCHAR_MAX <= 0xFFFF
#define ZARVO_WCHAR_IS_UTF16 1

std::wstring to_wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }
std::u16string from_wide(std::wstring_view text) { return std::u16string(text.begin(), text.end()); }

platform::Result<std::u16string> from_wide_result(const platform::Result<std::wstring>& result) {
  if (!result) return std::unexpected(result.error());
  return from_wide(*result);
}

platform::windows_rules::FullPathQuery<wchar_t> wide_query(FullPathQuery query) {
  return [query = std::move(query)](std::wstring_view path) -> platform::Result<std::wstring> {
    auto full = query(from_wide(path));
    if (!full) return std::unexpected(full.error());
    return to_wide(*full);
  };
}
#endif

// A Windows machine: a set of existing entries (names compared without case, as NTFS does) and
// the folders the queries report. Every existence test is logged in order.
struct FakeWindows {
  std::set<std::u16string> entries;
  std::optional<std::string> executable = R"(C:\Users\Ann\Downloads\zarvo-setup.exe)";
  std::optional<std::string> system = R"(C:\Windows\system32)";
  std::optional<std::string> windows = R"(C:\Windows)";
  std::optional<std::string> path;
  std::u16string cwd = uR"(C:\Work)";
  std::vector<std::string> asked;

  void add(std::string_view entry) { entries.insert(lowered(utf16(entry))); }

  // The same machine in units of type Unit; existence tests are logged in `log`.
  template <typename Unit>
  process::ProgramQueries<Unit> queries_in(std::vector<std::string>& log) {
    using String = std::basic_string<Unit>;
    const auto units = [](const std::optional<std::string>& text) -> std::optional<String> {
      const auto converted = wide(text);
      if (!converted) return std::nullopt;
      return String(converted->begin(), converted->end());
    };
    return process::ProgramQueries<Unit>{
        .exists =
            [this, &log](std::basic_string_view<Unit> name) {
              const std::u16string units16(name.begin(), name.end());
              log.push_back(utf8(units16));
              return entries.contains(lowered(units16));
            },
        .executable_path = [this, units] { return units(executable); },
        .system_directory = [this, units] { return units(system); },
        .windows_directory = [this, units] { return units(windows); },
        .path_variable = [this, units] { return units(path); },
        .full_path = [this](std::basic_string_view<Unit> p) -> platform::Result<String> {
          const auto full = fake_full_path(std::u16string(p.begin(), p.end()), cwd);
          if (!full) return std::unexpected(full.error());
          return String(full->begin(), full->end());
        },
    };
  }

  ProgramQueries queries() { return queries_in<char16_t>(asked); }

  platform::Result<std::string> resolve(std::string_view program, std::string_view system_fallback = {}) {
    [[maybe_unused]] const std::size_t asked_before = asked.size();
    auto resolved = process::resolve_program(program, queries(), system_fallback);
    const platform::Result<std::string> answer =
        resolved ? platform::Result<std::string>(utf8(*resolved)) : std::unexpected(resolved.error());
#ifdef ZARVO_WCHAR_IS_UTF16
    std::vector<std::string> wide_asked;
    const auto wide_resolved = process::resolve_program(program, queries_in<wchar_t>(wide_asked), system_fallback);
    EXPECT_EQ(wide_resolved ? platform::Result<std::string>(utf8(from_wide(*wide_resolved)))
                            : std::unexpected(wide_resolved.error()),
              answer)
        << "wchar_t";
    EXPECT_EQ(wide_asked, std::vector<std::string>(asked.begin() + static_cast<std::ptrdiff_t>(asked_before), asked.end()))
        << "wchar_t";
#endif
    return answer;
  }
};

const PlatformError kNotFound = PlatformError::message(ErrorKind::NotFound, "program not found");
const PlatformError kNoFileName = PlatformError::message(ErrorKind::InvalidInput, "program path has no file name");

TEST(ResolveProgram, SearchesThePlacesInOrderAndStopsAtTheFirstHit) {
  struct Case {
    const char* holder;  // the one folder that holds powershell.exe
    std::vector<std::string> asked;
  };
  const std::vector<Case> cases = {
      {R"(C:\Users\Ann\Downloads)", {R"(C:\Users\Ann\Downloads\powershell.exe)"}},
      {R"(C:\Windows\system32)", {R"(C:\Users\Ann\Downloads\powershell.exe)", R"(C:\Windows\system32\powershell.exe)"}},
      {R"(C:\Windows)",
       {R"(C:\Users\Ann\Downloads\powershell.exe)", R"(C:\Windows\system32\powershell.exe)",
        R"(C:\Windows\powershell.exe)"}},
      {R"(C:\PS)",
       {R"(C:\Users\Ann\Downloads\powershell.exe)", R"(C:\Windows\system32\powershell.exe)",
        R"(C:\Windows\powershell.exe)", R"(C:\Tools\powershell.exe)", R"(C:\PS\powershell.exe)"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.holder);
    FakeWindows fake;
    fake.path = R"(C:\Tools;C:\PS\;C:\Later)";
    fake.add(std::string(c.holder) + R"(\powershell.exe)");
    fake.add(R"(C:\Later\powershell.exe)");
    EXPECT_EQ(fake.resolve("powershell"), c.asked.back());
    EXPECT_EQ(fake.asked, c.asked);
  }
}

// A program the system keeps below its own folder is looked for there, last, when asked for; the
// search places keep their order.
TEST(ResolveProgram, LooksBelowTheSystemFolderLastForTheProgramThatAsksForIt) {
  const char* const below = R"(WindowsPowerShell\v1.0\powershell.exe)";
  const std::string system_ps = R"(C:\Windows\system32\WindowsPowerShell\v1.0\powershell.exe)";
  const std::string on_path = R"(C:\PS\powershell.exe)";
  const struct {
    const char* fallback;
    bool system_known;
    std::vector<std::string> existing;
    platform::Result<std::string> expected;
  } cases[] = {
      {below, true, {system_ps}, system_ps},
      {below, true, {system_ps, on_path}, on_path},
      {below, false, {system_ps}, std::unexpected(kNotFound)},
      {"", true, {system_ps}, std::unexpected(kNotFound)},
  };
  for (const auto& c : cases) {
    FakeWindows fake;
    fake.path = R"(C:\PS)";
    if (!c.system_known) fake.system.reset();
    for (const auto& entry : c.existing) fake.add(entry);
    EXPECT_EQ(fake.resolve("powershell", c.fallback), c.expected) << c.fallback << c.system_known;
  }
}

TEST(OwnFolder, IsTheProgramsFolderAsACurrentDirectoryCanBeGiven) {
  const std::string longest = "C:\\" + std::string(255, 'a');  // 258 units, a separator added, a terminator
  const struct {
    std::string application;
    std::optional<std::string> folder;
  } cases[] = {
      {R"(C:\Users\Ann\AppData\Local\Programs\zarvo\bin\zarvo-hud.exe)",
       R"(C:\Users\Ann\AppData\Local\Programs\zarvo\bin)"},
      {R"(C:\hud.exe)", R"(C:\)"},
      {R"(\\server\share\bin\hud.exe)", R"(\\server\share\bin)"},
      {longest + R"(\hud.exe)", longest},
      {longest + R"(b\hud.exe)", std::nullopt},
      {R"(\\?\C:\Apps\bin\hud.exe)", std::nullopt},
      {R"(bin\hud.exe)", std::nullopt},
  };
  for (const auto& c : cases) {
    const auto folder = process::own_folder<char16_t>(utf16(c.application));
    EXPECT_EQ(folder ? std::optional<std::string>(utf8(*folder)) : std::nullopt, c.folder) << c.application;
  }
}

TEST(ResolveProgram, SkipsPlacesWhoseQueryFails) {
  FakeWindows fake;
  fake.executable.reset();
  fake.windows.reset();
  fake.path = R"(C:\Tools)";
  fake.add(R"(C:\Tools\powershell.exe)");
  EXPECT_EQ(fake.resolve("powershell"), R"(C:\Tools\powershell.exe)");
  EXPECT_EQ(fake.asked, (std::vector<std::string>{R"(C:\Windows\system32\powershell.exe)", R"(C:\Tools\powershell.exe)"}));
}

TEST(ResolveProgram, ReportsProgramNotFoundWhenNoPlaceHoldsIt) {
  FakeWindows fake;  // PATH unset
  fake.add(R"(C:\Work\powershell.exe)");  // the current folder is not a search place
  fake.add(R"(C:\Windows\System\powershell.exe)");
  EXPECT_EQ(fake.resolve("powershell"), std::unexpected(kNotFound));
  EXPECT_EQ(fake.asked.size(), 3u);
  EXPECT_EQ(platform::error_text(kNotFound), "program not found");

  fake.path = R"(;;C:\Empty;)";
  fake.asked.clear();
  EXPECT_EQ(fake.resolve("powershell"), std::unexpected(kNotFound));
  EXPECT_EQ(fake.asked.back(), R"(C:\Empty\powershell.exe)");
  EXPECT_EQ(fake.asked.size(), 4u);
}

TEST(ResolveProgram, AddsExeOnlyToBareNamesWithoutADot) {
  FakeWindows fake;
  fake.add(R"(C:\Windows\tool-1.2)");
  fake.add(R"(C:\Windows\tool-1.2.exe)");
  EXPECT_EQ(fake.resolve("tool-1.2"), R"(C:\Windows\tool-1.2)");
  EXPECT_EQ(fake.asked.back(), R"(C:\Windows\tool-1.2)");
}

TEST(ResolveProgram, AnyKindOfEntryWinsTheSearch) {
  // A folder named powershell.exe beside the setup shadows the real one; CreateProcessW fails later.
  FakeWindows fake;
  fake.add(R"(C:\Users\Ann\Downloads\powershell.exe)");
  fake.add(R"(C:\Windows\system32\powershell.exe)");
  EXPECT_EQ(fake.resolve("powershell"), R"(C:\Users\Ann\Downloads\powershell.exe)");
}

TEST(ResolveProgram, TakesRelativePathEntriesFromTheCurrentFolder) {
  FakeWindows fake;
  fake.path = R"(tools;"C:\Program Files\A;B")";
  fake.add(R"(C:\Program Files\A;B\powershell.exe)");
  EXPECT_EQ(fake.resolve("powershell"), R"(C:\Program Files\A;B\powershell.exe)");
  EXPECT_EQ(fake.asked[3], R"(C:\Work\tools\powershell.exe)");
}

TEST(ResolveProgram, UsesAPathDirectlyOrWithExeAppended) {
  struct Case {
    const char* program;
    const char* existing;  // may be empty
    const char* expected;
    std::size_t existence_tests;
  };
  const Case cases[] = {
      {R"(C:\Apps\Hud.EXE)", "", R"(C:\Apps\Hud.EXE)", 0},  // no existence test at all
      {R"(C:\Apps\hud)", R"(C:\Apps\hud.exe)", R"(C:\Apps\hud.exe)", 1},
      {R"(C:\Apps\hud)", "", R"(C:\Apps\hud)", 1},
      {"C:/Apps/hud", "C:/Apps/hud.exe", "C:/Apps/hud.exe", 1},  // a short rooted path stays as written
      {R"(bin\hud.exe)", "", R"(C:\Work\bin\hud.exe)", 0},       // made absolute
      {R"(Programs\zarvo\bin\zarvo-hud.exe)", "", R"(C:\Work\Programs\zarvo\bin\zarvo-hud.exe)", 0},
      {R"(\\?\C:\Apps\x/)", "", R"(\\?\C:\Apps\x/)", 1},  // verbatim: a final `/` is no separator
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.program);
    FakeWindows fake;
    if (*c.existing) fake.add(c.existing);
    EXPECT_EQ(fake.resolve(c.program), c.expected);
    EXPECT_EQ(fake.asked.size(), c.existence_tests);
  }
}

TEST(ResolveProgram, RefusesBadProgramTexts) {
  FakeWindows fake;
  fake.add(R"(C:\Windows\power)");
  const std::string nul_bare("power\0shell", 11);
  const std::string nul_path("C:\\a\0b.exe", 10);
  const struct {
    std::string program;
    PlatformError error;
  } cases[] = {
      {"", kNoFileName},
      {R"(C:\Apps\)", kNoFileName},
      {"Apps/", kNoFileName},
      {R"(\\?\C:\Apps\)", kNoFileName},
      {nul_bare, PlatformError::message(ErrorKind::InvalidInput, "nul byte found in provided data")},
      {nul_path, PlatformError::message(ErrorKind::InvalidInput, "strings passed to WinAPI cannot contain NULs")},
      {std::string("C:\\a\0b", 6),
       PlatformError::message(ErrorKind::InvalidInput, "strings passed to WinAPI cannot contain NULs")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.program);
    const auto resolved = fake.resolve(c.program);
    ASSERT_FALSE(resolved);
    EXPECT_EQ(resolved.error(), c.error);
    EXPECT_EQ(platform::error_text(resolved.error()), platform::error_text(c.error));
  }
  EXPECT_TRUE(fake.asked.empty());
}

TEST(SplitPathVariable, SplitsAtSemicolonsOutsideQuotesAndSkipsEmptyEntries) {
  const struct {
    const char* value;
    std::vector<std::string> entries;
  } cases[] = {
      {R"(C:\a;C:\b)", {R"(C:\a)", R"(C:\b)"}},
      {R"(C:\a;;C:\b;)", {R"(C:\a)", R"(C:\b)"}},
      {R"(;C:\a)", {R"(C:\a)"}},
      {R"(C:\a;"C:\semi;colon";C:\c)", {R"(C:\a)", R"(C:\semi;colon)", R"(C:\c)"}},
      {R"("C:\Program Files"\bin)", {R"(C:\Program Files\bin)"}},
      {R"(C:\x"y;z"w)", {R"(C:\xy;zw)"}},
      {R"("";"")", {}},
      {R"("C:\open;C:\never closed)", {R"(C:\open;C:\never closed)"}},
      {"", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    std::vector<std::string> entries;
    for (const auto& entry : process::split_path_variable<char16_t>(utf16(c.value))) entries.push_back(utf8(entry));
    EXPECT_EQ(entries, c.entries);
#ifdef ZARVO_WCHAR_IS_UTF16
    std::vector<std::string> wide_entries;
    for (const auto& entry : process::split_path_variable<wchar_t>(to_wide(utf16(c.value)))) {
      wide_entries.push_back(utf8(from_wide(entry)));
    }
    EXPECT_EQ(wide_entries, c.entries) << "wchar_t";
#endif
  }
}

TEST(ApplicationNameForm, KeepsShortRootedAndVerbatimPathsAndMakesTheRestAbsolute) {
  const std::u16string cwd = uR"(C:\Work)";
  int calls = 0;
  const FullPathQuery full_path = [&](std::u16string_view p) {
    ++calls;
    return fake_full_path(p, cwd);
  };
  const std::u16string d246 = u"C:\\" + std::u16string(243, u'd');  // 246 units, 247 with NUL
  const std::u16string d247 = d246 + u'e';
  const std::u16string d259 = u"C:\\" + std::u16string(256, u'd');  // 260 with NUL: still processed
  const std::u16string d260 = d259 + u'e';
  const std::u16string unc250 = u"\\\\srv\\share\\" + std::u16string(238, u'u');
  const std::u16string rel = std::u16string(239, u'r');  // absolute: 247 units, 248 with NUL

  const struct {
    std::u16string path;
    std::u16string expected;
    int full_path_calls;
  } cases[] = {
      {uR"(C:\Apps\hud.exe)", uR"(C:\Apps\hud.exe)", 0},
      {u"C:", u"C:", 0},
      {u"C:/Apps/hud.exe", u"C:/Apps/hud.exe", 0},
      {uR"(\\srv\share\hud.exe)", uR"(\\srv\share\hud.exe)", 0},
      {u"//srv/share/hud.exe", u"//srv/share/hud.exe", 0},
      {u"", u"", 0},
      {uR"(\??\C:\Apps\hud.exe)", uR"(\??\C:\Apps\hud.exe)", 0},
      {uR"(\\?\GLOBALROOT\Device\x.exe)", uR"(\\?\GLOBALROOT\Device\x.exe)", 0},
      {uR"(\\?\C:\Apps\hud.exe)", uR"(C:\Apps\hud.exe)", 1},
      {uR"(\\?\C:\Apps\hud.exe.)", uR"(\\?\C:\Apps\hud.exe.)", 1},  // not the same once normalised
      {uR"(\\?\UNC\srv\share\hud.exe)", uR"(\\srv\share\hud.exe)", 1},
      {uR"(\\?\C:)", uR"(\\?\C:)", 0},
      {uR"(bin\hud.exe)", uR"(C:\Work\bin\hud.exe)", 1},
      {uR"(\Apps\hud.exe)", uR"(C:\Apps\hud.exe)", 1},
      {d246, d246, 0},
      {d247, uR"(\\?\)" + d247, 1},
      {d259, uR"(\\?\)" + d259, 1},
      {d260, d260, 0},
      {unc250, uR"(\\?\UNC\)" + unc250.substr(2), 1},
      {rel, uR"(\\?\C:\Work\)" + rel, 1},
      {rel.substr(1), uR"(C:\Work\)" + rel.substr(1), 1},  // 247 with NUL: no prefix
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(utf8(c.path));
    calls = 0;
    EXPECT_EQ(process::application_name_form<char16_t>(c.path, full_path), c.expected);
    EXPECT_EQ(calls, c.full_path_calls);
#ifdef ZARVO_WCHAR_IS_UTF16
    calls = 0;
    EXPECT_EQ(from_wide_result(process::application_name_form<wchar_t>(to_wide(c.path), wide_query(full_path))),
              c.expected)
        << "wchar_t";
    EXPECT_EQ(calls, c.full_path_calls) << "wchar_t";
#endif
  }

  EXPECT_EQ(process::application_name_form<char16_t>(uR"(bad|name.exe)", full_path), std::unexpected(PlatformError::os(123)));
  EXPECT_EQ(process::application_name_form<char16_t>(std::u16string(u"C:\\a\0b", 6), full_path),
            std::unexpected(PlatformError::message(ErrorKind::InvalidInput,
                                                   "strings passed to WinAPI cannot contain NULs")));
#ifdef ZARVO_WCHAR_IS_UTF16
  EXPECT_EQ(process::application_name_form<wchar_t>(LR"(bad|name.exe)", wide_query(full_path)),
            std::unexpected(PlatformError::os(123)));
  EXPECT_EQ(process::application_name_form<wchar_t>(std::wstring(L"C:\\a\0b", 6), wide_query(full_path)),
            std::unexpected(PlatformError::message(ErrorKind::InvalidInput,
                                                   "strings passed to WinAPI cannot contain NULs")));
#endif
}

TEST(RefuseBatchScript, RefusesBatAndCmdOnceMadeAbsolute) {
  const FullPathQuery full_path = [](std::u16string_view p) {
    return fake_full_path(p, u"C:\\Work");
  };
  const PlatformError refused = PlatformError::message(ErrorKind::InvalidInput, "batch scripts are not supported");
  const struct {
    std::u16string name;
    bool refused;
  } cases[] = {
      {uR"(C:\x\run.bat)", true},     {uR"(C:\x\RUN.Cmd)", true},      {uR"(C:\x\run.cmd. .)", true},
      {uR"(run.bat)", true},          {uR"(C:\x\run.exe)", false},     {uR"(C:\x\run.batch)", false},
      {uR"(\\?\C:\x\run.bat.)", false},  // a verbatim path is tested as it is
      {uR"(\??\C:\x\run.BAT)", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(utf8(c.name));
    const auto result = process::refuse_batch_script<char16_t>(c.name, full_path);
    if (c.refused) {
      EXPECT_EQ(result, std::unexpected(refused));
    } else {
      EXPECT_TRUE(result);
    }
#ifdef ZARVO_WCHAR_IS_UTF16
    EXPECT_EQ(process::refuse_batch_script<wchar_t>(to_wide(c.name), wide_query(full_path)), result) << "wchar_t";
#endif
  }
  EXPECT_EQ(process::refuse_batch_script<char16_t>(u"a|b.bat", full_path), std::unexpected(PlatformError::os(123)));
#ifdef ZARVO_WCHAR_IS_UTF16
  EXPECT_EQ(process::refuse_batch_script<wchar_t>(L"a|b.bat", wide_query(full_path)), std::unexpected(PlatformError::os(123)));
#endif
}

// The line as UTF-8, or the error's text.
std::string line_text(std::string_view program, const std::vector<std::string>& arguments) {
  const auto line = process::build_command_line<char16_t>(program, arguments);
  const std::string text = line ? utf8(*line) : "error: " + platform::error_text(line.error());
#ifdef ZARVO_WCHAR_IS_UTF16
  const auto wide_line = process::build_command_line<wchar_t>(program, arguments);
  EXPECT_EQ(wide_line ? utf8(from_wide(*wide_line)) : "error: " + platform::error_text(wide_line.error()), text)
      << "wchar_t";
#endif
  return text;
}

TEST(BuildCommandLine, QuotesAndEscapesEveryArgument) {
  const struct {
    std::string argument;
    std::string encoded;
  } cases[] = {
      {"", R"("")"},
      {"plain", "plain"},
      {"two words", R"("two words")"},
      {"tab\there", "\"tab\there\""},
      {"line\nbreak", "line\nbreak"},  // a newline does not cause wrapping
      {R"(C:\Users\Ann Lee\AppData\Local\Temp\zarvo-setup-42\install.ps1)",
       R"("C:\Users\Ann Lee\AppData\Local\Temp\zarvo-setup-42\install.ps1")"},
      {R"(C:\Program Files\)", R"("C:\Program Files\\")"},
      {R"(C:\Program Files\\)", R"("C:\Program Files\\\\")"},
      {R"(C:\dir\)", R"(C:\dir\)"},
      {R"(say "hi" now)", R"("say \"hi\" now")"},
      {R"(a"b)", R"(a\"b)"},
      {R"(a\"b)", R"(a\\\"b)"},
      {R"(a\\"b)", R"(a\\\\\"b)"},
      {R"(a\b\\c)", R"(a\b\\c)"},
      {R"(")", R"(\")"},
      {R"(x \")", R"("x \\\"")"},
      {R"(\\srv\share dir\)", R"("\\srv\share dir\\")"},
      {"Zoë – 日本 😀", "\"Zoë – 日本 😀\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.argument);
    EXPECT_EQ(line_text("prog", {c.argument}), "\"prog\" " + c.encoded);
  }
}

TEST(BuildCommandLine, WritesTheProgramTextQuotedAndUnescaped) {
  const std::vector<std::string> installer = {"-NoProfile", "-ExecutionPolicy", "Bypass", "-File",
                                              R"(C:\Temp\zarvo-setup-7\install.ps1)"};
  EXPECT_EQ(line_text("powershell", installer),
            R"("powershell" -NoProfile -ExecutionPolicy Bypass -File C:\Temp\zarvo-setup-7\install.ps1)");

  const std::vector<std::string> home = {"--open", "Home"};
  EXPECT_EQ(line_text(R"(C:\Users\Ann Lee\AppData\Local\Programs\zarvo\bin\zarvo-hud.exe)", home),
            R"("C:\Users\Ann Lee\AppData\Local\Programs\zarvo\bin\zarvo-hud.exe" --open Home)");

  EXPECT_EQ(line_text(R"(odd"name\)", {}), R"("odd"name\")");
}

TEST(BuildCommandLine, RefusesANulInAnyArgumentOrTheProgram) {
  const auto nul_in_data = std::unexpected(PlatformError::message(ErrorKind::InvalidInput, "nul byte found in provided data"));
  const std::vector<std::string> arguments = {"fine", std::string("bad\0arg", 7)};
  EXPECT_EQ(process::build_command_line<char16_t>("prog", arguments), nul_in_data);
  EXPECT_EQ(process::build_command_line<char16_t>(std::string("pro\0g", 5), {}), nul_in_data);
#ifdef ZARVO_WCHAR_IS_UTF16
  EXPECT_EQ(process::build_command_line<wchar_t>("prog", arguments), nul_in_data);
  EXPECT_EQ(process::build_command_line<wchar_t>(std::string("pro\0g", 5), {}), nul_in_data);
#endif
  // A program given as a path is handed to the system as such.
  for (const std::string& program : {std::string("C:\\a\0b.exe", 10), std::string("a/b\0", 4)}) {
    SCOPED_TRACE(::testing::PrintToString(program));
    EXPECT_EQ(process::build_command_line<char16_t>(program, {}),
              std::unexpected(PlatformError::message(ErrorKind::InvalidInput, "strings passed to WinAPI cannot contain NULs")));
#ifdef ZARVO_WCHAR_IS_UTF16
    EXPECT_EQ(process::build_command_line<wchar_t>(program, {}),
              std::unexpected(PlatformError::message(ErrorKind::InvalidInput, "strings passed to WinAPI cannot contain NULs")));
#endif
  }
}

// The POSIX rules: the setup's folder, then PATH split at ':'.
struct FakePosix {
  std::set<std::string> entries;
  std::optional<std::string> executable = "/opt/setup/zarvo-setup";
  std::optional<std::string> path;
  std::vector<std::string> asked;

  process::PosixProgramQueries queries() {
    return process::PosixProgramQueries{
        .exists =
            [this](std::string_view p) {
              asked.emplace_back(p);
              return entries.contains(std::string(p));
            },
        .executable_path = [this] { return executable; },
        .path_variable = [this] { return path; },
    };
  }
  platform::Result<std::string> resolve(std::string_view program) {
    return process::resolve_program_posix(program, queries());
  }
};

TEST(ResolveProgramPosix, SearchesTheOwnFolderThenPath) {
  FakePosix fake;
  fake.path = "/usr/local/bin::/usr/bin/:";
  fake.entries = {"/usr/bin/powershell.exe", "/usr/bin/powershell"};
  EXPECT_EQ(fake.resolve("powershell"), "/usr/bin/powershell.exe");
  EXPECT_EQ(fake.asked, (std::vector<std::string>{"/opt/setup/powershell.exe", "/usr/local/bin/powershell.exe",
                                                  "/usr/bin/powershell.exe"}));

  fake.entries.insert("/opt/setup/powershell.exe");
  EXPECT_EQ(fake.resolve("powershell"), "/opt/setup/powershell.exe");

  fake.executable = "/zarvo-setup";
  fake.entries = {"/powershell.exe"};
  EXPECT_EQ(fake.resolve("powershell"), "/powershell.exe");

  fake.executable.reset();
  fake.path.reset();
  fake.asked.clear();
  EXPECT_EQ(fake.resolve("powershell"), std::unexpected(kNotFound));
  EXPECT_TRUE(fake.asked.empty());
}

TEST(ResolveProgramPosix, FollowsTheSameNameRules) {
  FakePosix fake;
  fake.path = "/bin";
  fake.entries = {"/opt/hud.exe", "/bin/tool-1.2"};
  EXPECT_EQ(fake.resolve("tool-1.2"), "/bin/tool-1.2");
  EXPECT_EQ(fake.resolve("/opt/hud"), "/opt/hud.exe");
  EXPECT_EQ(fake.resolve("/opt/other"), "/opt/other");
  EXPECT_EQ(fake.resolve("rel/Hud.EXE"), "rel/Hud.EXE");
  EXPECT_EQ(fake.resolve("back\\slash"), std::unexpected(kNotFound));  // a backslash is a name character
  EXPECT_EQ(fake.resolve(""), std::unexpected(kNoFileName));
  EXPECT_EQ(fake.resolve("/opt/"), std::unexpected(kNoFileName));
  EXPECT_EQ(fake.resolve(std::string("a\0b", 3)),
            std::unexpected(PlatformError::message(ErrorKind::InvalidInput, "nul byte found in provided data")));
}

// Ctrl+C and Ctrl+Break are the child's from the wait until a moment after it; other console
// events (closing the window, logging off, shutting down) never are.
TEST(InterruptWindow, InterruptsAreTheChildsFromTheWaitUntilAMomentAfterIt) {
  process::InterruptWindow window;
  EXPECT_FALSE(window.leaves_to_child(true, 5'000));
  window.open();
  EXPECT_TRUE(window.leaves_to_child(true, 5'000));
  EXPECT_FALSE(window.leaves_to_child(false, 5'000));
  window.close(9'000);
  EXPECT_TRUE(window.leaves_to_child(true, 9'000 + process::InterruptWindow::grace_ms - 1));
  EXPECT_FALSE(window.leaves_to_child(true, 9'000 + process::InterruptWindow::grace_ms));
}

}  // namespace
