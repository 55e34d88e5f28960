// Child processes against the real system (Wine on the windows lane), with the stand-in
// powershell.exe of tests/fixtures as the child.
#include "process/child.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "platform/text.hpp"
#include "process/command_line.hpp"
#include "support/stand_in_record.hpp"

#if defined(_WIN32)
#include <windows.h>
#include <shellapi.h>
#else
#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#endif

namespace {

namespace fs = std::filesystem;
using platform::ErrorKind;
using platform::PlatformError;
using process::ChildCommand;
using test_support::read_stand_in_record;

// The stand-in's path as the system under test writes it.
std::string stand_in() {
  std::string path = ZARVO_STAND_IN_POWERSHELL;
#if defined(_WIN32)
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  if (path.starts_with("\\")) path = "Z:" + path;  // Wine maps the Unix root to drive Z:
#endif
  return path;
}

std::string utf8_path(const fs::path& path) {
  const auto text = path.u8string();
  return std::string(text.begin(), text.end());
}

// Sets (or with none, removes) a variable for the rest of the scope.
class ScopedVariable {
 public:
  ScopedVariable(std::string name, std::optional<std::string> value) : name_(std::move(name)) {
    set(value);
  }
  ~ScopedVariable() { set(std::nullopt); }

 private:
  void set(const std::optional<std::string>& value) {
#if defined(_WIN32)
    const auto name = platform::to_utf16_unchecked(name_);
    const auto text = platform::to_utf16_unchecked(value.value_or(""));
    ::SetEnvironmentVariableW(reinterpret_cast<const wchar_t*>(name.c_str()),
                              value ? reinterpret_cast<const wchar_t*>(text.c_str()) : nullptr);
#else
    if (value) {
      ::setenv(name_.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name_.c_str());
    }
#endif
  }
  std::string name_;
};

class ChildTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    folder_ = fs::temp_directory_path() / (std::string("zarvo child ") + info->name() + " é");
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    record_path_ = folder_ / "record.json";
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  ScopedVariable record_here() { return ScopedVariable("ZARVO_PS_RECORD", utf8_path(record_path_)); }

  // Waits for a child that was not waited for to write its record.
  std::optional<test_support::StandInRecord> await_record() {
    for (int i = 0; i < 200; ++i) {
      if (auto record = read_stand_in_record(record_path_)) return record;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return std::nullopt;
  }

  fs::path folder_;
  fs::path record_path_;
};

TEST_F(ChildTest, RunChildGivesTheExitCodeUnchanged) {
  std::vector<std::uint32_t> codes = {0, 1, 7, 255};
#if defined(_WIN32)
  codes.insert(codes.end(), {259, 2147483648u, 4294967295u});  // a POSIX status has only 8 bits
#endif
  for (const auto code : codes) {
    SCOPED_TRACE(code);
    ScopedVariable exit_code("ZARVO_PS_EXIT", std::to_string(code));
    EXPECT_EQ(process::run_child(ChildCommand{stand_in(), {}}), code);
  }
}

#if !defined(_WIN32)
TEST_F(ChildTest, AChildEndedByASignalGives128PlusItsNumber) {
  EXPECT_EQ(process::run_child(ChildCommand{"/bin/sh", {"-c", "kill -TERM $$"}}), 128u + 15u);
}
#endif

TEST_F(ChildTest, MissingProgramsFail) {
  const auto missing = process::run_child(ChildCommand{"zarvo-no-such-program", {"x"}});
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error(), PlatformError::message(ErrorKind::NotFound, "program not found"));
  EXPECT_EQ(platform::error_text(missing.error()), "program not found");

  // A path is not searched: the system itself reports the missing file.
  const auto gone = process::start_child(ChildCommand{utf8_path(folder_ / "gone.exe"), {}});
  ASSERT_FALSE(gone);
  EXPECT_EQ(gone.error(), PlatformError::os(2));
}

TEST_F(ChildTest, AFileThatIsNoProgramFailsWithTheSystemsError) {
  const fs::path text_file = folder_ / "not-a-program.exe";
  std::ofstream(text_file) << "just text\n";
  const auto started = process::start_child(ChildCommand{utf8_path(text_file), {}});
  ASSERT_FALSE(started);
  ASSERT_TRUE(started.error().is_os());
#if defined(_WIN32)
  EXPECT_EQ(started.error().os_code(), 193u);  // ERROR_BAD_EXE_FORMAT
#else
  EXPECT_EQ(started.error().os_code(), static_cast<std::uint32_t>(EACCES));  // not executable
#endif
}

TEST_F(ChildTest, EveryArgumentArrivesExactlyAsGiven) {
  const std::vector<std::string> corpus = {
      "",          " ",         "plain",       "two words",       "tab\there",     "\"",
      "a\"b",      "\"quoted\"", "say \"hi\" now", R"(trailing\)",   R"(trail space\)", R"(two\\)",
      R"(\\)",     R"(in\\ner\run)", R"(a\\"b)",     R"(C:\Program Files\x\)", "new\nline", "Zoë – 日本 😀",
      "-File",     "--",        "%PATH%",      "^&|<>",
  };
  auto record_guard = record_here();
  const std::string program = stand_in();
  ASSERT_EQ(process::run_child(ChildCommand{program, corpus}), 0u);
  const auto record = read_stand_in_record(record_path_);
  ASSERT_TRUE(record);
  std::vector<std::string> expected = {program};
  expected.insert(expected.end(), corpus.begin(), corpus.end());
  EXPECT_EQ(record->argv, expected);
#if defined(_WIN32)
  const auto line = process::build_command_line<char16_t>(program, corpus);
  ASSERT_TRUE(line);
  EXPECT_EQ(record->command_line, platform::from_utf16(*line));  // the child sees our line exactly
#endif
}

#if defined(_WIN32)
// Windows' own parser reads every line back into the arguments it was built from, one
// argument at a time and all together.
TEST(CommandLineRoundTrip, CommandLineToArgvWReadsBackEveryArgument) {
  const std::vector<std::string> corpus = {
      "",           " ",          "a",           "a b",          "\t",            "a\tb",
      "\"",         "\"\"",       "a\"b",        "a \"b\" c",    "\\",            "\\\\",
      "a\\",        "a b\\",      "a b\\\\",     "a\\\\b",       "a\\\"b",        "a\\\\\"b",
      "a\\\\\\\"b", "\\\"",       " \\\" ",      "x\ny",         "\n",            "ünïcödé 日本 😀",
      R"(C:\Users\Ann Lee\AppData\Local\Temp\zarvo-setup-42\install.ps1)",  R"(\\server\share dir\)",
  };
  const auto parse = [](const std::u16string& line) {
    int count = 0;
    LPWSTR* argv = ::CommandLineToArgvW(reinterpret_cast<const wchar_t*>(line.c_str()), &count);
    std::vector<std::string> out;
    for (int i = 0; argv && i < count; ++i) {
      out.push_back(platform::from_utf16(reinterpret_cast<const char16_t*>(argv[i])));
    }
    ::LocalFree(argv);
    return out;
  };
  const std::string program = R"(C:\Program Files\Zarvo\prog.exe)";
  for (const auto& argument : corpus) {
    SCOPED_TRACE(argument);
    const std::vector<std::string> one = {argument};
    const auto line = process::build_command_line<char16_t>(program, one);
    ASSERT_TRUE(line);
    EXPECT_EQ(parse(*line), (std::vector<std::string>{program, argument}));
  }
  const auto line = process::build_command_line<char16_t>(program, corpus);
  ASSERT_TRUE(line);
  std::vector<std::string> expected = {program};
  expected.insert(expected.end(), corpus.begin(), corpus.end());
  EXPECT_EQ(parse(*line), expected);
}
#endif

TEST_F(ChildTest, TheChildReadsOneLineOfTheSetupsStandardInput) {
  auto record_guard = record_here();
  ScopedVariable read_stdin("ZARVO_PS_STDIN", "1");
  const std::string input = "typed line é\nleft for the setup\n";
  std::string rest;
#if defined(_WIN32)
  HANDLE read_end = nullptr, write_end = nullptr;
  ASSERT_TRUE(::CreatePipe(&read_end, &write_end, nullptr, 0));
  DWORD written = 0;
  ASSERT_TRUE(::WriteFile(write_end, input.data(), static_cast<DWORD>(input.size()), &written, nullptr));
  ::CloseHandle(write_end);
  const HANDLE saved = ::GetStdHandle(STD_INPUT_HANDLE);
  ::SetStdHandle(STD_INPUT_HANDLE, read_end);
  const auto code = process::run_child(ChildCommand{stand_in(), {}});
  ::SetStdHandle(STD_INPUT_HANDLE, saved);
  char buffer[256];
  DWORD n = 0;
  while (::ReadFile(read_end, buffer, sizeof buffer, &n, nullptr) && n > 0) rest.append(buffer, n);
  ::CloseHandle(read_end);
#else
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  ASSERT_EQ(::write(ends[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
  ::close(ends[1]);
  const int saved = ::dup(0);
  ::dup2(ends[0], 0);
  const auto code = process::run_child(ChildCommand{stand_in(), {}});
  ::dup2(saved, 0);
  ::close(saved);
  char buffer[256];
  ssize_t n;
  while ((n = ::read(ends[0], buffer, sizeof buffer)) > 0) rest.append(buffer, static_cast<std::size_t>(n));
  ::close(ends[0]);
#endif
  EXPECT_EQ(code, 0u);
  const auto record = read_stand_in_record(record_path_);
  ASSERT_TRUE(record);
  EXPECT_EQ(record->stdin_line, "typed line é");
  EXPECT_EQ(rest, "left for the setup\n");
}

TEST_F(ChildTest, TheChildSharesTheEnvironmentAndCurrentFolder) {
  auto record_guard = record_here();
  ScopedVariable marker("ZARVO_CHILD_MARK", "value with spaces é€");
  ScopedVariable names("ZARVO_PS_ENV", "ZARVO_CHILD_MARK,ZARVO_CHILD_UNSET");
  ASSERT_EQ(process::run_child(ChildCommand{stand_in(), {}}), 0u);
  const auto record = read_stand_in_record(record_path_);
  ASSERT_TRUE(record);
  EXPECT_EQ(record->env, (std::map<std::string, std::optional<std::string>>{
                             {"ZARVO_CHILD_MARK", "value with spaces é€"}, {"ZARVO_CHILD_UNSET", std::nullopt}}));
  EXPECT_EQ(fs::path(std::u8string(record->cwd.begin(), record->cwd.end())), fs::current_path());
}

// The handles (Windows: every value that GetHandleInformation accepts, since Wine's
// GetProcessHandleCount does not count) or descriptors (POSIX) the test process holds.
std::optional<std::set<std::uintptr_t>> open_handles() {
  std::set<std::uintptr_t> open;
#if defined(_WIN32)
  for (std::uintptr_t value = 4; value < 0x4000; value += 4) {
    DWORD flags = 0;
    if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) open.insert(value);
  }
#else
  DIR* dir = ::opendir("/proc/self/fd");
  if (!dir) return std::nullopt;
  while (const dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] != '.') open.insert(std::strtoul(entry->d_name, nullptr, 10));
  }
  ::closedir(dir);
#endif
  return open;
}

TEST_F(ChildTest, NoHandleOfTheChildRemainsOpen) {
  // A first child settles whatever the system opens once per process.
  ASSERT_EQ(process::run_child(ChildCommand{stand_in(), {"warm-up"}}), 0u);
  const auto before = open_handles();
  ASSERT_TRUE(before);
#if defined(_WIN32)
  // Make sure the probe sees a new handle before trusting it.
  HANDLE extra = nullptr;
  ASSERT_TRUE(::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentProcess(), ::GetCurrentProcess(), &extra, 0,
                                FALSE, DUPLICATE_SAME_ACCESS));
  const auto with_extra = open_handles();
  ::CloseHandle(extra);
  ASSERT_TRUE(with_extra && with_extra->contains(reinterpret_cast<std::uintptr_t>(extra)));
#endif
  ASSERT_EQ(process::run_child(ChildCommand{stand_in(), {"waited"}}), 0u);
  EXPECT_EQ(open_handles(), before) << "after run_child";

  ASSERT_FALSE(process::start_child(ChildCommand{utf8_path(folder_ / "gone.exe"), {}}));
  EXPECT_EQ(open_handles(), before) << "after a failed start";

  // Let go of while still running: the child runs on and finishes its work.
  auto record_guard = record_here();
  ScopedVariable sleep("ZARVO_PS_SLEEP_MS", "300");
  {
    auto child = process::start_child(ChildCommand{stand_in(), {"released"}});
    ASSERT_TRUE(child);
  }
  EXPECT_EQ(open_handles(), before) << "after start_child and letting go of the child";
  const auto record = await_record();
  ASSERT_TRUE(record) << "the released child did not run to its end";
  EXPECT_EQ(record->argv.back(), "released");
}

#if !defined(_WIN32)
// Interrupts typed while the setup waits reach it and its child alike: the child answers them
// (here it ends by its SIGINT), the setup waits on, and has its dispositions back afterwards.
TEST_F(ChildTest, InterruptsDuringTheWaitAreTheChildsToAnswer) {
  ScopedVariable interrupt("ZARVO_PS_INTERRUPT", "1");
  EXPECT_EQ(process::run_child(ChildCommand{stand_in(), {}}), 128u + SIGINT);
  for (const int signal : {SIGINT, SIGQUIT}) {
    struct sigaction now = {};
    ::sigaction(signal, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL) << signal;
  }
}
#endif

#if defined(_WIN32)
TEST_F(ChildTest, StartsAChildWhenTheSetupHasNoStandardHandles) {
  auto record_guard = record_here();
  ScopedVariable exit_code("ZARVO_PS_EXIT", "5");
  const DWORD streams[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  HANDLE saved[3];
  for (int i = 0; i < 3; ++i) {
    saved[i] = ::GetStdHandle(streams[i]);
    ::SetStdHandle(streams[i], nullptr);
  }
  const auto code = process::run_child(ChildCommand{stand_in(), {}});
  for (int i = 0; i < 3; ++i) ::SetStdHandle(streams[i], saved[i]);
  EXPECT_EQ(code, 5u);
  EXPECT_TRUE(read_stand_in_record(record_path_));
}

TEST_F(ChildTest, RefusesBatchScripts) {
  for (const char* name : {"setup.bat", "setup.CMD"}) {
    SCOPED_TRACE(name);
    const fs::path script = folder_ / name;
    std::ofstream(script) << "@echo off\r\n";
    EXPECT_EQ(process::start_child(ChildCommand{utf8_path(script), {}}),
              std::unexpected(PlatformError::message(ErrorKind::InvalidInput, "batch scripts are not supported")));
  }
}
#endif

}  // namespace
