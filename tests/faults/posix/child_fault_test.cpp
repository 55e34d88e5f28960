// Waiting for a child, and finding the setup's own folder, when the calls under them fail or are
// cut short.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "faults/posix/fault_support.hpp"
#include "faults/posix/libc_faults.hpp"
#include "process/child.hpp"

namespace {

using faults::Act;
using faults::Armed;
using faults::Call;
using fault_test::expect_failure;
using platform::ErrorKind;
using platform::PlatformError;
using process::ChildCommand;

using Lines = std::vector<std::string>;
namespace stdfs = std::filesystem;

const ChildCommand exits_with_7{"/bin/sh", {"-c", "exit 7"}};

TEST(ChildWaitFaults, AnInterruptedWaitIsMadeAgainAndGivesTheExitCode) {
  Armed fault({.call = Call::waitpid, .error = EINTR, .times = 2});
  auto code = process::run_child(exits_with_7);
  ASSERT_TRUE(code) << platform::error_text(code.error());
  EXPECT_EQ(*code, 7u);
  EXPECT_EQ(fault.log(), (Lines{"waitpid 0", "waitpid 0", "waitpid 0"}));
}

TEST(ChildWaitFaults, AFailingWaitGivesItsErrorAndLetsGoOfTheChildWithoutWaiting) {
  {
    Armed fault({.call = Call::waitpid, .error = ECHILD});
    expect_failure(process::run_child(exits_with_7), PlatformError::os(ECHILD), ErrorKind::Uncategorized,
                   "No child processes (os error 10)");
    EXPECT_EQ(fault.log(), (Lines{"waitpid 0", "waitpid WNOHANG"}));
  }
  // The child was started and is not waited for by anyone else: it is reaped here whether or not
  // the letting go already did.
  int status = 0;
  const pid_t reaped = ::waitpid(-1, &status, 0);
  if (reaped > 0) {
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 7);
  } else {
    EXPECT_EQ(errno, ECHILD);
  }
}

TEST(ChildWaitFaults, AnArgumentHoldingANulIsRefusedBeforeAnythingIsStarted) {
  Armed waits({.call = Call::waitpid, .times = 0});
  expect_failure(process::run_child(ChildCommand{"/bin/sh", {"-c", std::string("exit 7\0", 7)}}),
                 PlatformError::message(ErrorKind::InvalidInput, "nul byte found in provided data"),
                 ErrorKind::InvalidInput, "nul byte found in provided data");
  EXPECT_EQ(waits.calls(), 0);
}

// A program named without a folder is looked for first beside the running executable, whose path
// is read from /proc/self/exe; a path that fills the buffer is read again with more room.
class OwnFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    // One name per test: the tests of this program may run at the same time, from the same folder.
    name_ = std::string("fault-stand-in-") + ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".sh";
    stand_in_ = stdfs::read_symlink("/proc/self/exe").parent_path() / name_;
    std::ofstream(stand_in_) << "#!/bin/sh\nexit 42\n";
    stdfs::permissions(stand_in_, stdfs::perms::owner_all);
  }
  void TearDown() override { stdfs::remove(stand_in_); }

  std::string name_;
  stdfs::path stand_in_;
};

TEST_F(OwnFolder, AnExecutablePathThatFillsTheBufferIsReadAgainWithMoreRoom) {
  Armed fault({.call = Call::readlink, .act = Act::FullBuffer, .name = "exe"});
  auto code = process::run_child(ChildCommand{name_, {}});
  ASSERT_TRUE(code) << platform::error_text(code.error());
  EXPECT_EQ(*code, 42u);
  EXPECT_EQ(fault.log(), (Lines{"readlink exe 256", "readlink exe 512"}));
}

TEST_F(OwnFolder, AnExecutablePathThatCannotBeReadLeavesOnlyThePathToSearch) {
  Armed fault({.call = Call::readlink, .error = EACCES, .name = "exe"});
  expect_failure(process::run_child(ChildCommand{name_, {}}),
                 PlatformError::message(ErrorKind::NotFound, "program not found"), ErrorKind::NotFound,
                 "program not found");
  EXPECT_EQ(fault.log(), Lines{"readlink exe 256"});
}

}  // namespace
