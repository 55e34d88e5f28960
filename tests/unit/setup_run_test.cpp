// Drives the Setup run through every sequence with scripted steps and checks both streams byte
// for byte, the order of the calls, and the exit code.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "setup/messages.hpp"
#include "setup/run.hpp"

namespace {

using payload::ArchiveError;
using platform::PlatformError;

struct ScriptedSteps final : setup::Steps {
  // What each step answers.
  std::string work_directory = "C:\\Users\\Ana Lima\\AppData\\Local\\Temp\\zarvo-setup-4242";
  platform::Result<void> create_result;
  std::expected<void, ArchiveError> open_result;
  std::expected<void, ArchiveError> extract_result;
  std::optional<std::string> script = work_directory + "\\install.ps1";
  platform::Result<std::uint32_t> installer_result = 0u;
  bool home_window = true;

  // What the run did.
  std::string out, err;
  std::vector<std::string> calls;

  void print_stdout(std::initializer_list<std::string_view> pieces) override {
    for (auto p : pieces) out += p;
  }
  void print_stderr(std::initializer_list<std::string_view> pieces) override {
    for (auto p : pieces) err += p;
  }
  void flush_stdout() override { calls.push_back("flush"); }
  void read_stdin_line() override { calls.push_back("read line"); }
  std::string work_directory_path() override { return work_directory; }
  platform::Result<void> create_work_directory(std::string_view path) override {
    calls.push_back("create " + std::string(path));
    return create_result;
  }
  std::expected<void, ArchiveError> open_archive() override {
    calls.push_back("open");
    return open_result;
  }
  std::expected<void, ArchiveError> extract_all(std::string_view destination) override {
    calls.push_back("extract " + std::string(destination));
    return extract_result;
  }
  std::optional<std::string> locate_installer_script(std::string_view dir) override {
    calls.push_back("locate " + std::string(dir));
    return script;
  }
  platform::Result<std::uint32_t> run_installer_script(std::string_view path) override {
    calls.push_back("install " + std::string(path));
    return installer_result;
  }
  void remove_work_directory(std::string_view path) override { calls.push_back("remove " + std::string(path)); }
  bool launch_home_window() override {
    calls.push_back("home window");
    return home_window;
  }
  void sleep_for_seconds(std::uint64_t seconds) override { calls.push_back("sleep " + std::to_string(seconds)); }
};

const std::string banner =
    "zarvo-setup \xE2\x80\x94 installing zarvo\n"
    "payload: 83213052 bytes, embedded and signed with this installer\n\n";
const std::string work = "C:\\Users\\Ana Lima\\AppData\\Local\\Temp\\zarvo-setup-4242";

TEST(SetupRun, SuccessWithHomeWindowOpened) {
  ScriptedSteps steps;
  EXPECT_EQ(setup::run(steps, 83213052), 0u);
  EXPECT_EQ(steps.out, banner + "extracting to " + work + "\n" +
                           "running the payload's installer\n\n"
                           "\nzarvo is installed. A NEW terminal (the PATH change needs one) has: zarvo status\n"
                           "\nDone. zarvo and zarvod are installed; zarvod starts at every logon on its own.\n"
                           "The Zarvo window is open on Home - it lists what was installed and what to do next.\n"
                           "This window closes in 15 seconds.\n");
  EXPECT_EQ(steps.err, "");
  EXPECT_EQ(steps.calls, (std::vector<std::string>{"create " + work, "open", "extract " + work, "locate " + work,
                                                   "install " + work + "\\install.ps1", "remove " + work,
                                                   "home window", "flush", "sleep 15"}));
}

TEST(SetupRun, SuccessWithoutHomeWindowPointsToStartMenu) {
  ScriptedSteps steps;
  steps.home_window = false;
  EXPECT_EQ(setup::run(steps, 83213052), 0u);
  EXPECT_EQ(steps.out, banner + "extracting to " + work + "\n" +
                           "running the payload's installer\n\n"
                           "\nzarvo is installed. A NEW terminal (the PATH change needs one) has: zarvo status\n"
                           "\nDone. zarvo and zarvod are installed; zarvod starts at every logon on its own.\n"
                           "Open Zarvo from the Start menu to see what was installed and what to do next.\n"
                           "This window closes in 15 seconds.\n");
  EXPECT_EQ(steps.err, "");
}

TEST(SetupRun, WorkDirectoryNotCreatedShowsItsOwnPathAndNoLeftPayloadLine) {
  ScriptedSteps steps;
  steps.create_result = std::unexpected(PlatformError::message(platform::ErrorKind::AlreadyExists, "in the way"));
  EXPECT_EQ(setup::run(steps, 5), 1u);
  EXPECT_EQ(steps.out,
            "zarvo-setup \xE2\x80\x94 installing zarvo\npayload: 5 bytes, embedded and signed with this installer\n\n"
            "\nPress Enter to close.");
  EXPECT_EQ(steps.err, "\nzarvo-setup: temp dir " + work + ": in the way\n");
  EXPECT_EQ(steps.calls, (std::vector<std::string>{"create " + work, "flush", "read line"}));
}

TEST(SetupRun, ArchiveFailuresKeepTheWorkDirectory) {
  struct Case {
    bool open_fails;
    std::string message;
  };
  for (const auto& c : {Case{true, "embedded payload is not a readable zip: invalid Zip archive: Could not find EOCD"},
                        Case{false, "extracting payload: i/o error: Invalid checksum"}}) {
    SCOPED_TRACE(c.open_fails ? "the archive does not open" : "an entry fails to extract");
    ScriptedSteps steps;
    if (c.open_fails) {
      steps.open_result = std::unexpected(ArchiveError::invalid("Could not find EOCD"));
    } else {
      steps.extract_result = std::unexpected(ArchiveError::io("Invalid checksum"));
    }
    EXPECT_EQ(setup::run(steps, 83213052), 1u);
    EXPECT_EQ(steps.out, banner + "extracting to " + work + "\n\nPress Enter to close.");
    EXPECT_EQ(steps.err, "(payload left at " + work + " for inspection)\n\nzarvo-setup: " + c.message + "\n");
    EXPECT_EQ(steps.calls.back(), "read line");
    EXPECT_EQ(std::count(steps.calls.begin(), steps.calls.end(), "remove " + work), 0);
  }
}

TEST(SetupRun, MissingInstallerScript) {
  ScriptedSteps steps;
  steps.script.reset();
  EXPECT_EQ(setup::run(steps, 83213052), 1u);
  EXPECT_EQ(steps.out, banner + "extracting to " + work + "\n\nPress Enter to close.");
  EXPECT_EQ(steps.err, "(payload left at " + work +
                           " for inspection)\n\nzarvo-setup: the payload carries no install.ps1 "
                           "\xE2\x80\x94 this build is broken, not your machine\n");
}

TEST(SetupRun, PowerShellNotStarted) {
  ScriptedSteps steps;
  steps.installer_result = std::unexpected(PlatformError::message(platform::ErrorKind::NotFound, "program not found"));
  EXPECT_EQ(setup::run(steps, 83213052), 1u);
  EXPECT_EQ(steps.out, banner + "extracting to " + work + "\nrunning the payload's installer\n\n\nPress Enter to close.");
  EXPECT_EQ(steps.err, "(payload left at " + work +
                           " for inspection)\n\nzarvo-setup: starting powershell: program not found\n");
}

TEST(SetupRun, InstallerExitCodesAreShownSigned) {
  const std::pair<std::uint32_t, std::string> cases[] = {
      {1u, "1"}, {4294967295u, "-1"}, {2147483648u, "-2147483648"}, {2147483647u, "2147483647"}};
  for (const auto& [code, shown] : cases) {
    SCOPED_TRACE(code);
    ScriptedSteps steps;
    steps.installer_result = code;
    EXPECT_EQ(setup::run(steps, 83213052), 1u);
    EXPECT_EQ(steps.out,
              banner + "extracting to " + work + "\nrunning the payload's installer\n\n\nPress Enter to close.");
    EXPECT_EQ(steps.err, "(payload left at " + work + " for inspection)\n\nzarvo-setup: the installer exited with " +
                             shown + " \xE2\x80\x94 its output above says why\n");
    EXPECT_EQ(steps.calls, (std::vector<std::string>{"create " + work, "open", "extract " + work, "locate " + work,
                                                     "install " + work + "\\install.ps1", "flush", "read line"}));
  }
}

TEST(SetupRun, UnpairedSurrogateInTheWorkDirectoryIsShownAsReplacementCharacter) {
  ScriptedSteps steps;
  steps.work_directory = "C:\\Temp\\\xED\xA0\x80x\\zarvo-setup-7";  // a lone high surrogate, held as WTF-8
  steps.script.reset();
  EXPECT_EQ(setup::run(steps, 1), 1u);
  EXPECT_EQ(steps.calls.front(), "create " + steps.work_directory);  // the real path goes to the system
  EXPECT_EQ(steps.err, "(payload left at C:\\Temp\\\xEF\xBF\xBDx\\zarvo-setup-7 for inspection)\n\nzarvo-setup: "
                       "the payload carries no install.ps1 \xE2\x80\x94 this build is broken, not your machine\n");
}

}  // namespace
