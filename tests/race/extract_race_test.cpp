// The setup raced by another process, which puts a link to a folder outside at the worst moment:
// after the setup has looked, before it uses what it looked at. The moment is chosen through the
// wrapped path calls (faults/posix/libc_faults.hpp), so each race is run exactly. Where the setup makes or opens
// the last thing itself (the work directory, an entry's file, an entry met during removal), the
// racer must not get anything through.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "faults/posix/libc_faults.hpp"
#include "payload/archive.hpp"
#include "platform/fs.hpp"
#include "setup/work_directory.hpp"
#include "support/zip_builder.hpp"

namespace {

namespace fs = std::filesystem;
using test_support::ZipEntry;

using Tree = std::map<std::string, std::string>;

// Everything below a folder: "<dir>" for folders, "-> target" for links, the content for files.
Tree snapshot(const fs::path& root) {
  Tree tree;
  tree[root.filename().string()] = "<dir>";
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    const std::string key = (root.filename() / it->path().lexically_relative(root)).generic_string();
    if (it->is_symlink()) {
      tree[key] = "-> " + fs::read_symlink(it->path()).string();
    } else if (it->is_directory()) {
      tree[key] = "<dir>";
    } else {
      std::ifstream in(it->path(), std::ios::binary);
      tree[key] = std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
  }
  return tree;
}

// The racer: it moves once, right before or right after the first call of the code under test that
// looks up `name` or makes something there; its own calls are not watched.
faults::Fault racer(std::string name, faults::Act when, std::function<void()> move) {
  return {.call = faults::Call::any_lookup, .act = when, .name = std::move(name), .hook = std::move(move)};
}
using faults::Act;

// Moves a folder aside and puts a link to `target` in its place (or just the link, where nothing is).
void swap_for_link(const fs::path& folder, const fs::path& aside, const fs::path& target) {
  struct stat st {};
  if (::lstat(folder.c_str(), &st) == 0 && ::rename(folder.c_str(), aside.c_str()) != 0) std::abort();
  if (::symlink(target.c_str(), folder.c_str()) != 0) std::abort();
}

class Race : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    root_ = fs::temp_directory_path() / ("zarvo-race-" + std::to_string(random()));
    fs::create_directories(root_ / "outside");
    std::ofstream(root_ / "outside" / "keep.txt") << "untouched";
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);  // the host's removal: links are removed, not followed
  }

  // Extracts the archive into `destination`, as the setup does after making its work directory.
  static std::expected<void, payload::ArchiveError> extract(const std::vector<ZipEntry>& entries,
                                                            const fs::path& destination) {
    const auto zip = test_support::build_zip(entries);
    auto archive = payload::open_archive(zip.span());
    if (!archive) {
      ADD_FAILURE() << "open failed: " << archive.error().reason_text();
      return std::unexpected(archive.error());
    }
    return payload::extract_all(*archive, destination.string());
  }

  fs::path outside() const { return root_ / "outside"; }
  Tree outside_as_it_was() const { return Tree{{"outside", "<dir>"}, {"outside/keep.txt", "untouched"}}; }
  // The whole scratch folder once a tree in it is gone: the folder outside alone, untouched.
  Tree only_outside_left() const {
    const std::string top = root_.filename().string();
    return Tree{{top, "<dir>"}, {top + "/outside", "<dir>"}, {top + "/outside/keep.txt", "untouched"}};
  }

  fs::path root_;
};

ZipEntry file(std::string name, std::string data) { return ZipEntry{.name = std::move(name), .data = std::move(data)}; }

// The entry's own name: the walk finds nothing there, and right then a link to a file outside
// appears under that name. The file is created without following a link at its last component,
// so the file outside keeps its content.
TEST_F(Race, LinkAppearingAtTheEntrysOwnNameIsNotWrittenThrough) {
  const fs::path dest = root_ / "dest";
  fs::create_directories(dest);
  faults::Armed moved(racer("evil.txt", Act::After, [&] {
    swap_for_link(dest / "evil.txt", dest / "moved.txt", outside() / "keep.txt");
  }));

  (void)extract({file("evil.txt", "evil")}, dest);

  ASSERT_EQ(moved.taken(), 1) << "the racer never moved: the extraction reached evil.txt through no watched call";
  EXPECT_EQ(snapshot(outside()), outside_as_it_was());
}

// The work directory's name is predictable. The setup looks whether a leftover is there; right
// after that look, the racer puts a link to a folder outside under that name (or, if the setup
// made the folder in that very call, moves it aside first).
TEST_F(Race, LinkPutWhereTheWorkDirectoryIsToBeIsNeverExtractedInto) {
  const fs::path work = root_ / "zarvo-setup-race";
  faults::Armed moved(racer("zarvo-setup-race", Act::After, [&] { swap_for_link(work, root_ / "moved", outside()); }));

  if (setup::create_work_directory(work.string())) {
    (void)extract({file("install.ps1", "evil"), file("bin/zarvo.exe", "evil")}, work);
  }

  ASSERT_EQ(moved.taken(), 1) << "the racer never moved: the work directory was made through no watched call";
  EXPECT_EQ(snapshot(outside()), outside_as_it_was());
}

// The same racer against the tree removal: it has listed dest/sub as a folder and is about to open
// it; right then dest/sub becomes a link to the folder outside. The removal opens every entry
// relative to its folder without following, so the link goes and the folder outside stays.
TEST_F(Race, FolderSwappedForALinkDuringTheTreeRemovalIsNotFollowed) {
  const fs::path tree = root_ / "tree";
  fs::create_directories(tree / "sub" / "deeper");
  std::ofstream(tree / "sub" / "deeper" / "f.txt") << "f";
  std::ofstream(tree / "top.txt") << "t";
  faults::Armed moved(racer("sub", Act::Before, [&] { swap_for_link(tree / "sub", root_ / "moved", outside()); }));

  const auto removed = platform::remove_directory_all(tree.string());

  ASSERT_EQ(moved.taken(), 1) << "the racer never moved: the removal reached sub through no watched call";
  ASSERT_TRUE(removed.has_value()) << platform::error_text(removed.error());
  EXPECT_EQ(snapshot(root_), (Tree{{root_.filename().string(), "<dir>"},
                                   {root_.filename().string() + "/moved", "<dir>"},
                                   {root_.filename().string() + "/moved/deeper", "<dir>"},
                                   {root_.filename().string() + "/moved/deeper/f.txt", "f"},
                                   {root_.filename().string() + "/outside", "<dir>"},
                                   {root_.filename().string() + "/outside/keep.txt", "untouched"}}));
}

// The racer adds a file to the tree after the removal has listed the tree's top: the top is not
// empty when its turn comes, so the removal lists it again and takes the newcomer too.
TEST_F(Race, AnEntryCreatedDuringTheTreeRemovalIsRemovedByAnotherPass) {
  const fs::path tree = root_ / "tree";
  fs::create_directories(tree / "sub");
  std::ofstream(tree / "sub" / "f.txt") << "f";
  faults::Armed moved(racer("sub", Act::After, [&] { std::ofstream(tree / "late.txt") << "late"; }));

  const auto removed = platform::remove_directory_all(tree.string());

  ASSERT_EQ(moved.taken(), 1) << "the racer never moved: the removal reached sub through no watched call";
  ASSERT_TRUE(removed.has_value()) << platform::error_text(removed.error());
  EXPECT_EQ(snapshot(root_), only_outside_left());
}

// The racer changes dest/sub after the removal listed it as a folder and before it opens it: gone
// altogether, or a file now. The removal takes what is there and ends without an error.
TEST_F(Race, AFolderGoneOrMadeAFileBeforeTheRemovalOpensItIsTakenAsItIsNow) {
  const std::pair<std::string, std::function<void(const fs::path&)>> moves[] = {
      {"gone", [](const fs::path& sub) { fs::remove_all(sub); }},
      {"a file", [](const fs::path& sub) {
         fs::remove_all(sub);
         std::ofstream(sub) << "now a file";
       }},
  };
  for (const auto& [what, move] : moves) {
    SCOPED_TRACE(what);
    const fs::path tree = root_ / "tree";
    fs::create_directories(tree / "sub");
    std::ofstream(tree / "sub" / "f.txt") << "f";
    std::ofstream(tree / "top.txt") << "t";
    faults::Armed moved(racer("sub", Act::Before, [&, move = move] { move(tree / "sub"); }));

    const auto removed = platform::remove_directory_all(tree.string());

    ASSERT_EQ(moved.taken(), 1) << "the racer never moved: the removal reached sub through no watched call";
    ASSERT_TRUE(removed.has_value()) << platform::error_text(removed.error());
    EXPECT_EQ(snapshot(root_), only_outside_left());
  }
}

}  // namespace
