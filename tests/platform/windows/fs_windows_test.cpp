// Windows-only behaviour of the file-system operations.
#include <windows.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/fs.hpp"
#include "platform/fs_fixture.hpp"
#include "platform/text.hpp"

namespace {

using namespace fs_test;

using FileSystemWindows = TempTree;

std::wstring wide(std::string_view utf8) {
  const std::u16string text = platform::to_utf16_unchecked(utf8);
  return std::wstring(text.begin(), text.end());
}

bool running_under_wine() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
}

TEST_F(FileSystemWindows, ResolvedDirectoryBeginsWithTheVerbatimPrefix) {
  const std::string dir = at({"resolved"});
  make_directory(dir);
  auto resolved = platform::resolve_path(dir);
  ASSERT_TRUE(resolved) << describe(resolved);
  EXPECT_TRUE(resolved->starts_with("\\\\?\\")) << *resolved;
  EXPECT_TRUE(resolved->ends_with("\\resolved")) << *resolved;
}

TEST_F(FileSystemWindows, AFileHeldOpenWithoutSharingIsStillAFile) {
  const std::string path = at({"held.txt"});
  write_text(path, "held");
  const HANDLE held = ::CreateFileW(wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(platform::is_file(path));
  auto status = platform::path_status(path);
  ::CloseHandle(held);
  ASSERT_TRUE(status) << describe(status);
  EXPECT_EQ(status->size, 4u);
}

// A file that another process holds without sharing deletion still fails as "not a directory":
// the top is examined before delete or list rights are asked for.
TEST_F(FileSystemWindows, RemovingAFileHeldWithoutDeleteSharingFailsAsNotADirectory) {
  const std::string path = at({"held.txt"});
  write_text(path, "held");
  const HANDLE held = ::CreateFileW(wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  auto removed = platform::remove_directory_all(path);
  ::CloseHandle(held);
  ASSERT_FALSE(removed);
  EXPECT_EQ(removed.error(), platform::PlatformError::os(ERROR_DIRECTORY)) << describe(removed);
  EXPECT_EQ(read_text(path), "held");
}

TEST_F(FileSystemWindows, CreatingTheDriveRootSucceeds) {
  EXPECT_TRUE(platform::create_directory_all("C:\\"));
  EXPECT_TRUE(platform::create_directory_all("C:"));
}

TEST_F(FileSystemWindows, ListingFindsEntriesThroughForwardSlashesAndATrailingSeparator) {
  const std::string dir = at({"dir"});
  make_directory(dir);
  write_text(platform::join_path(dir, "x"), "");
  std::string slashed = dir + "\\";
  for (char& c : slashed) c = c == '\\' ? '/' : c;
  auto listing = platform::list_directory(slashed);
  ASSERT_TRUE(listing) << describe(listing);
  auto entry = platform::next_entry(*listing);
  ASSERT_TRUE(entry && *entry);
  EXPECT_EQ(platform::entry_path(**entry), slashed + "x");
  EXPECT_FALSE(platform::next_entry(*listing));
}

// Under Wine, links can only come from the host side (ln -s), and Wine follows them even when told
// not to: through a handle a linked folder looks like the folder itself, and deleting through that
// handle deletes the target. The removal must refuse such an entry rather than touch the target.
class HostLinks : public TempTree {
 protected:
  // Starts a host program through Wine's support for Unix executables. Wine gives no usable
  // process handle for it, so callers wait for its effect instead.
  static bool start_host(std::wstring command_line) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process)) {
      return false;
    }
    if (process.hThread) ::CloseHandle(process.hThread);
    if (process.hProcess) ::CloseHandle(process.hProcess);
    return true;
  }

  // Waits up to ten seconds for the entry to be there (or gone); its attributes at the end.
  static DWORD await_attributes(const std::string& path, bool present) {
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    for (int i = 0; i < 1000; ++i) {
      attributes = ::GetFileAttributesW(wide(path).c_str());
      if ((attributes != INVALID_FILE_ATTRIBUTES) == present) break;
      ::Sleep(10);
    }
    return attributes;
  }

  static std::wstring unix_name(const std::string& path) {
    using Convert = char*(CDECL*)(LPCWSTR);
    const auto convert = reinterpret_cast<Convert>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!convert) return {};
    char* name = convert(wide(path).c_str());
    if (!name) return {};
    std::wstring result = wide(name);
    ::HeapFree(::GetProcessHeap(), 0, name);
    return result;
  }

  // Makes a host-side link; the reason it cannot be made otherwise.
  std::optional<std::string> make_host_link(const std::string& target, const std::string& link) {
    if (!running_under_wine()) return "host-side links exist only under Wine";
    const std::wstring unix_target = unix_name(target);
    const std::wstring unix_link = unix_name(link);
    if (unix_target.empty() || unix_link.empty()) return "Wine gives no host names for these paths";
    links_.emplace_back(link, unix_link);  // removed on the host side even if it only half worked
    if (!start_host(L"/bin/ln -s \"" + unix_target + L"\" \"" + unix_link + L"\"")) {
      return "Wine cannot start /bin/ln here";
    }
    // The system lists such a link as a linked folder: directory and reparse point, with no tag.
    const DWORD attributes = await_attributes(link, true);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      return "the link made by /bin/ln did not appear";
    }
    return std::nullopt;
  }

  void TearDown() override {
    // Wine deletes a linked folder's target through the link: the links go on the host side first.
    for (const auto& [link, unix_link] : links_) {
      if (start_host(L"/bin/rm -f \"" + unix_link + L"\"")) await_attributes(link, false);
    }
    TempTree::TearDown();
  }

  std::vector<std::pair<std::string, std::wstring>> links_;
};

TEST_F(HostLinks, ALinkedFolderInsideATreeIsNeverEnteredNorItsTargetDeleted) {
  // A target with contents, and an empty one (which a delete through the link would remove).
  for (const bool with_contents : {true, false}) {
    SCOPED_TRACE(with_contents ? "target with contents" : "empty target");
    const std::string case_root = at({with_contents ? "full" : "empty"});
    const std::string target = platform::join_path(case_root, "target");
    make_directory(target);
    if (with_contents) write_text(platform::join_path(target, "keep.txt"), "keep");
    const std::string tree = platform::join_path(case_root, "tree");
    make_directory(tree);
    write_text(platform::join_path(tree, "plain.txt"), "p");
    if (auto why = make_host_link(target, platform::join_path(tree, "link"))) GTEST_SKIP() << *why;

    auto removed = platform::remove_directory_all(tree);
    ASSERT_FALSE(removed);
    EXPECT_EQ(removed.error(), platform::PlatformError::os(4395)) << describe(removed);

    ASSERT_TRUE(is_directory(target));
    if (with_contents) {
      EXPECT_EQ(read_text(platform::join_path(target, "keep.txt")), "keep");
    }
  }
}

TEST_F(HostLinks, ALinkedFolderAtTheTopIsRefusedBeforeAnythingIsDeleted) {
  const std::string target = at({"target"});
  make_directory(target);
  write_text(platform::join_path(target, "keep.txt"), "keep");
  const std::string link = at({"link"});
  if (auto why = make_host_link(target, link)) GTEST_SKIP() << *why;

  auto removed = platform::remove_directory_all(link);
  ASSERT_FALSE(removed);
  EXPECT_EQ(removed.error(), platform::PlatformError::os(4395)) << describe(removed);
  EXPECT_EQ(read_text(platform::join_path(target, "keep.txt")), "keep");
}

}  // namespace
