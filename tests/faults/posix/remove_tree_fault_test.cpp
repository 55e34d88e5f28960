// Removing a tree when the calls under it fail: the error that comes back, what is left on disk,
// and that every directory stream opened on the way is closed again.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "faults/posix/fault_support.hpp"
#include "faults/posix/libc_faults.hpp"
#include "platform/fs.hpp"

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

class RemoveTree : public fs_test::TempTree {
 protected:
  std::string victim() const { return at({"victim"}); }

  // Arranges the tree below the test's folder and notes the descriptors open before the removal.
  void arrange(const Lines& lines) {
    make_tree(root_, lines);
    ASSERT_EQ(tree(root_), sorted(lines));
    descriptors_before_ = open_descriptors();
  }

  static Lines sorted(Lines lines) {
    std::sort(lines.begin(), lines.end());
    return lines;
  }

  void expect_no_descriptor_left() { EXPECT_EQ(open_descriptors(), descriptors_before_); }

  std::set<std::string> descriptors_before_;
};

// One entry per level, so that what a failure leaves behind does not hang on the listing order.
const Lines chain = {"d victim/", "d victim/sub/", "f victim/sub/b.txt: beta"};

// ---- streams and reads -------------------------------------------------------------------------

TEST_F(RemoveTree, NoStreamForTheTopFailsBeforeAnythingIsRemoved) {
  arrange(chain);
  Armed fault({.call = Call::fdopendir, .error = EMFILE});

  expect_failure(platform::remove_directory_all(victim()), PlatformError::os(EMFILE), ErrorKind::Uncategorized,
                 "Too many open files (os error 24)");
  EXPECT_EQ(fault.log(), Lines{"fdopendir"});
  EXPECT_EQ(tree(root_), sorted(chain));
  expect_no_descriptor_left();
}

TEST_F(RemoveTree, NoStreamForASubdirectoryEndsTheRemovalThere) {
  arrange(chain);
  Armed fault({.call = Call::fdopendir, .error = ENOMEM, .after = 1});

  expect_failure(platform::remove_directory_all(victim()), PlatformError::os(ENOMEM), ErrorKind::Uncategorized,
                 "Cannot allocate memory (os error 12)");
  EXPECT_EQ(fault.log(), (Lines{"fdopendir", "fdopendir"}));
  EXPECT_EQ(tree(root_), sorted(chain));
  expect_no_descriptor_left();
}

TEST_F(RemoveTree, AFailingReadEndsTheRemovalAndClosesTheStream) {
  arrange(chain);
  Armed fault({.call = Call::readdir, .error = EIO});

  expect_failure(platform::remove_directory_all(victim()), PlatformError::os(EIO), ErrorKind::Uncategorized,
                 "Input/output error (os error 5)");
  EXPECT_EQ(fault.log(), Lines{"readdir"});
  EXPECT_EQ(tree(root_), sorted(chain));
  expect_no_descriptor_left();
}

// ---- entries whose type the listing does not give -------------------------------------------------

const Lines full_tree = {
    "d outside/",
    "f outside/keep.txt: kept",
    "d victim/",
    "f victim/a.txt: alpha",
    "d victim/sub/",
    "f victim/sub/b.txt: beta",
    "d victim/sub/deeper/",
    "l victim/to-dir -> ../outside",
    "l victim/sub/to-file -> ../../outside/keep.txt",
};

TEST_F(RemoveTree, EntriesOfUnknownTypeAreLookedAtWithoutFollowingLinks) {
  arrange(full_tree);
  Armed unknown({.call = Call::readdir, .times = every, .act = Act::UnknownType});
  Armed looked({.call = Call::fstatat, .times = 0});

  ASSERT_TRUE(platform::remove_directory_all(victim()));
  auto looked_at = looked.log();
  std::sort(looked_at.begin(), looked_at.end());
  EXPECT_EQ(looked_at, (Lines{"fstatat a.txt", "fstatat b.txt", "fstatat deeper", "fstatat sub", "fstatat to-dir",
                              "fstatat to-file"}));
  EXPECT_EQ(tree(root_), (Lines{"d outside/", "f outside/keep.txt: kept"}));
  expect_no_descriptor_left();
}

TEST_F(RemoveTree, AnEntryThatCannotBeLookedAtEndsTheRemoval) {
  const Lines one_file = {"d victim/", "f victim/a.txt: alpha"};
  arrange(one_file);
  Armed unknown({.call = Call::readdir, .times = every, .act = Act::UnknownType});
  Armed fault({.call = Call::fstatat, .error = EACCES, .name = "a.txt"});

  expect_failure(platform::remove_directory_all(victim()), PlatformError::os(EACCES), ErrorKind::PermissionDenied,
                 "Permission denied (os error 13)");
  EXPECT_EQ(tree(root_), sorted(one_file));
  expect_no_descriptor_left();
}

TEST_F(RemoveTree, AnEntryGoneWhenLookedAtIsPassedOverAndTheDirectoryReadAgain) {
  arrange({"d victim/", "f victim/a.txt: alpha"});
  Armed unknown({.call = Call::readdir, .times = every, .act = Act::UnknownType});
  Armed fault({.call = Call::fstatat, .error = ENOENT, .name = "a.txt"});
  Armed top({.call = Call::rmdir, .times = 0});

  ASSERT_TRUE(platform::remove_directory_all(victim()));
  // Passed over, a.txt was still there: the top was not empty, and the second pass removed it.
  EXPECT_EQ(fault.log(), (Lines{"fstatat a.txt", "fstatat a.txt"}));
  EXPECT_EQ(top.log(), (Lines{"rmdir victim", "rmdir victim"}));
  EXPECT_EQ(tree(root_), Lines{});
  expect_no_descriptor_left();
}

// ---- deleting entries ----------------------------------------------------------------------------

TEST_F(RemoveTree, AFileThatCannotBeDeletedIsReportedWithItsError) {
  struct Case {
    int code;
    ErrorKind kind;
    const char* text;
  };
  for (const Case& c : {Case{EBUSY, ErrorKind::Uncategorized, "Device or resource busy (os error 16)"},
                        Case{EACCES, ErrorKind::PermissionDenied, "Permission denied (os error 13)"},
                        Case{EPERM, ErrorKind::PermissionDenied, "Operation not permitted (os error 1)"},
                        Case{EIO, ErrorKind::Uncategorized, "Input/output error (os error 5)"}}) {
    SCOPED_TRACE(c.text);
    arrange(chain);
    {
      Armed fault({.call = Call::unlinkat, .error = c.code, .times = every, .name = "b.txt"});
      expect_failure(platform::remove_directory_all(victim()), PlatformError::os(static_cast<std::uint32_t>(c.code)),
                     c.kind, c.text);
      EXPECT_EQ(fault.log(), Lines{"unlinkat b.txt"});
    }
    EXPECT_EQ(tree(root_), sorted(chain));
    expect_no_descriptor_left();
    fs_test::stdfs::remove_all(victim());
  }
}

TEST_F(RemoveTree, EntriesRemovedByAnotherProcessJustBeforeCountAsRemoved) {
  arrange(chain);
  Armed file({.call = Call::unlinkat, .error = ENOENT, .act = Act::DoneThenFail, .name = "b.txt"});
  Armed directory({.call = Call::unlinkat, .error = ENOENT, .act = Act::DoneThenFail, .name = "sub"});
  Armed top({.call = Call::rmdir, .error = ENOENT, .act = Act::DoneThenFail, .name = "victim"});

  ASSERT_TRUE(platform::remove_directory_all(victim()));
  // Each was met once: nothing was read again.
  EXPECT_EQ(file.log(), Lines{"unlinkat b.txt"});
  EXPECT_EQ(directory.log(), Lines{"unlinkat sub AT_REMOVEDIR"});
  EXPECT_EQ(top.log(), Lines{"rmdir victim"});
  EXPECT_EQ(tree(root_), Lines{});
  expect_no_descriptor_left();
}

TEST_F(RemoveTree, ASubdirectoryThatCannotBeOpenedEndsTheRemoval) {
  arrange(chain);
  Armed fault({.call = Call::openat, .error = EACCES, .name = "sub"});

  expect_failure(platform::remove_directory_all(victim()), PlatformError::os(EACCES), ErrorKind::PermissionDenied,
                 "Permission denied (os error 13)");
  EXPECT_EQ(tree(root_), sorted(chain));
  expect_no_descriptor_left();
}

TEST_F(RemoveTree, ASubdirectoryGoneWhenOpenedIsPassedOverAndTheDirectoryReadAgain) {
  arrange(chain);
  Armed fault({.call = Call::openat, .error = ENOENT, .name = "sub"});

  ASSERT_TRUE(platform::remove_directory_all(victim()));
  EXPECT_EQ(fault.log(), (Lines{"openat sub", "openat sub"}));
  EXPECT_EQ(tree(root_), Lines{});
  expect_no_descriptor_left();
}

// A subdirectory replaced after it was listed is removed as what it is now; a link in its place is
// removed without its target being touched.
TEST_F(RemoveTree, ASubdirectoryReplacedAfterItWasListedIsRemovedAsWhatItIsNow) {
  struct Case {
    const char* what;
    std::function<void(const std::string& sub)> replace;
    Lines left;
  };
  const std::string moved = at({"moved"});
  const std::vector<Case> cases = {
      {"by a link",
       [&](const std::string& sub) {
         fs_test::stdfs::rename(sub, moved);
         fs_test::stdfs::create_directory_symlink(moved, sub);
       },
       {"d moved/", "f moved/b.txt: beta"}},
      {"by a file",
       [&](const std::string& sub) {
         fs_test::stdfs::rename(sub, moved);
         make_tree(root_, {"f victim/sub: now a file"});
       },
       {"d moved/", "f moved/b.txt: beta"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    arrange(chain);
    {
      const std::string sub = at({"victim", "sub"});
      Armed race({.call = Call::openat, .act = Act::Before, .name = "sub", .hook = [&] { c.replace(sub); }});
      Armed removals({.call = Call::unlinkat, .times = 0});
      ASSERT_TRUE(platform::remove_directory_all(victim()));
      EXPECT_EQ(race.taken(), 1);
      EXPECT_EQ(removals.log(), Lines{"unlinkat sub"});
    }
    EXPECT_EQ(tree(root_), c.left);
    expect_no_descriptor_left();
    fs_test::stdfs::remove_all(moved);
  }
}

// ---- emptied directories that stay not empty ------------------------------------------------------

// Between attempts at one entry the removal waits (1 ms doubling to 256 ms, 19 waits in about three
// seconds); the sleeps are made to fail here, so nothing really waits.
TEST_F(RemoveTree, ADirectoryNotEmptyAgainAndAgainIsTriedUntilItsWaitsAreSpent) {
  for (int code : {ENOTEMPTY, EEXIST}) {
    SCOPED_TRACE(code);
    arrange(chain);
    {
      Armed fault({.call = Call::unlinkat, .error = code, .times = every, .name = "sub"});
      Armed sleeps({.call = Call::nanosleep, .error = EINVAL, .times = every});
      auto removed = platform::remove_directory_all(victim());
      if (code == ENOTEMPTY) {
        expect_failure(removed, PlatformError::os(ENOTEMPTY), ErrorKind::Uncategorized,
                       "Directory not empty (os error 39)");
      } else {
        expect_failure(removed, PlatformError::os(EEXIST), ErrorKind::AlreadyExists, "File exists (os error 17)");
      }
      EXPECT_EQ(fault.log(), Lines(20, "unlinkat sub AT_REMOVEDIR"));
      EXPECT_EQ(sleeps.calls(), 19);
    }
    EXPECT_EQ(tree(root_), (Lines{"d victim/", "d victim/sub/"}));
    expect_no_descriptor_left();
    fs_test::stdfs::remove_all(victim());
  }
}

TEST_F(RemoveTree, ADirectoryThatEmptiesOnTheLastAttemptIsRemoved) {
  arrange(chain);
  Armed fault({.call = Call::unlinkat, .error = ENOTEMPTY, .times = 19, .name = "sub"});
  Armed sleeps({.call = Call::nanosleep, .error = EINVAL, .times = every});

  ASSERT_TRUE(platform::remove_directory_all(victim()));
  EXPECT_EQ(fault.calls(), 20);
  EXPECT_EQ(tree(root_), Lines{});
  expect_no_descriptor_left();
}

TEST_F(RemoveTree, TheTopNotEmptyAgainAndAgainIsTriedUntilItsWaitsAreSpent) {
  arrange(chain);
  Armed fault({.call = Call::rmdir, .error = ENOTEMPTY, .times = every, .name = "victim"});
  Armed sleeps({.call = Call::nanosleep, .error = EINVAL, .times = every});

  expect_failure(platform::remove_directory_all(victim()), PlatformError::os(ENOTEMPTY), ErrorKind::Uncategorized,
                 "Directory not empty (os error 39)");
  EXPECT_EQ(fault.log(), Lines(20, "rmdir victim"));
  EXPECT_EQ(sleeps.log().front(), "nanosleep 0.001000000");
  EXPECT_EQ(sleeps.log().back(), "nanosleep 0.256000000");
  EXPECT_EQ(tree(root_), Lines{"d victim/"});
  expect_no_descriptor_left();
}

TEST_F(RemoveTree, AnyOtherFailureToRemoveAnEmptiedDirectoryIsNotRetried) {
  arrange(chain);
  Armed fault({.call = Call::unlinkat, .error = EBUSY, .times = every, .name = "sub"});

  expect_failure(platform::remove_directory_all(victim()), PlatformError::os(EBUSY), ErrorKind::Uncategorized,
                 "Device or resource busy (os error 16)");
  EXPECT_EQ(fault.log(), Lines{"unlinkat sub AT_REMOVEDIR"});
  EXPECT_EQ(tree(root_), (Lines{"d victim/", "d victim/sub/"}));
  expect_no_descriptor_left();
}

// ---- the top itself ------------------------------------------------------------------------------

TEST_F(RemoveTree, ATopThatCannotBeOpenedFailsWithItsError) {
  arrange(chain);
  Armed fault({.call = Call::open, .error = EACCES, .name = "victim"});

  expect_failure(platform::remove_directory_all(victim()), PlatformError::os(EACCES), ErrorKind::PermissionDenied,
                 "Permission denied (os error 13)");
  EXPECT_EQ(tree(root_), sorted(chain));
  expect_no_descriptor_left();
}

const Lines top_link = {"d outside/", "f outside/keep.txt: kept", "l victim -> outside"};

TEST_F(RemoveTree, ATopLinkThatCannotBeLookedAtFailsWithThatError) {
  arrange(top_link);
  Armed fault({.call = Call::lstat, .error = EIO, .name = "victim"});

  expect_failure(platform::remove_directory_all(victim()), PlatformError::os(EIO), ErrorKind::Uncategorized,
                 "Input/output error (os error 5)");
  EXPECT_EQ(tree(root_), sorted(top_link));
  expect_no_descriptor_left();
}

TEST_F(RemoveTree, ATopLinkWhoseTargetCannotBeLookedAtIsNotADirectory) {
  arrange(top_link);
  Armed fault({.call = Call::stat, .error = EACCES, .name = "victim"});

  expect_failure(platform::remove_directory_all(victim()), PlatformError::os(ENOTDIR), ErrorKind::Uncategorized,
                 "Not a directory (os error 20)");
  EXPECT_EQ(tree(root_), sorted(top_link));
  expect_no_descriptor_left();
}

TEST_F(RemoveTree, ATopLinkThatCannotBeDeletedFailsWithThatError) {
  arrange(top_link);
  Armed fault({.call = Call::unlink, .error = EPERM, .name = "victim"});

  expect_failure(platform::remove_directory_all(victim()), PlatformError::os(EPERM), ErrorKind::PermissionDenied,
                 "Operation not permitted (os error 1)");
  EXPECT_EQ(fault.log(), Lines{"unlink victim"});
  EXPECT_EQ(tree(root_), sorted(top_link));
  expect_no_descriptor_left();
}

}  // namespace
