// The work directory's life and the search for the installer script, on the real file system.
#include <optional>
#include <string>

#include "payload/archive.hpp"
#include "system/fs_fixture.hpp"
#include "setup/work_directory.hpp"
#include "support/zip_builder.hpp"

namespace {

using namespace fs_test;

using WorkDirectory = TempTree;

// The script path the search must give for a folder: the folder joined with install.ps1.
std::string script_in(const std::string& folder) { return platform::join_path(folder, "install.ps1"); }

TEST_F(WorkDirectory, IsNamedAfterTheProcessInsideTheTemporaryDirectory) {
  const std::string path = setup::work_directory_path();
  const std::string name = "zarvo-setup-" + std::to_string(platform::current_process_id());
  const std::string temp = platform::temp_directory();
  ASSERT_TRUE(path.starts_with(temp)) << path;
  std::string_view rest = std::string_view(path).substr(temp.size());
  if (!temp.ends_with(separator)) {
    ASSERT_TRUE(rest.starts_with(separator)) << path;
    rest.remove_prefix(1);
  }
  EXPECT_EQ(rest, name);
  EXPECT_EQ(path, setup::work_directory_path());  // the same every time
}

TEST_F(WorkDirectory, IsCreatedWithItsParentsAndRemovedWithItsContents) {
  const std::string work = at({"temp", "zarvo-setup-77"});
  ASSERT_TRUE(setup::create_work_directory(work));
  ASSERT_TRUE(is_directory(work));
  make_directory(platform::join_path(work, "payload"));
  write_text(script_in(platform::join_path(work, "payload")), "exit 0");

  auto removed = setup::remove_work_directory(work);
  ASSERT_TRUE(removed) << describe(removed);
  EXPECT_FALSE(exists(work));
  EXPECT_TRUE(is_directory(at({"temp"})));
}

// An earlier run with the same process id left its tree: it goes before anything is extracted, so
// the new payload's script one level down is found, not the old one at the top.
TEST_F(WorkDirectory, LeftoversOfAnEarlierRunAreRemovedBeforeTheNewPayloadArrives) {
  const std::string work = at({"zarvo-setup-5"});
  make_directory(platform::join_path(work, "old"));
  write_text(script_in(work), "old script");
  write_text(platform::join_path(work, "old.txt"), "old");
  write_text(platform::join_path(platform::join_path(work, "old"), "locked.txt"), "read-only");
  make_read_only(platform::join_path(platform::join_path(work, "old"), "locked.txt"));

  ASSERT_TRUE(setup::create_work_directory(work));
  EXPECT_TRUE(is_directory(work));
  EXPECT_TRUE(stdfs::is_empty(host_path(work)));

  const auto zip = test_support::build_zip({{.name = "pkg\\install.ps1", .data = "new script"}});
  auto archive = payload::open_archive(zip.span());
  ASSERT_TRUE(archive.has_value());
  ASSERT_TRUE(payload::extract_all(*archive, work).has_value());
  const auto script = setup::locate_installer_script(work);
  EXPECT_EQ(script, script_in(platform::join_path(work, "pkg")));
  EXPECT_EQ(read_text(script.value_or("")), "new script");
}

TEST_F(WorkDirectory, AFolderLinkLeftInsideIsRemovedAndItsTargetKept) {
  SKIP_WITHOUT_LINKS();
  const std::string outside = at({"outside"});
  make_directory(outside);
  write_text(platform::join_path(outside, "keep.txt"), "untouched");
  const std::string work = at({"zarvo-setup-6"});
  make_directory(work);
  ASSERT_TRUE(platform::create_link(outside, platform::join_path(work, "outside-link"), true));

  ASSERT_TRUE(setup::create_work_directory(work));
  EXPECT_TRUE(stdfs::is_empty(host_path(work)));
  EXPECT_EQ(read_text(platform::join_path(outside, "keep.txt")), "untouched");
}

// A link to a file, or to nothing, is not a leftover tree: it stays, and the creation fails on it
// with its own error, as on a file.
TEST_F(WorkDirectory, ALinkToAFileOrToNothingFailsTheCreationWithItsOwnError) {
  SKIP_WITHOUT_LINKS();
  const std::string target = at({"target.txt"});
  write_text(target, "a file");
  for (const std::string& to : {target, at({"missing"})}) {
    SCOPED_TRACE(to);
    const std::string work = at({"zarvo-setup-7"});
    ASSERT_TRUE(platform::create_link(to, work, false));
    auto made = setup::create_work_directory(work);
    ASSERT_FALSE(made);
    EXPECT_EQ(made.error(), platform::PlatformError::os(code_already_exists));
    EXPECT_EQ(read_text(target), "a file");
    const auto status = platform::link_status(work);
    ASSERT_TRUE(status);
    EXPECT_EQ(status->kind, platform::FileKind::Link);
    stdfs::remove(host_path(work));
  }
}

TEST_F(WorkDirectory, AFileWithItsNameMakesCreationFail) {
  const std::string work = at({"zarvo-setup-6"});
  write_text(work, "in the way");
  auto made = setup::create_work_directory(work);
  ASSERT_FALSE(made);
  EXPECT_EQ(made.error(), platform::PlatformError::os(code_already_exists));
  EXPECT_EQ(read_text(work), "in the way");
}

TEST_F(WorkDirectory, ScriptAtTheRootWinsOverOneInASubfolder) {
  make_directory(at({"a"}));
  write_text(script_in(at({"a"})), "");
  write_text(script_in(root_), "");
  EXPECT_EQ(setup::locate_installer_script(root_), script_in(root_));
}

TEST_F(WorkDirectory, TheFirstListedSubfolderWins) {
  for (const char* name : {"one", "two", "three"}) {
    make_directory(at({name}));
    write_text(script_in(at({name})), "");
  }
  make_directory(at({"no-script"}));
  write_text(at({"README.md"}), "");

  // The file system decides the order; the first folder it lists that holds a script wins.
  std::optional<std::string> expected;
  for (const auto& entry : stdfs::directory_iterator(host_path(root_))) {
    const std::u8string name = entry.path().filename().u8string();
    const std::string folder = platform::join_path(root_, std::string(name.begin(), name.end()));
    if (exists(script_in(folder))) {
      expected = script_in(folder);
      break;
    }
  }
  ASSERT_TRUE(expected);
  EXPECT_EQ(setup::locate_installer_script(root_), expected);
}

TEST_F(WorkDirectory, AScriptTwoLevelsDownIsNotFound) {
  const std::string deep = at({"a", "b"});
  make_directory(deep);
  write_text(script_in(deep), "");
  write_text(at({"README.md"}), "a file entry: its candidate is below a file and never matches");
  EXPECT_EQ(setup::locate_installer_script(root_), std::nullopt);
}

TEST_F(WorkDirectory, AFolderNamedLikeTheScriptIsSearchedInto) {
  const std::string folder = at({"install.ps1"});
  make_directory(folder);
  write_text(script_in(folder), "");
  EXPECT_EQ(setup::locate_installer_script(root_), script_in(folder));
}

TEST_F(WorkDirectory, AFolderNamedLikeTheScriptIsNoScript) {
  make_directory(script_in(at({"a"})));  // a/install.ps1 is a folder
  EXPECT_EQ(setup::locate_installer_script(root_), std::nullopt);
}

// On the real file system: a link named install.ps1 that leads to a script outside, or a top-level
// folder link that leads to a folder holding one, is never the script.
TEST_F(WorkDirectory, TheScriptIsNeverReachedThroughALink) {
  SKIP_WITHOUT_LINKS();
  const std::string outside = at({"outside"});
  make_directory(outside);
  write_text(script_in(outside), "outside script");
  const std::string work = at({"work"});
  make_directory(work);
  ASSERT_TRUE(platform::create_link(script_in(outside), script_in(work), false));
  ASSERT_TRUE(platform::create_link(outside, platform::join_path(work, "pkg"), true));
  EXPECT_EQ(setup::locate_installer_script(work), std::nullopt);
}

TEST_F(WorkDirectory, NothingIsFoundInAMissingOrEmptyDirectory) {
  EXPECT_EQ(setup::locate_installer_script(at({"missing"})), std::nullopt);
  make_directory(at({"empty"}));
  EXPECT_EQ(setup::locate_installer_script(at({"empty"})), std::nullopt);
}

}  // namespace
