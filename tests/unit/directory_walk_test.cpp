// The walk that creates a directory with its parents, against a scripted file system: which
// directories it asks for, in which order, and which answer ends it.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "platform/directory_walk.hpp"
#include "platform/windows_rules.hpp"

namespace {

using platform::ErrorKind;
using platform::PlatformError;

enum class Entry { Directory, File };

struct FakeSystem {
  std::map<std::string, Entry> entries;
  std::map<std::string, PlatformError> refusals;  // paths whose creation fails with this error
  std::map<std::string, std::string> appears_meanwhile;  // created by "another process" when first asked
  std::vector<std::string> asked;

  platform::DirectoryWalk walk() {
    return platform::DirectoryWalk{
        .parent = [](std::string_view p) { return platform::windows_rules::parent_path(p); },
        .make_directory = [this](const std::string& p) { return make(p); },
        .is_directory = [this](const std::string& p) {
          auto it = entries.find(p);
          return it != entries.end() && it->second == Entry::Directory;
        },
    };
  }

  platform::Result<void> make(const std::string& path) {
    asked.push_back(path);
    if (auto it = appears_meanwhile.find(path); it != appears_meanwhile.end()) {
      entries[path] = Entry::Directory;
      appears_meanwhile.erase(it);
    }
    if (auto it = refusals.find(path); it != refusals.end()) return std::unexpected(it->second);
    if (entries.contains(path)) return std::unexpected(PlatformError::message(ErrorKind::AlreadyExists, "already exists"));
    auto parent = platform::windows_rules::parent_path(path);
    if (parent && !parent->empty() && !entries.contains(*parent)) {
      return std::unexpected(PlatformError::message(ErrorKind::NotFound, "not found"));
    }
    entries[path] = Entry::Directory;
    return {};
  }
};

TEST(DirectoryWalk, CreatesMissingLevelsOutermostFirst) {
  FakeSystem system;
  system.entries = {{"C:\\", Entry::Directory}, {"C:\\t", Entry::Directory}};
  ASSERT_TRUE(platform::create_directory_walk("C:\\t\\a\\b\\c", system.walk()));
  EXPECT_EQ(system.asked, (std::vector<std::string>{"C:\\t\\a\\b\\c", "C:\\t\\a\\b", "C:\\t\\a", "C:\\t\\a\\b",
                                                    "C:\\t\\a\\b\\c"}));
}

TEST(DirectoryWalk, AnExistingDirectoryEndsTheWalkAtOnce) {
  FakeSystem system;
  system.entries = {{"C:\\", Entry::Directory}, {"C:\\t", Entry::Directory}, {"C:\\t\\w", Entry::Directory}};
  ASSERT_TRUE(platform::create_directory_walk("C:\\t\\w", system.walk()));
  EXPECT_EQ(system.asked, (std::vector<std::string>{"C:\\t\\w"}));

  // The same when the existing level is a parent that the walk reaches.
  system.asked.clear();
  ASSERT_TRUE(platform::create_directory_walk("C:\\t\\w\\x\\y", system.walk()));
  EXPECT_EQ(system.asked, (std::vector<std::string>{"C:\\t\\w\\x\\y", "C:\\t\\w\\x", "C:\\t\\w\\x\\y"}));
}

TEST(DirectoryWalk, AFileInTheWayFailsWithTheCreationError) {
  FakeSystem system;
  system.entries = {{"C:\\", Entry::Directory}, {"C:\\t", Entry::Directory}, {"C:\\t\\f", Entry::File}};
  const PlatformError exists = PlatformError::message(ErrorKind::AlreadyExists, "a file is in the way");
  system.refusals = {{"C:\\t\\f", exists}};
  auto made = platform::create_directory_walk("C:\\t\\f\\x", [&] {
    auto walk = system.walk();
    // Below a file the system answers "path not found", a NotFound kind.
    walk.make_directory = [&](const std::string& p) -> platform::Result<void> {
      if (p == "C:\\t\\f\\x") {
        system.asked.push_back(p);
        return std::unexpected(PlatformError::message(ErrorKind::NotFound, "not found"));
      }
      return system.make(p);
    };
    return walk;
  }());
  ASSERT_FALSE(made);
  EXPECT_EQ(made.error(), exists);
  EXPECT_EQ(system.asked, (std::vector<std::string>{"C:\\t\\f\\x", "C:\\t\\f"}));
}

TEST(DirectoryWalk, AnyOtherRefusalEndsTheWalkAndKeepsWhatWasMade) {
  FakeSystem system;
  system.entries = {{"C:\\", Entry::Directory}};
  const PlatformError denied = PlatformError::message(ErrorKind::PermissionDenied, "denied");
  system.refusals = {{"C:\\a\\b", denied}};
  auto made = platform::create_directory_walk("C:\\a\\b\\c", system.walk());
  ASSERT_FALSE(made);
  EXPECT_EQ(made.error(), denied);
  // c: not found; b: denied at once, before anything was made.
  EXPECT_EQ(system.asked, (std::vector<std::string>{"C:\\a\\b\\c", "C:\\a\\b"}));
  EXPECT_FALSE(system.entries.contains("C:\\a"));

  // Refused while creating the remembered levels: the outer ones made before stay.
  FakeSystem second;
  second.entries = {{"C:\\", Entry::Directory}};
  auto walk = second.walk();
  int calls = 0;
  walk.make_directory = [&](const std::string& p) -> platform::Result<void> {
    if (++calls == 4) {  // the second level on the way down
      second.asked.push_back(p);
      return std::unexpected(denied);
    }
    return second.make(p);
  };
  auto made_second = platform::create_directory_walk("C:\\a\\b\\c", walk);
  ASSERT_FALSE(made_second);
  EXPECT_EQ(made_second.error(), denied);
  EXPECT_EQ(second.asked, (std::vector<std::string>{"C:\\a\\b\\c", "C:\\a\\b", "C:\\a", "C:\\a\\b"}));
  EXPECT_TRUE(second.entries.contains("C:\\a"));
}

TEST(DirectoryWalk, ALevelMadeMeanwhileByAnotherProcessCounts) {
  // On the way up: the level appears just as it is asked for.
  FakeSystem up;
  up.entries = {{"C:\\", Entry::Directory}, {"C:\\a", Entry::Directory}};
  up.appears_meanwhile = {{"C:\\a\\b", "another process"}};
  ASSERT_TRUE(platform::create_directory_walk("C:\\a\\b\\c", up.walk()));
  EXPECT_EQ(up.asked, (std::vector<std::string>{"C:\\a\\b\\c", "C:\\a\\b", "C:\\a\\b\\c"}));
  EXPECT_TRUE(up.entries.contains("C:\\a\\b\\c"));

  // On the way down: a remembered level exists by the time it is made.
  FakeSystem down;
  down.entries = {{"C:\\", Entry::Directory}};
  auto walk = down.walk();
  walk.make_directory = [&](const std::string& p) -> platform::Result<void> {
    if (down.asked.size() == 3) down.appears_meanwhile[p] = "another process";  // the 4th call
    return down.make(p);
  };
  ASSERT_TRUE(platform::create_directory_walk("C:\\a\\b\\c", walk));
  EXPECT_EQ(down.asked, (std::vector<std::string>{"C:\\a\\b\\c", "C:\\a\\b", "C:\\a", "C:\\a\\b",
                                                  "C:\\a\\b\\c"}));
  EXPECT_TRUE(down.entries.contains("C:\\a\\b\\c"));

  // But a file appearing there is an error.
  FakeSystem file;
  file.entries = {{"C:\\", Entry::Directory}};
  auto file_walk = file.walk();
  file_walk.make_directory = [&](const std::string& p) -> platform::Result<void> {
    if (file.asked.size() == 2) file.entries[p] = Entry::File;  // the 3rd call, on the way down
    return file.make(p);
  };
  auto made = platform::create_directory_walk("C:\\a\\b", file_walk);
  ASSERT_FALSE(made);
  EXPECT_EQ(made.error().kind(), ErrorKind::AlreadyExists);
  EXPECT_EQ(file.asked, (std::vector<std::string>{"C:\\a\\b", "C:\\a", "C:\\a\\b"}));
}

TEST(DirectoryWalk, RootsAndTheEmptyPathNeedNoCall) {
  FakeSystem system;
  for (const char* path : {"", "C:\\", "C:", "\\\\server\\share\\", "\\"}) {
    SCOPED_TRACE(::testing::PrintToString(std::string(path)));
    EXPECT_TRUE(platform::create_directory_walk(path, system.walk())) << path;
  }
  EXPECT_TRUE(system.asked.empty());
}

TEST(DirectoryWalk, ARelativePathStopsWalkingAtItsFirstComponent) {
  FakeSystem system;
  auto walk = system.walk();
  walk.make_directory = [&](const std::string& p) -> platform::Result<void> {
    system.asked.push_back(p);
    return std::unexpected(PlatformError::message(ErrorKind::NotFound, "not found"));
  };
  auto made = platform::create_directory_walk("a\\b", walk);
  ASSERT_FALSE(made);
  EXPECT_EQ(made.error().kind(), ErrorKind::NotFound);
  // Up to "a" (whose parent is empty), then down again from the outermost.
  EXPECT_EQ(system.asked, (std::vector<std::string>{"a\\b", "a", "a"}));
}

}  // namespace
