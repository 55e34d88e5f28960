// Removing a tree when the calls under it fail, are refused or meet a tree that changes.
#include <windows.h>
#include <winternl.h>

#include <string>
#include <utility>
#include <vector>

#include "faults/windows/fault_fixture.hpp"
#include "platform/fs.hpp"

namespace {

using namespace faults;
using fs_test::TempTree;

constexpr ULONG obj_dont_reparse = 0x1000;
constexpr auto posix_disposition = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr DWORD symlink_tag = 0xA000000C;
constexpr DWORD cloud_tag = 0x9000001A;
constexpr std::uint32_t reparse_point_encountered = 4395;

// The waits before each further attempt at one entry: 1 ms doubling to 256 ms, until about three
// seconds are spent.
std::vector<DWORD> entry_waits() {
  std::vector<DWORD> waits = {1, 2, 4, 8, 16, 32, 64, 128};
  waits.insert(waits.end(), 11, 256);
  return waits;
}

class RemoveFault : public TempTree {
 protected:
  void SetUp() override {
    TempTree::SetUp();
    top_ = at({"top"});
    fs_test::make_directory(platform::join_path(top_, "sub"));
    fs_test::write_text(platform::join_path(top_, "a.txt"), "a");
    fs_test::write_text(platform::join_path(platform::join_path(top_, "sub"), "b.txt"), "b");
    ASSERT_HOOKED(sleeps_);
  }

  const std::vector<std::string> whole_tree{"top/", "top/a.txt", "top/sub/", "top/sub/b.txt"};
  std::string top_;
  // Every wait between attempts, noted instead of slept.
  std::vector<DWORD> waits_;
  Hook<Sleep_import> sleeps_{kernel32, "Sleep", [this](DWORD milliseconds) { waits_.push_back(milliseconds); }};
};

using OpenFile = NTSTATUS(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, ULONG, ULONG);

NTSTATUS open_really(PHANDLE handle, ACCESS_MASK access, POBJECT_ATTRIBUTES object, PIO_STATUS_BLOCK io, ULONG share,
                     ULONG options) {
  return NtOpenFile_import::original(handle, access, object, io, share, options);
}

// ---- opening entries -----------------------------------------------------------------------------

// A system that refuses OBJ_DONT_REPARSE gets the same open again without it, and no later open
// asks for it again (the choice holds for the rest of the process).
TEST_F(RemoveFault, OpensRefusingDontReparseAreRetriedWithoutItFromThenOn) {
  std::vector<std::pair<std::wstring, ULONG>> opens;
  Hook<NtOpenFile_import> hook(ntdll, "NtOpenFile", [&](PHANDLE handle, ACCESS_MASK access, POBJECT_ATTRIBUTES object,
                                                          PIO_STATUS_BLOCK io, ULONG share, ULONG options) {
    opens.emplace_back(object_name(object), object->Attributes);
    if (object->Attributes & obj_dont_reparse) return status_invalid_parameter;
    return open_really(handle, access, object, io, share, options);
  });
  ASSERT_HOOKED(hook);
  auto removed = platform::remove_directory_all(top_);
  EXPECT_EQ(outcome(removed), "ok");
  const std::vector<std::pair<std::wstring, ULONG>> expected{
      {L"a.txt", obj_dont_reparse}, {L"a.txt", 0}, {L"sub", 0}, {L"b.txt", 0}};
  EXPECT_EQ(opens, expected);
  EXPECT_EQ(tree(root_), std::vector<std::string>{});
}

// A listed directory replaced by a file before it is opened is then removed as a file.
TEST_F(RemoveFault, ADirectoryReplacedByAFileAfterListingIsRemovedAsAFile) {
  fs_test::make_directory(platform::join_path(top_, "swapped"));
  const std::wstring swapped = wide(platform::join_path(top_, "swapped"));
  std::vector<ULONG> swapped_opens;
  Hook<NtOpenFile_import> hook(ntdll, "NtOpenFile", [&](PHANDLE handle, ACCESS_MASK access, POBJECT_ATTRIBUTES object,
                                                          PIO_STATUS_BLOCK io, ULONG share, ULONG options) {
    if (object_name(object) == L"swapped") {
      swapped_opens.push_back(options & FILE_DIRECTORY_FILE);
      if (swapped_opens.size() == 1) {
        ::RemoveDirectoryW(swapped.c_str());
        ::CloseHandle(::CreateFileW(swapped.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
      }
    }
    return open_really(handle, access, object, io, share, options);
  });
  ASSERT_HOOKED(hook);
  auto removed = platform::remove_directory_all(top_);
  EXPECT_EQ(outcome(removed), "ok");
  EXPECT_EQ(swapped_opens, (std::vector<ULONG>{FILE_DIRECTORY_FILE, 0}));
  EXPECT_EQ(tree(root_), std::vector<std::string>{});
}

// An entry that goes away between the listing and its opening (whatever way the system says so)
// is no failure: the rest of the tree is removed.
TEST_F(RemoveFault, AnEntryGoneBeforeItIsOpenedIsNoFailure) {
  const std::wstring a_txt = wide(platform::join_path(top_, "a.txt"));
  for (const NTSTATUS gone : {static_cast<NTSTATUS>(0xC0000034), static_cast<NTSTATUS>(0xC000003A),
                              static_cast<NTSTATUS>(0xC00000BE), static_cast<NTSTATUS>(0xC00000CC),
                              static_cast<NTSTATUS>(0xC0000056)}) {
    SCOPED_TRACE(testing::Message() << "status 0x" << std::hex << static_cast<unsigned long>(gone));
    fs_test::make_directory(platform::join_path(top_, "sub"));
    fs_test::write_text(platform::join_path(top_, "a.txt"), "a");
    int a_opens = 0;
    Hook<NtOpenFile_import> hook(ntdll, "NtOpenFile", [&](PHANDLE handle, ACCESS_MASK access,
                                                            POBJECT_ATTRIBUTES object, PIO_STATUS_BLOCK io, ULONG share,
                                                            ULONG options) {
      if (object_name(object) == L"a.txt") {
        ++a_opens;
        ::DeleteFileW(a_txt.c_str());
        return gone;
      }
      return open_really(handle, access, object, io, share, options);
    });
    ASSERT_HOOKED(hook);
    auto removed = platform::remove_directory_all(top_);
    EXPECT_EQ(outcome(removed), "ok");
    EXPECT_EQ(a_opens, 1);
    EXPECT_EQ(tree(root_), std::vector<std::string>{});
  }
}

// An entry another program holds without sharing (or is still deleting: access denied) is tried
// again after a wait, 1 ms doubling to 256 ms, until about three seconds are spent. One held for
// good stays, with its parent; the rest of the tree goes.
TEST_F(RemoveFault, AnEntryHeldByAnotherProgramIsTriedAgainAfterWaits) {
  struct Case {
    NTSTATUS refusal;
    int refusals;
    int expected_opens;
    std::string expected_outcome;
    std::vector<DWORD> expected_waits;
    std::vector<std::string> expected_tree;
  };
  const Case cases[] = {
      {status_sharing_violation, 3, 4, "ok", {1, 2, 4}, {}},
      {status_access_denied, 1, 2, "ok", {1}, {}},
      {status_sharing_violation, 1000, 20, os_detail(32, "Uncategorized"), entry_waits(), {"top/", "top/a.txt"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.refusals << " refusals");
    fs_test::make_directory(platform::join_path(top_, "sub"));
    fs_test::write_text(platform::join_path(top_, "a.txt"), "a");
    fs_test::write_text(platform::join_path(platform::join_path(top_, "sub"), "b.txt"), "b");
    waits_.clear();
    int a_opens = 0;
    Hook<NtOpenFile_import> hook(ntdll, "NtOpenFile", [&](PHANDLE handle, ACCESS_MASK access,
                                                            POBJECT_ATTRIBUTES object, PIO_STATUS_BLOCK io, ULONG share,
                                                            ULONG options) {
      if (object_name(object) == L"a.txt" && a_opens++ < c.refusals) return c.refusal;
      return open_really(handle, access, object, io, share, options);
    });
    ASSERT_HOOKED(hook);
    auto removed = platform::remove_directory_all(top_);
    EXPECT_EQ(outcome(removed), c.expected_outcome);
    EXPECT_EQ(a_opens, c.expected_opens);
    EXPECT_EQ(waits_, c.expected_waits);
    EXPECT_EQ(tree(root_), c.expected_tree);
  }
}

// ---- deleting entries ----------------------------------------------------------------------------

// Where the POSIX-semantics delete is taken, it alone deletes every entry: no classic request
// follows.
TEST_F(RemoveFault, APosixDeleteTakenIsTheOnlyRequestPerEntry) {
  std::vector<int> classes;
  Hook<SetFileInformationByHandle_import> hook(
      kernel32, "SetFileInformationByHandle",
      [&](HANDLE handle, FILE_INFO_BY_HANDLE_CLASS level, LPVOID info, DWORD size) -> BOOL {
        classes.push_back(level);
        if (level != posix_disposition) return SetFileInformationByHandle_import::original(handle, level, info, size);
        // Taken: done here as the classic request, which this system supports.
        FILE_DISPOSITION_INFO disposition{TRUE};
        return SetFileInformationByHandle_import::original(handle, FileDispositionInfo, &disposition, sizeof disposition);
      });
  ASSERT_HOOKED(hook);
  auto removed = platform::remove_directory_all(top_);
  EXPECT_EQ(outcome(removed), "ok");
  EXPECT_EQ(classes, (std::vector<int>{posix_disposition, posix_disposition, posix_disposition, posix_disposition}));
  EXPECT_EQ(tree(root_), std::vector<std::string>{});
}

// A delete refused for another reason than "not supported" (here a write-protected medium) is
// reported as it is, with no fallback and no second attempt; so is a refused classic delete. The
// tree stays whole.
TEST_F(RemoveFault, ARefusedDeleteIsReportedAndLeavesTheTree) {
  for (const int refused : {static_cast<int>(posix_disposition), static_cast<int>(FileDispositionInfo)}) {
    SCOPED_TRACE(testing::Message() << "class " << refused);
    std::vector<int> classes;
    Hook<SetFileInformationByHandle_import> hook(
        kernel32, "SetFileInformationByHandle",
        [&](HANDLE handle, FILE_INFO_BY_HANDLE_CLASS level, LPVOID info, DWORD size) -> BOOL {
          classes.push_back(level);
          if (level == refused) {
            ::SetLastError(ERROR_WRITE_PROTECT);
            return FALSE;
          }
          return SetFileInformationByHandle_import::original(handle, level, info, size);
        });
    ASSERT_HOOKED(hook);
    auto removed = platform::remove_directory_all(top_);
    EXPECT_EQ(outcome(removed), os_detail(ERROR_WRITE_PROTECT, "Uncategorized"));
    // Each file is tried once (a.txt, then sub\b.txt); their directories stay, so are not tried.
    const std::vector<int> expected = refused == posix_disposition
                                          ? std::vector<int>{posix_disposition, posix_disposition}
                                          : std::vector<int>{posix_disposition, FileDispositionInfo,
                                                             posix_disposition, FileDispositionInfo};
    EXPECT_EQ(classes, expected);
    EXPECT_EQ(waits_, std::vector<DWORD>{});
    EXPECT_EQ(tree(root_), whole_tree);
  }
}

// A read-only top has the attribute cleared through its path before the classic delete; the
// other settable attributes are kept (a plain directory gets FILE_ATTRIBUTE_NORMAL).
TEST_F(RemoveFault, AReadOnlyTopIsClearedThroughItsPathAndRemoved) {
  const std::wstring native_top = wide(top_);  // a short absolute path goes to the system as it is
  for (const auto& [extra, expected_basic] :
       {std::pair<DWORD, DWORD>{FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_NORMAL},
        std::pair<DWORD, DWORD>{FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_HIDDEN}}) {
    SCOPED_TRACE(testing::Message() << "attributes " << extra);
    fs_test::make_directory(top_);
    std::vector<std::wstring> attribute_writers;
    std::vector<DWORD> basic_attributes;
    Hook<GetFileInformationByHandleEx_import> tags(
        kernel32, "GetFileInformationByHandleEx",
        [&](HANDLE handle, FILE_INFO_BY_HANDLE_CLASS level, LPVOID info, DWORD size) -> BOOL {
          const BOOL done = GetFileInformationByHandleEx_import::original(handle, level, info, size);
          if (done && level == FileAttributeTagInfo && leaf(handle) == L"top") {
            static_cast<FILE_ATTRIBUTE_TAG_INFO*>(info)->FileAttributes |= extra;
          }
          return done;
        });
    Hook<CreateFileW_import> opens(kernel32, "CreateFileW",
                                   [&](LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                       DWORD disposition, DWORD flags, HANDLE model) {
                                     if (access == (FILE_WRITE_ATTRIBUTES | SYNCHRONIZE)) attribute_writers.push_back(name);
                                     return CreateFileW_import::original(name, access, share, security, disposition,
                                                                         flags, model);
                                   });
    Hook<SetFileInformationByHandle_import> sets(
        kernel32, "SetFileInformationByHandle",
        [&](HANDLE handle, FILE_INFO_BY_HANDLE_CLASS level, LPVOID info, DWORD size) -> BOOL {
          if (level == FileBasicInfo) basic_attributes.push_back(static_cast<FILE_BASIC_INFO*>(info)->FileAttributes);
          return SetFileInformationByHandle_import::original(handle, level, info, size);
        });
    ASSERT_HOOKED(tags);
    ASSERT_HOOKED(opens);
    ASSERT_HOOKED(sets);
    auto removed = platform::remove_directory_all(top_);
    EXPECT_EQ(outcome(removed), "ok");
    EXPECT_EQ(attribute_writers, std::vector<std::wstring>{native_top});
    EXPECT_EQ(basic_attributes, std::vector<DWORD>{expected_basic});
    EXPECT_EQ(tree(root_), std::vector<std::string>{});
  }
}

// Clearing the read-only attribute can fail at each of its steps: reopening the entry below its
// directory, reopening the top by its path, or setting the attributes. After the waits for an
// entry held by another program, the error is reported; the entry stays with its parents, and the
// rest goes.
TEST_F(RemoveFault, ClearingReadOnlyThatFailsIsReported) {
  fs_test::write_text(platform::join_path(top_, "locked.txt"), "locked");
  fs_test::make_read_only(platform::join_path(top_, "locked.txt"));
  const std::vector<std::string> after_locked{"top/", "top/locked.txt"};

  {
    SCOPED_TRACE("reopening below the directory");
    Hook<NtOpenFile_import> hook(ntdll, "NtOpenFile", [&](PHANDLE handle, ACCESS_MASK access,
                                                            POBJECT_ATTRIBUTES object, PIO_STATUS_BLOCK io, ULONG share,
                                                            ULONG options) {
      if (object_name(object) == L"locked.txt" && (access & FILE_WRITE_ATTRIBUTES)) return status_access_denied;
      return open_really(handle, access, object, io, share, options);
    });
    ASSERT_HOOKED(hook);
    EXPECT_EQ(outcome(platform::remove_directory_all(top_)), os_detail(5, "PermissionDenied"));
    EXPECT_EQ(tree(root_), after_locked);
  }
  {
    SCOPED_TRACE("setting the attributes");
    Hook<SetFileInformationByHandle_import> hook(
        kernel32, "SetFileInformationByHandle",
        [&](HANDLE handle, FILE_INFO_BY_HANDLE_CLASS level, LPVOID info, DWORD size) -> BOOL {
          if (level == FileBasicInfo) {
            ::SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
          }
          return SetFileInformationByHandle_import::original(handle, level, info, size);
        });
    ASSERT_HOOKED(hook);
    EXPECT_EQ(outcome(platform::remove_directory_all(top_)), os_detail(5, "PermissionDenied"));
    EXPECT_EQ(tree(root_), after_locked);
  }
  {
    SCOPED_TRACE("reopening the top by its path");
    Hook<GetFileInformationByHandleEx_import> tags(
        kernel32, "GetFileInformationByHandleEx",
        [&](HANDLE handle, FILE_INFO_BY_HANDLE_CLASS level, LPVOID info, DWORD size) -> BOOL {
          const BOOL done = GetFileInformationByHandleEx_import::original(handle, level, info, size);
          if (done && level == FileAttributeTagInfo && leaf(handle) == L"top") {
            static_cast<FILE_ATTRIBUTE_TAG_INFO*>(info)->FileAttributes |= FILE_ATTRIBUTE_READONLY;
          }
          return done;
        });
    Hook<CreateFileW_import> opens(kernel32, "CreateFileW",
                                   [&](LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                       DWORD disposition, DWORD flags, HANDLE model) {
                                     if (access == (FILE_WRITE_ATTRIBUTES | SYNCHRONIZE)) {
                                       ::SetLastError(ERROR_SHARING_VIOLATION);
                                       return INVALID_HANDLE_VALUE;
                                     }
                                     return CreateFileW_import::original(name, access, share, security, disposition,
                                                                         flags, model);
                                   });
    ASSERT_HOOKED(tags);
    ASSERT_HOOKED(opens);
    EXPECT_EQ(outcome(platform::remove_directory_all(top_)), os_detail(32, "Uncategorized"));
    EXPECT_EQ(tree(root_), std::vector<std::string>{"top/"});  // emptied, but not removed
  }
  EXPECT_EQ(waits_.size(), 3 * entry_waits().size());
}

// ---- listing and examining directories -----------------------------------------------------------

// A listing that fails (other than by ending) is reported: at its start nothing is removed; when
// a later batch fails, the entries of the first are already gone.
TEST_F(RemoveFault, AFailedListingIsReported) {
  struct Case {
    FILE_INFO_BY_HANDLE_CLASS failing;
    std::vector<std::string> expected_tree;
  };
  const Case cases[] = {
      {FileIdBothDirectoryRestartInfo, {"top/", "top/a.txt", "top/sub/", "top/sub/b.txt"}},
      {FileIdBothDirectoryInfo, {"top/"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "class " << c.failing);
    Hook<GetFileInformationByHandleEx_import> hook(
        kernel32, "GetFileInformationByHandleEx",
        [&](HANDLE handle, FILE_INFO_BY_HANDLE_CLASS level, LPVOID info, DWORD size) -> BOOL {
          if (level == c.failing && leaf(handle) == L"top") {
            ::SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
          }
          return GetFileInformationByHandleEx_import::original(handle, level, info, size);
        });
    ASSERT_HOOKED(hook);
    EXPECT_EQ(outcome(platform::remove_directory_all(top_)), os_detail(5, "PermissionDenied"));
    EXPECT_EQ(tree(root_), c.expected_tree);
  }
}

// A directory entry whose attributes cannot be read through its handle is reported, untouched.
TEST_F(RemoveFault, ADirectoryThatCannotBeExaminedIsReportedUntouched) {
  Hook<GetFileInformationByHandleEx_import> hook(
      kernel32, "GetFileInformationByHandleEx",
      [&](HANDLE handle, FILE_INFO_BY_HANDLE_CLASS level, LPVOID info, DWORD size) -> BOOL {
        if (level == FileAttributeTagInfo && leaf(handle) == L"sub") {
          ::SetLastError(ERROR_INVALID_FUNCTION);
          return FALSE;
        }
        return GetFileInformationByHandleEx_import::original(handle, level, info, size);
      });
  ASSERT_HOOKED(hook);
  EXPECT_EQ(outcome(platform::remove_directory_all(top_)), os_detail(1, "Uncategorized"));
  EXPECT_EQ(tree(root_), (std::vector<std::string>{"top/", "top/sub/", "top/sub/b.txt"}));
}

// Listed as a reparse point (a link or a placeholder) but opened as a plain directory: the
// system followed it, so nothing is deleted through that handle and nothing below it is touched.
TEST_F(RemoveFault, AnEntryListedAsAReparsePointButOpenedAsNoneIsLeftAlone) {
  for (const DWORD tag : {symlink_tag, cloud_tag}) {
    SCOPED_TRACE(testing::Message() << "tag 0x" << std::hex << tag);
    Hook<GetFileInformationByHandleEx_import> hook(
        kernel32, "GetFileInformationByHandleEx",
        [&](HANDLE handle, FILE_INFO_BY_HANDLE_CLASS level, LPVOID info, DWORD size) -> BOOL {
          const BOOL done = GetFileInformationByHandleEx_import::original(handle, level, info, size);
          if (!done || (level != FileIdBothDirectoryRestartInfo && level != FileIdBothDirectoryInfo)) return done;
          for (auto* bytes = static_cast<unsigned char*>(info);;) {
            auto* entry = reinterpret_cast<FILE_ID_BOTH_DIR_INFO*>(bytes);
            if (std::wstring_view(entry->FileName, entry->FileNameLength / sizeof(wchar_t)) == L"sub") {
              entry->FileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
              entry->EaSize = tag;
            }
            if (entry->NextEntryOffset == 0) break;
            bytes += entry->NextEntryOffset;
          }
          return done;
        });
    ASSERT_HOOKED(hook);
    EXPECT_EQ(outcome(platform::remove_directory_all(top_)), os_detail(reparse_point_encountered, "Uncategorized"));
    EXPECT_EQ(tree(root_), (std::vector<std::string>{"top/", "top/sub/", "top/sub/b.txt"}));
  }
}

// What the handle shows decides: a directory it shows as a link is deleted as itself, never
// emptied (a non-empty one then fails as such); one it shows as another kind of reparse point
// (a cloud placeholder) is emptied and removed like any directory.
TEST_F(RemoveFault, ADirectoryShownAsALinkIsDeletedItselfAndAPlaceholderIsEmptied) {
  struct Case {
    DWORD tag;
    std::string expected_outcome;
    std::vector<std::string> expected_tree;
  };
  const Case cases[] = {
      {symlink_tag, os_detail(ERROR_DIR_NOT_EMPTY, "Uncategorized"), {"top/", "top/sub/", "top/sub/b.txt"}},
      {cloud_tag, "ok", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "tag 0x" << std::hex << c.tag);
    fs_test::make_directory(platform::join_path(top_, "sub"));
    fs_test::write_text(platform::join_path(platform::join_path(top_, "sub"), "b.txt"), "b");
    Hook<GetFileInformationByHandleEx_import> hook(
        kernel32, "GetFileInformationByHandleEx",
        [&](HANDLE handle, FILE_INFO_BY_HANDLE_CLASS level, LPVOID info, DWORD size) -> BOOL {
          const BOOL done = GetFileInformationByHandleEx_import::original(handle, level, info, size);
          if (done && level == FileAttributeTagInfo && leaf(handle) == L"sub") {
            auto* tagged = static_cast<FILE_ATTRIBUTE_TAG_INFO*>(info);
            tagged->FileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
            tagged->ReparseTag = c.tag;
          }
          return done;
        });
    ASSERT_HOOKED(hook);
    EXPECT_EQ(outcome(platform::remove_directory_all(top_)), c.expected_outcome);
    EXPECT_EQ(tree(root_), c.expected_tree);
  }
}

// ---- the top -------------------------------------------------------------------------------------

// Each refusal on the way to the top's listing is reported with the whole tree left: the top
// cannot be examined, its parent lists it as a reparse point its handle does not show, it cannot
// be reopened for listing and deleting.
TEST_F(RemoveFault, ATopThatCannotBeExaminedOrReopenedIsReportedWhole) {
  {
    SCOPED_TRACE("examining");
    Hook<GetFileInformationByHandleEx_import> hook(
        kernel32, "GetFileInformationByHandleEx",
        [&](HANDLE handle, FILE_INFO_BY_HANDLE_CLASS level, LPVOID info, DWORD size) -> BOOL {
          if (level == FileAttributeTagInfo) {
            ::SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
          }
          return GetFileInformationByHandleEx_import::original(handle, level, info, size);
        });
    ASSERT_HOOKED(hook);
    EXPECT_EQ(outcome(platform::remove_directory_all(top_)), os_detail(5, "PermissionDenied"));
    EXPECT_EQ(tree(root_), whole_tree);
  }
  {
    SCOPED_TRACE("listed as a reparse point");
    Hook<FindFirstFileExW_import> hook(kernel32, "FindFirstFileExW",
                                       [&](LPCWSTR name, FINDEX_INFO_LEVELS level, LPVOID data, FINDEX_SEARCH_OPS op,
                                           LPVOID filter, DWORD flags) {
                                         const HANDLE found =
                                             FindFirstFileExW_import::original(name, level, data, op, filter, flags);
                                         if (found != INVALID_HANDLE_VALUE) {
                                           auto* entry = static_cast<WIN32_FIND_DATAW*>(data);
                                           entry->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
                                           entry->dwReserved0 = symlink_tag;
                                         }
                                         return found;
                                       });
    ASSERT_HOOKED(hook);
    EXPECT_EQ(outcome(platform::remove_directory_all(top_)), os_detail(reparse_point_encountered, "Uncategorized"));
    EXPECT_EQ(tree(root_), whole_tree);
  }
  {
    SCOPED_TRACE("reopening");
    Hook<ReOpenFile_import> hook(kernel32, "ReOpenFile", [&](HANDLE, DWORD, DWORD, DWORD) {
      ::SetLastError(ERROR_SHARING_VIOLATION);
      return INVALID_HANDLE_VALUE;
    });
    ASSERT_HOOKED(hook);
    EXPECT_EQ(outcome(platform::remove_directory_all(top_)), os_detail(32, "Uncategorized"));
    EXPECT_EQ(tree(root_), whole_tree);
  }
}

// A top that its handle shows as a link is deleted as itself: its contents are never touched.
TEST_F(RemoveFault, ATopShownAsALinkIsDeletedItselfNeverEmptied) {
  std::vector<std::wstring> listed;
  Hook<GetFileInformationByHandleEx_import> hook(
      kernel32, "GetFileInformationByHandleEx",
      [&](HANDLE handle, FILE_INFO_BY_HANDLE_CLASS level, LPVOID info, DWORD size) -> BOOL {
        const BOOL done = GetFileInformationByHandleEx_import::original(handle, level, info, size);
        if (level == FileIdBothDirectoryRestartInfo || level == FileIdBothDirectoryInfo) listed.push_back(leaf(handle));
        if (done && level == FileAttributeTagInfo && leaf(handle) == L"top") {
          auto* tagged = static_cast<FILE_ATTRIBUTE_TAG_INFO*>(info);
          tagged->FileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
          tagged->ReparseTag = symlink_tag;
        }
        return done;
      });
  ASSERT_HOOKED(hook);
  EXPECT_EQ(outcome(platform::remove_directory_all(top_)), os_detail(ERROR_DIR_NOT_EMPTY, "Uncategorized"));
  EXPECT_EQ(listed, std::vector<std::wstring>{});
  EXPECT_EQ(tree(root_), whole_tree);
}

// A directory that is still not empty when it is deleted (children whose deletion is pending,
// entries added meanwhile) is listed again and retried after each wait.
TEST_F(RemoveFault, ADirectoryNotYetEmptyIsListedAgainAndRetriedAfterWaits) {
  struct Case {
    int refusals;
    int expected_deletions;
    std::string expected_outcome;
    std::vector<std::string> expected_tree;
  };
  const Case cases[] = {
      {2, 3, "ok", {}},
      {1000, 20, os_detail(ERROR_DIR_NOT_EMPTY, "Uncategorized"), {"top/"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.refusals << " refusals");
    fs_test::make_directory(platform::join_path(top_, "sub"));
    waits_.clear();
    int deletions = 0;
    int restarts = 0;
    Hook<SetFileInformationByHandle_import> sets(
        kernel32, "SetFileInformationByHandle",
        [&](HANDLE handle, FILE_INFO_BY_HANDLE_CLASS level, LPVOID info, DWORD size) -> BOOL {
          if (level == FileDispositionInfo && leaf(handle) == L"top" && deletions++ < c.refusals) {
            ::SetLastError(ERROR_DIR_NOT_EMPTY);
            return FALSE;
          }
          return SetFileInformationByHandle_import::original(handle, level, info, size);
        });
    Hook<GetFileInformationByHandleEx_import> lists(
        kernel32, "GetFileInformationByHandleEx",
        [&](HANDLE handle, FILE_INFO_BY_HANDLE_CLASS level, LPVOID info, DWORD size) -> BOOL {
          if (level == FileIdBothDirectoryRestartInfo && leaf(handle) == L"top") ++restarts;
          return GetFileInformationByHandleEx_import::original(handle, level, info, size);
        });
    ASSERT_HOOKED(sets);
    ASSERT_HOOKED(lists);
    EXPECT_EQ(outcome(platform::remove_directory_all(top_)), c.expected_outcome);
    EXPECT_EQ(deletions, c.expected_deletions);
    EXPECT_EQ(restarts, c.expected_deletions);
    EXPECT_EQ(waits_.size(), static_cast<std::size_t>(c.expected_deletions - 1));
    EXPECT_EQ(tree(root_), c.expected_tree);
  }
}

// A directory whose deletion the system reports as already pending counts as removed.
TEST_F(RemoveFault, ADirectoryAlreadyPendingDeletionCountsAsRemoved) {
  Hook<SetFileInformationByHandle_import> hook(
      kernel32, "SetFileInformationByHandle",
      [&](HANDLE handle, FILE_INFO_BY_HANDLE_CLASS level, LPVOID info, DWORD size) -> BOOL {
        const BOOL done = SetFileInformationByHandle_import::original(handle, level, info, size);
        if (done && level == FileDispositionInfo && leaf(handle) == L"sub") {
          ::SetLastError(303);  // ERROR_DELETE_PENDING
          return FALSE;
        }
        return done;
      });
  ASSERT_HOOKED(hook);
  EXPECT_EQ(outcome(platform::remove_directory_all(top_)), "ok");
  EXPECT_EQ(tree(root_), std::vector<std::string>{});
}

}  // namespace
