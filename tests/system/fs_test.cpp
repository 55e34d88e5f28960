// The file-system operations against the real file system of the lane (Wine for windows).
#include <algorithm>
#include <cstddef>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "platform/fs.hpp"
#include "system/fs_fixture.hpp"

namespace {

using namespace fs_test;
using platform::ErrorKind;
using platform::PlatformError;

std::span<const std::byte> bytes_of(std::string_view text) { return std::as_bytes(std::span(text)); }

std::set<std::string> names_listed(const std::string& directory) {
  std::set<std::string> names;
  auto listing = platform::list_directory(directory);
  EXPECT_TRUE(listing) << describe(listing);
  if (!listing) return names;
  while (auto entry = platform::next_entry(*listing)) {
    EXPECT_TRUE(*entry) << describe(*entry);
    if (*entry) {
      EXPECT_TRUE(names.insert((*entry)->name).second) << "listed twice: " << (*entry)->name;
    }
  }
  return names;
}

void expect_os_error(const platform::Result<void>& result, std::uint32_t code) {
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), PlatformError::os(code)) << platform::error_text(result.error());
}

using FileSystem = TempTree;

// ---- create_directory_all ----------------------------------------------------------------------

TEST_F(FileSystem, CreatingAnExistingDirectoryLeavesItsContentsAlone) {
  const std::string dir = at({"kept"});
  make_directory(platform::join_path(dir, "inner"));
  write_text(platform::join_path(dir, "old.txt"), "old contents");

  ASSERT_TRUE(platform::create_directory_all(dir));

  EXPECT_EQ(names_listed(dir), (std::set<std::string>{"inner", "old.txt"}));
  EXPECT_EQ(read_text(platform::join_path(dir, "old.txt")), "old contents");
}

TEST_F(FileSystem, CreatingWhereAFileIsInTheWayFailsAsAlreadyExisting) {
  const std::string file = at({"occupied"});
  write_text(file, "a file");

  auto made = platform::create_directory_all(file);
  expect_os_error(made, code_already_exists);
  EXPECT_EQ(made.error().kind(), ErrorKind::AlreadyExists);
  EXPECT_EQ(read_text(file), "a file");

  // A file in the way of a parent fails too, and nothing is made beside it.
#ifdef _WIN32
  const std::uint32_t parent_code = code_already_exists;  // the walk meets the file itself
#else
  const std::uint32_t parent_code = ENOTDIR;
#endif
  expect_os_error(platform::create_directory_all(platform::join_path(file, "below")), parent_code);
  EXPECT_EQ(names_listed(root_), (std::set<std::string>{"occupied"}));
}

// One directory alone: made where its parent is; anything already under the name, a directory
// included, fails it.
TEST_F(FileSystem, CreatingOneDirectoryTakesNothingAlreadyThere) {
  const std::string made = at({"made"});
  ASSERT_TRUE(platform::create_directory(made));
  EXPECT_TRUE(is_directory(made));
  expect_os_error(platform::create_directory(made), code_already_exists);
  write_text(at({"file"}), "in the way");
  expect_os_error(platform::create_directory(at({"file"})), code_already_exists);
  expect_os_error(platform::create_directory(at({"missing", "below"})), code_path_not_found);
  EXPECT_EQ(read_text(at({"file"})), "in the way");
}

TEST_F(FileSystem, CreatingMakesEveryMissingLevel) {
  const std::string outer = at({"outer"});
  const std::string inner = platform::join_path(outer, "inner");

  ASSERT_TRUE(platform::create_directory_all(inner));

  EXPECT_TRUE(is_directory(outer));
  EXPECT_TRUE(is_directory(inner));
  EXPECT_EQ(names_listed(outer), (std::set<std::string>{"inner"}));
  EXPECT_EQ(names_listed(inner), std::set<std::string>{});
}

TEST_F(FileSystem, CreatingTheEmptyPathOrARootSucceeds) {
  EXPECT_TRUE(platform::create_directory_all(""));
#ifdef _WIN32
  EXPECT_TRUE(platform::create_directory_all("C:\\"));
#else
  EXPECT_TRUE(platform::create_directory_all("/"));
#endif
}

TEST_F(FileSystem, PathsHoldingANulAreRefusedBeforeAnyCall) {
  const std::string path = root_ + std::string("\0x", 2);
  const PlatformError refused = platform::nul_in_data_error();
  EXPECT_EQ(platform::create_directory_all(path).error(), refused);
  EXPECT_EQ(platform::path_status(path).error(), refused);
  EXPECT_EQ(platform::link_status(path).error(), refused);
  EXPECT_EQ(platform::list_directory(path).error(), refused);
  EXPECT_EQ(platform::remove_directory_all(path).error(), refused);
  EXPECT_EQ(platform::create_file(path).error(), refused);
  EXPECT_EQ(platform::resolve_path(path).error(), refused);
  EXPECT_EQ(platform::read_link(path).error(), refused);
  EXPECT_EQ(platform::create_link(path, at({"l"}), false).error(), refused);
  EXPECT_FALSE(platform::is_file(path));
  EXPECT_EQ(platform::error_text(refused), "nul byte found in provided data");
  EXPECT_TRUE(exists(root_));  // the cut-short path was not acted on
}

// ---- status and the is-file test ---------------------------------------------------------------

TEST_F(FileSystem, StatusTellsFilesFromDirectories) {
  const std::string file = at({"five.txt"});
  write_text(file, "12345");
  const std::string dir = at({"dir"});
  make_directory(dir);

  for (const auto& [call, status] :
       {std::pair{"path_status", platform::path_status(file)}, std::pair{"link_status", platform::link_status(file)}}) {
    SCOPED_TRACE(call);
    ASSERT_TRUE(status) << describe(status);
    EXPECT_EQ(status->size, 5u);
    EXPECT_EQ(status->kind, platform::FileKind::File);
  }
  for (const auto& [call, status] :
       {std::pair{"path_status", platform::path_status(dir)}, std::pair{"link_status", platform::link_status(dir)}}) {
    SCOPED_TRACE(call);
    ASSERT_TRUE(status) << describe(status);
    EXPECT_EQ(status->kind, platform::FileKind::Directory);
  }

  auto missing = platform::path_status(at({"missing"}));
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error(), PlatformError::os(code_file_not_found));
  EXPECT_EQ(missing.error().kind(), ErrorKind::NotFound);

  EXPECT_TRUE(platform::is_file(file));
  EXPECT_FALSE(platform::is_file(dir));
  EXPECT_FALSE(platform::is_file(at({"missing"})));
  EXPECT_FALSE(platform::is_file(platform::join_path(file, "below")));
}

TEST_F(FileSystem, StatusAndIsFileThroughLinks) {
  SKIP_WITHOUT_LINKS();
  const std::string file = at({"file.txt"});
  write_text(file, "abc");
  const std::string dir = at({"dir"});
  make_directory(dir);
  const std::string to_file = at({"to-file"});
  const std::string to_dir = at({"to-dir"});
  const std::string dangling = at({"dangling"});
  ASSERT_TRUE(platform::create_link(file, to_file, false));
  ASSERT_TRUE(platform::create_link(dir, to_dir, true));
  ASSERT_TRUE(platform::create_link(at({"nothing"}), dangling, false));

  EXPECT_TRUE(platform::is_file(to_file));
  EXPECT_FALSE(platform::is_file(to_dir));
  EXPECT_FALSE(platform::is_file(dangling));

  auto followed = platform::path_status(to_dir);
  ASSERT_TRUE(followed) << describe(followed);
  EXPECT_EQ(followed->kind, platform::FileKind::Directory);

  for (const auto& link : {to_file, to_dir, dangling}) {
    SCOPED_TRACE(link);
    auto itself = platform::link_status(link);
    ASSERT_TRUE(itself) << link << ": " << describe(itself);
    EXPECT_EQ(itself->kind, platform::FileKind::Link) << link;
  }
  EXPECT_FALSE(platform::path_status(dangling));
}

// ---- listings ----------------------------------------------------------------------------------

TEST_F(FileSystem, ListingAnEmptyDirectoryGivesNothing) {
  const std::string dir = at({"empty"});
  make_directory(dir);
  auto listing = platform::list_directory(dir);
  ASSERT_TRUE(listing) << describe(listing);
  EXPECT_FALSE(platform::next_entry(*listing).has_value());
  EXPECT_FALSE(platform::next_entry(*listing).has_value());  // stays at its end
}

TEST_F(FileSystem, ListingGivesEachEntryOnceWithItsPath) {
  const std::string dir = at({"full"});
  make_directory(platform::join_path(platform::join_path(dir, "sub"), "not-listed"));
  write_text(platform::join_path(dir, "a"), "");
  write_text(platform::join_path(dir, "b.txt"), "");
  write_text(platform::join_path(dir, "\xC3\xA9t\xC3\xA9 \xE2\x82\xAC.txt"), "");  // non-ASCII name

  auto listing = platform::list_directory(dir);
  ASSERT_TRUE(listing) << describe(listing);
  std::vector<std::string> names;
  while (auto entry = platform::next_entry(*listing)) {
    ASSERT_TRUE(*entry) << describe(*entry);
    EXPECT_EQ((*entry)->directory, dir);
    EXPECT_EQ(platform::entry_path(**entry), platform::join_path(dir, (*entry)->name));
    names.push_back((*entry)->name);
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"a", "b.txt", "sub", "\xC3\xA9t\xC3\xA9 \xE2\x82\xAC.txt"}));
}

TEST_F(FileSystem, ListingAMissingDirectoryOrTheEmptyPathFails) {
  auto missing = platform::list_directory(at({"missing"}));
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error(), PlatformError::os(code_path_not_found));

  auto empty = platform::list_directory("");
  ASSERT_FALSE(empty);
  EXPECT_EQ(empty.error(), PlatformError::os(code_path_not_found));
}

// ---- files -------------------------------------------------------------------------------------

TEST_F(FileSystem, CreatedFileTakesEveryWrite) {
  const std::string path = at({"new.bin"});
  auto file = platform::create_file(path);
  ASSERT_TRUE(file) << describe(file);
  ASSERT_TRUE(platform::write_file(*file, bytes_of("hello\n")));
  ASSERT_TRUE(platform::write_file(*file, {}));
  ASSERT_TRUE(platform::write_file(*file, bytes_of("world")));
  platform::close_file(std::move(*file));
  EXPECT_EQ(read_text(path), "hello\nworld");
}

TEST_F(FileSystem, CreatingAnExistingFileEmptiesIt) {
  const std::string path = at({"old.txt"});
  write_text(path, std::string(1000, 'x'));

  auto file = platform::create_file(path);
  ASSERT_TRUE(file) << describe(file);
  auto emptied = platform::path_status(path);
  ASSERT_TRUE(emptied) << describe(emptied);
  EXPECT_EQ(emptied->size, 0u);
  ASSERT_TRUE(platform::write_file(*file, bytes_of("new")));
  platform::close_file(std::move(*file));

  EXPECT_EQ(read_text(path), "new");
}

// Whatever the link points at, creating a file at its path opens the link itself and refuses it:
// no target is created, emptied or written.
TEST_F(FileSystem, CreatingAFileAtALinkFailsWithoutTouchingTheTarget) {
  SKIP_WITHOUT_LINKS();
  const std::string target = at({"target.txt"});
  write_text(target, "untouched");
  const std::string to_file = at({"to-file"});
  const std::string dangling = at({"dangling"});
  ASSERT_TRUE(platform::create_link(target, to_file, false));
  ASSERT_TRUE(platform::create_link(at({"never-made.txt"}), dangling, false));
#ifdef _WIN32
  const PlatformError refused = PlatformError::os(681);  // stopped on a symbolic link
#else
  const PlatformError refused = PlatformError::os(ELOOP);
#endif
  for (const std::string& link : {to_file, dangling}) {
    SCOPED_TRACE(link);
    auto file = platform::create_file(link);
    ASSERT_FALSE(file);
    EXPECT_EQ(file.error(), refused) << describe(file);
  }
  EXPECT_EQ(read_text(target), "untouched");
  EXPECT_FALSE(exists(at({"never-made.txt"})));
}

TEST_F(FileSystem, LargeWritesArriveWhole) {
  std::string data(3 * 1024 * 1024 + 7, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 131) >> 3);
  const std::string path = at({"large.bin"});
  auto file = platform::create_file(path);
  ASSERT_TRUE(file) << describe(file);
  ASSERT_TRUE(platform::write_file(*file, bytes_of(data)));
  platform::close_file(std::move(*file));
  EXPECT_TRUE(read_text(path) == data);
}

// ---- resolve_path ------------------------------------------------------------------------------

#ifndef _WIN32
// A write the system refuses is an error, not a short success: the full device refuses every byte.
TEST_F(FileSystem, AWriteTheSystemRefusesFailsWithItsError) {
  auto file = platform::create_file("/dev/full");
  ASSERT_TRUE(file) << describe(file);
  const std::string bytes(100, 'x');
  expect_os_error(platform::write_file(*file, std::as_bytes(std::span(bytes))), ENOSPC);
}
#endif

TEST_F(FileSystem, ResolvingGivesTheFinalPathOfTheSameDirectory) {
  const std::string dir = at({"resolved"});
  make_directory(dir);
  auto resolved = platform::resolve_path(platform::join_path(dir, "."));
  ASSERT_TRUE(resolved) << describe(resolved);
  EXPECT_TRUE(resolved->ends_with(std::string(1, separator) + "resolved")) << *resolved;
  auto again = platform::resolve_path(*resolved);
  ASSERT_TRUE(again) << describe(again);
  EXPECT_EQ(*again, *resolved);

  auto missing = platform::resolve_path(at({"missing"}));
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().kind(), ErrorKind::NotFound);
}

// ---- links -------------------------------------------------------------------------------------

TEST_F(FileSystem, LinksGiveBackTheirTargets) {
  SKIP_WITHOUT_LINKS();
  const std::string target = at({"target"});
  make_directory(target);
  write_text(at({"file.txt"}), "x");
  const std::string absolute = at({"absolute"});
  const std::string relative = at({"relative"});
  ASSERT_TRUE(platform::create_link(target, absolute, true));
  ASSERT_TRUE(platform::create_link("file.txt", relative, false));

  auto read_absolute = platform::read_link(absolute);
  ASSERT_TRUE(read_absolute) << describe(read_absolute);
  EXPECT_EQ(*read_absolute, target);
  auto read_relative = platform::read_link(relative);
  ASSERT_TRUE(read_relative) << describe(read_relative);
  EXPECT_EQ(*read_relative, "file.txt");
  EXPECT_TRUE(platform::is_file(relative));  // relative to the link's own folder
}

TEST_F(FileSystem, ReadingAnOrdinaryFileAsALinkFails) {
  write_text(at({"plain"}), "x");
  EXPECT_FALSE(platform::read_link(at({"plain"})));
  EXPECT_FALSE(platform::read_link(at({"missing"})));
}

// ---- remove_directory_all ----------------------------------------------------------------------

TEST_F(FileSystem, RemovingATreeTakesEverythingIncludingReadOnlyFiles) {
  const std::string tree = at({"tree"});
  const std::string sub = platform::join_path(tree, "sub");
  const std::string deeper = platform::join_path(sub, "deeper");
  make_directory(deeper);
  make_directory(platform::join_path(tree, "empty"));
  write_text(platform::join_path(tree, "a.txt"), "a");
  write_text(platform::join_path(tree, "read-only.txt"), "r");
  write_text(platform::join_path(sub, "b.txt"), "b");
  write_text(platform::join_path(deeper, "read-only too"), "r");
  make_read_only(platform::join_path(tree, "read-only.txt"));
  make_read_only(platform::join_path(deeper, "read-only too"));
  for (int i = 0; i < 300; ++i) write_text(platform::join_path(sub, "many-" + std::to_string(i)), "m");
  write_text(at({"beside"}), "stays");

  auto removed = platform::remove_directory_all(tree);
  ASSERT_TRUE(removed) << describe(removed);

  EXPECT_FALSE(exists(tree));
  EXPECT_EQ(names_listed(root_), (std::set<std::string>{"beside"}));
  EXPECT_EQ(read_text(at({"beside"})), "stays");
}

TEST_F(FileSystem, RemovingAFileOrAMissingPathFails) {
  const std::string file = at({"file.txt"});
  write_text(file, "kept");
  expect_os_error(platform::remove_directory_all(file), code_not_a_directory);
  EXPECT_EQ(read_text(file), "kept");

  expect_os_error(platform::remove_directory_all(at({"missing"})), code_file_not_found);
  expect_os_error(platform::remove_directory_all(at({"missing", "below"})), code_path_not_found);
}

TEST_F(FileSystem, RemovingATreeRemovesLinksButNeverTheirTargets) {
  SKIP_WITHOUT_LINKS();
  const std::string outside = at({"outside"});
  make_directory(platform::join_path(outside, "nested"));
  write_text(platform::join_path(outside, "keep.txt"), "keep");
  write_text(at({"outside.txt"}), "keep too");

  const std::string tree = at({"tree"});
  const std::string inner = platform::join_path(tree, "inner");
  make_directory(platform::join_path(inner, "real"));
  write_text(platform::join_path(inner, "real-file"), "r");
  ASSERT_TRUE(platform::create_link(outside, platform::join_path(tree, "to-outside"), true));
  ASSERT_TRUE(platform::create_link(outside, platform::join_path(inner, "to-outside-again"), true));
  ASSERT_TRUE(platform::create_link(platform::join_path(inner, "real"), platform::join_path(tree, "to-inside"), true));
  ASSERT_TRUE(platform::create_link(at({"outside.txt"}), platform::join_path(inner, "to-file"), false));

  auto removed = platform::remove_directory_all(tree);
  ASSERT_TRUE(removed) << describe(removed);

  EXPECT_FALSE(exists(tree));
  EXPECT_EQ(names_listed(outside), (std::set<std::string>{"nested", "keep.txt"}));
  EXPECT_EQ(read_text(platform::join_path(outside, "keep.txt")), "keep");
  EXPECT_EQ(read_text(at({"outside.txt"})), "keep too");
}

TEST_F(FileSystem, RemovingALinkRemovesOnlyTheLink) {
  SKIP_WITHOUT_LINKS();
  const std::string target = at({"target"});
  make_directory(target);
  write_text(platform::join_path(target, "keep.txt"), "keep");
  const std::string link = at({"link"});
  ASSERT_TRUE(platform::create_link(target, link, true));

  auto removed = platform::remove_directory_all(link);
  ASSERT_TRUE(removed) << describe(removed);

  EXPECT_FALSE(exists(link));
  EXPECT_EQ(read_text(platform::join_path(target, "keep.txt")), "keep");

  // A link to a file is not a directory, and stays.
  const std::string file_link = at({"file-link"});
  ASSERT_TRUE(platform::create_link(platform::join_path(target, "keep.txt"), file_link, false));
  expect_os_error(platform::remove_directory_all(file_link), code_not_a_directory);
  EXPECT_TRUE(exists(file_link));
}

// ---- long paths --------------------------------------------------------------------------------

TEST_F(FileSystem, APathOf300CharactersWorksThroughout) {
  const std::string top = at({"long"});
  std::string path = top;
  while (path.size() < 300 - 41) path = platform::join_path(path, std::string(40, 'd'));
  path = platform::join_path(path, std::string(300 - path.size() - 1, 'e'));
  ASSERT_EQ(path.size(), 300u);

  ASSERT_TRUE(platform::create_directory_all(path));
  auto status = platform::path_status(path);
  ASSERT_TRUE(status) << describe(status);
  EXPECT_EQ(status->kind, platform::FileKind::Directory);

  const std::string file_path = platform::join_path(path, "file.txt");
  auto file = platform::create_file(file_path);
  ASSERT_TRUE(file) << describe(file);
  ASSERT_TRUE(platform::write_file(*file, bytes_of("at depth")));
  platform::close_file(std::move(*file));
  EXPECT_TRUE(platform::is_file(file_path));
  auto file_status = platform::path_status(file_path);
  ASSERT_TRUE(file_status);
  EXPECT_EQ(file_status->size, 8u);

  EXPECT_EQ(names_listed(path), (std::set<std::string>{"file.txt"}));

  auto removed = platform::remove_directory_all(top);
  ASSERT_TRUE(removed) << describe(removed);
  EXPECT_FALSE(exists(top));
}

TEST_F(FileSystem, ResolvingAPathOf300Characters) {
  std::string path = at({"long"});
  while (path.size() < 300 - 41) path = platform::join_path(path, std::string(40, 'd'));
  const std::string last(300 - path.size() - 1, 'e');
  path = platform::join_path(path, last);
  ASSERT_TRUE(platform::create_directory_all(path));

  auto resolved = platform::resolve_path(path);
#ifdef _WIN32
  if (!resolved && resolved.error() == PlatformError::os(234)) {
    GTEST_SKIP() << "GetFinalPathNameByHandleW fails with ERROR_MORE_DATA (234) for a path longer than "
                    "MAX_PATH whatever the buffer (Wine)";
  }
#endif
  ASSERT_TRUE(resolved) << describe(resolved);
  EXPECT_GE(resolved->size(), 300u);
  EXPECT_TRUE(resolved->ends_with(std::string(1, separator) + last)) << *resolved;
}

}  // namespace
