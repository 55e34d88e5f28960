// Listing, writing, reading links and making them when the calls under them fail or are cut short.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "faults/posix/fault_support.hpp"
#include "faults/posix/libc_faults.hpp"
#include "platform/fs.hpp"
#include "platform/path.hpp"

namespace {

using faults::Act;
using faults::Armed;
using faults::Call;
using faults::every;
using fault_test::expect_failure;
using fault_test::make_tree;
using fault_test::open_descriptors;
using fault_test::tree;
using platform::ErrorKind;
using platform::PlatformError;

using Lines = std::vector<std::string>;
using FileSystemFaults = fs_test::TempTree;

std::span<const std::byte> bytes_of(std::string_view text) { return std::as_bytes(std::span(text)); }

// ---- listings ----------------------------------------------------------------------------------

TEST_F(FileSystemFaults, AFailingReadIsOneErrorItemAfterWhichTheListingEnds) {
  make_tree(root_, {"d dir/", "f dir/a.txt: alpha"});
  const auto before = open_descriptors();
  auto listing = platform::list_directory(at({"dir"}));
  ASSERT_TRUE(listing);
  {
    Armed fault({.call = Call::readdir, .error = EIO});
    auto first = platform::next_entry(*listing);
    ASSERT_TRUE(first.has_value());
    expect_failure(*first, PlatformError::os(EIO), ErrorKind::Uncategorized, "Input/output error (os error 5)");
    // The stream is closed at the error: nothing more is read, and no descriptor stays open.
    EXPECT_FALSE(platform::next_entry(*listing).has_value());
    EXPECT_EQ(fault.log(), Lines{"readdir"});
  }
  EXPECT_EQ(open_descriptors(), before);
}

// ---- writing -----------------------------------------------------------------------------------

class Writing : public fs_test::TempTree {
 protected:
  // Writes `text` into a new file under the armed fault and gives the result.
  platform::Result<void> write_under(const faults::Fault& fault, std::string_view text, Lines& log) {
    auto file = platform::create_file(at({"out.bin"}));
    if (!file) return std::unexpected(file.error());
    Armed armed(fault);
    auto written = platform::write_file(*file, bytes_of(text));
    log = armed.log();
    platform::close_file(std::move(*file));
    return written;
  }
};

TEST_F(Writing, AnInterruptedWriteIsMadeAgainAndWritesEverything) {
  Lines log;
  ASSERT_TRUE(write_under({.call = Call::write, .error = EINTR, .times = 2}, "hello world", log));
  EXPECT_EQ(log, (Lines{"write 11", "write 11", "write 11"}));
  EXPECT_EQ(tree(root_), Lines{"f out.bin: hello world"});
}

TEST_F(Writing, AWriteOfNothingIsTheWriteZeroError) {
  Lines log;
  auto written = write_under({.call = Call::write, .times = every, .act = Act::ReturnZero}, "hello world", log);
  expect_failure(written, PlatformError::message(ErrorKind::WriteZero, "failed to write whole buffer"),
                 ErrorKind::WriteZero, "failed to write whole buffer");
  EXPECT_EQ(log, Lines{"write 11"});
  EXPECT_EQ(tree(root_), Lines{"f out.bin: "});
}

TEST_F(Writing, AFailingWriteIsNotMadeAgain) {
  Lines log;
  auto written = write_under({.call = Call::write, .error = ENOSPC, .times = every}, "hello world", log);
  expect_failure(written, PlatformError::os(ENOSPC), ErrorKind::Uncategorized, "No space left on device (os error 28)");
  EXPECT_EQ(log, Lines{"write 11"});
  EXPECT_EQ(tree(root_), Lines{"f out.bin: "});
}

// ---- links -------------------------------------------------------------------------------------

// The kernel cuts a target longer than the buffer to the buffer's size, so a result that fills the
// buffer is read again with twice the room.
TEST_F(FileSystemFaults, LinkTargetsOfEveryLengthAroundTheBufferAreReadWhole) {
  struct Case {
    std::size_t length;
    Lines reads;
  };
  const std::vector<Case> cases = {
      {1, {"readlink link 256"}},
      {255, {"readlink link 256"}},
      {256, {"readlink link 256", "readlink link 512"}},
      {511, {"readlink link 256", "readlink link 512"}},
      {512, {"readlink link 256", "readlink link 512", "readlink link 1024"}},
      {4095, {"readlink link 256", "readlink link 512", "readlink link 1024", "readlink link 2048",
              "readlink link 4096"}},
  };
  const std::string link = at({"link"});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    std::string target;
    for (std::size_t i = 0; target.size() < c.length; ++i) target += static_cast<char>('a' + i % 26);
    fs_test::stdfs::create_symlink(target, link);
    Armed watched({.call = Call::readlink, .times = 0});
    auto read = platform::read_link(link);
    ASSERT_TRUE(read) << fs_test::describe(read);
    EXPECT_EQ(*read, target);
    EXPECT_EQ(watched.log(), c.reads);
    fs_test::stdfs::remove(link);
  }
}

TEST_F(FileSystemFaults, AFailingLinkReadGivesItsError) {
  make_tree(root_, {"l link -> somewhere"});
  Armed fault({.call = Call::readlink, .error = EIO});
  expect_failure(platform::read_link(at({"link"})), PlatformError::os(EIO), ErrorKind::Uncategorized,
                 "Input/output error (os error 5)");
  EXPECT_EQ(fault.log(), Lines{"readlink link 256"});
}

TEST_F(FileSystemFaults, ALinkThatCannotBeMadeGivesItsErrorAndLeavesNothing) {
  Armed fault({.call = Call::symlink, .error = EPERM});
  expect_failure(platform::create_link("target", at({"link"}), false), PlatformError::os(EPERM),
                 ErrorKind::PermissionDenied, "Operation not permitted (os error 1)");
  EXPECT_EQ(fault.log(), Lines{"symlink target link"});
  EXPECT_EQ(tree(root_), Lines{});
}

TEST_F(FileSystemFaults, ALinkPathHoldingANulIsRefusedBeforeAnyCall) {
  Armed watched({.call = Call::symlink, .times = 0});
  expect_failure(platform::create_link("target", at({std::string("li\0nk", 5)}), false),
                 PlatformError::message(ErrorKind::InvalidInput, "nul byte found in provided data"),
                 ErrorKind::InvalidInput, "nul byte found in provided data");
  EXPECT_EQ(watched.calls(), 0);
  EXPECT_EQ(tree(root_), Lines{});
}

}  // namespace
