// Windows-only behaviour of the file-system operations.
#include <windows.h>

#include <chrono>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "payload/archive.hpp"
#include "platform/fs.hpp"
#include "system/fs_fixture.hpp"
#include "platform/text.hpp"
#include "support/zip_builder.hpp"

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

// Another holder of a file inside the tree: opened for reading, sharing what `share` says.
class HeldFile {
 public:
  HeldFile(const std::string& path, DWORD share)
      : handle_(::CreateFileW(wide(path).c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr)) {}
  ~HeldFile() { release(); }
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;
  bool held() const { return handle_ != INVALID_HANDLE_VALUE; }
  void release() {
    if (held()) ::CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE handle_;
};

// Deletion is refused while someone holds the file without sharing deletion, as antivirus,
// backup and indexing tools do for a moment with a fresh file: the removal waits for the holder to
// let go, and then removes the whole tree.
TEST_F(FileSystemWindows, RemovingATreeWaitsForAFileHeldForAMoment) {
  const std::string tree = at({"tree"});
  make_directory(tree);
  const std::string held_path = platform::join_path(tree, "held.txt");
  write_text(held_path, "held");
  HeldFile held(held_path, FILE_SHARE_READ | FILE_SHARE_WRITE);
  ASSERT_TRUE(held.held());
  std::thread holder([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    held.release();
  });
  auto removed = platform::remove_directory_all(tree);
  holder.join();
  ASSERT_TRUE(removed) << describe(removed);
  EXPECT_FALSE(exists(tree));
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

// The names a folder lists, through the standard library.
std::set<std::string> names_listed(const std::string& directory) {
  std::set<std::string> names;
  for (const auto& entry : stdfs::directory_iterator(host_path(directory))) {
    const std::u8string name = entry.path().filename().u8string();
    names.emplace(name.begin(), name.end());
  }
  return names;
}

// What a folder holds, as the system lists it through its verbatim path: name to content
// (folders as "<dir>" with their entries below as "folder\\name"), read back through verbatim
// paths too, so that no name is rewritten on the way.
std::map<std::string, std::string> verbatim_tree(const std::string& resolved, const std::string& prefix = "") {
  std::map<std::string, std::string> tree;
  WIN32_FIND_DATAW data{};
  const HANDLE search = ::FindFirstFileW(wide(resolved + "\\*").c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return tree;
  do {
    const std::wstring name_wide = data.cFileName;
    if (name_wide == L"." || name_wide == L"..") continue;
    const std::string name = platform::from_utf16(std::u16string(name_wide.begin(), name_wide.end()));
    const std::string path = resolved + "\\" + name;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      tree[prefix + name] = "<dir>";
      tree.merge(verbatim_tree(path, prefix + name + "\\"));
      continue;
    }
    std::string content = "<unreadable>";
    const HANDLE file = ::CreateFileW(wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      char buffer[256];
      DWORD read = 0;
      content.clear();
      while (::ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) content.append(buffer, read);
      ::CloseHandle(file);
    }
    tree[prefix + name] = content;
  } while (::FindNextFileW(search, &data));
  ::FindClose(search);
  return tree;
}

// Below the verbatim base the extraction joins onto, names that Windows rewrites in an ordinary
// path (device names with or without an extension, trailing dots and spaces) would be files that
// Explorer and PowerShell cannot open or delete: each is refused before anything is made of it, and
// no entry's data goes to a device or to another name. CONIN$ is a device only as a whole path.
TEST_F(FileSystemWindows, NamesAnOrdinaryPathWouldRewriteAreRefused) {
  for (const std::string name : {"CON", "nul.txt", "sub\\com1.log", "aux", "x.", "y ", "lpt\xC2\xB9", "sub\\PRN.",
                                  "z. .", "sub \\a.txt"}) {
    SCOPED_TRACE(name);
    const std::string dest = at({"dest"});
    const auto zip = test_support::build_zip({{.name = "ok.txt", .data = "ok", .flags = 1 << 11},
                                             {.name = name, .data = "never", .flags = 1 << 11}});
    auto archive = payload::open_archive(zip.span());
    ASSERT_TRUE(archive.has_value());
    const auto extracted = payload::extract_all(*archive, dest);
    ASSERT_FALSE(extracted.has_value());
    EXPECT_EQ(extracted.error().reason_text(), "invalid Zip archive: Invalid file path");
    auto resolved = platform::resolve_path(dest);
    ASSERT_TRUE(resolved) << describe(resolved);
    EXPECT_EQ(verbatim_tree(*resolved), (std::map<std::string, std::string>{{"ok.txt", "ok"}}));
    EXPECT_EQ(names_listed(root_), (std::set<std::string>{"dest"}));
    ASSERT_TRUE(platform::remove_directory_all(dest));
  }
  const auto zip = test_support::build_zip({{.name = "CONIN$", .data = "input"}});
  auto archive = payload::open_archive(zip.span());
  ASSERT_TRUE(archive.has_value());
  ASSERT_TRUE(payload::extract_all(*archive, at({"dest"})));
  EXPECT_EQ(verbatim_tree(*platform::resolve_path(at({"dest"}))), (std::map<std::string, std::string>{{"CONIN$", "input"}}));
}

// A link entry's target is the archive's text, naming anything at all: a folder on another machine
// (\\server\share: opening it signs in there with the user's credentials) or a device such as
// a named pipe, whose server then sees the setup connect. The extraction may write the link, but it
// must not open what the target names. Here the target is a pipe this test serves: no client may
// ever connect to it.
TEST_F(FileSystemWindows, ALinkEntrysTargetIsNeverOpened) {
  const std::string id = std::to_string(::GetCurrentProcessId());
  const std::pair<std::string, std::string> cases[] = {
      // the pipe served, the link entry's target
      {"\\\\.\\pipe\\zarvo-review-a-" + id, "\\\\.\\pipe\\zarvo-review-a-" + id},
      {"\\\\.\\pipe\\zarvo-review-b-" + id, "//./pipe/zarvo-review-b-" + id},
      {"\\\\.\\pipe\\zarvo-review-c-" + id, "\\\\?\\pipe\\zarvo-review-c-" + id},
  };
  for (const auto& [served, target] : cases) {
    SCOPED_TRACE(target);
    const HANDLE pipe = ::CreateNamedPipeW(wide(served).c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                           PIPE_TYPE_BYTE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES, 0, 0, 0, nullptr);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    OVERLAPPED connected{};
    connected.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_FALSE(::ConnectNamedPipe(pipe, &connected));
    ASSERT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));

    const std::string dest = at({"dest"});
    const auto zip = test_support::build_zip({test_support::unix_link("l", target), {.name = "after.txt", .data = "a"}});
    auto archive = payload::open_archive(zip.span());
    ASSERT_TRUE(archive.has_value());
    (void)payload::extract_all(*archive, dest);
    EXPECT_EQ(::WaitForSingleObject(connected.hEvent, 200), static_cast<DWORD>(WAIT_TIMEOUT))
        << "the extraction connected to the pipe its link entry names";

    ::CancelIo(pipe);
    ::CloseHandle(connected.hEvent);
    ::CloseHandle(pipe);
    (void)platform::remove_directory_all(dest);
  }
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
