// Status, listings, files, final paths and links when the calls under them fail or answer
// otherwise than Wine does by itself.
#include <windows.h>
#include <winternl.h>

#include <winioctl.h>

#include <cstring>
#include <string>
#include <vector>

#include "faults/windows/fault_fixture.hpp"
#include "platform/fs.hpp"

namespace {

using namespace faults;
using fs_test::TempTree;

constexpr DWORD symlink_tag = 0xA000000C;
constexpr DWORD mount_point_tag = 0xA0000003;
constexpr DWORD cloud_tag = 0x9000001A;

using FileFault = TempTree;

std::string described(const platform::Result<platform::FileStatus>& status) {
  if (!status) return platform::error_detail(status.error());
  static const char* const kinds[] = {"File", "Directory", "Link"};
  return std::string(kinds[static_cast<int>(status->kind)]) + " " + std::to_string(status->size);
}

bool ends_with(LPCWSTR name, std::wstring_view leaf_name) {
  return name != nullptr && std::wstring_view(name).ends_with(leaf_name);
}

// ---- status --------------------------------------------------------------------------------------

// An entry that cannot be opened because it is held without sharing (or closed to us) is
// described by its directory's listing; one the listing shows as a link fails when followed,
// with the open's error. When the listing fails too, its error is the result.
TEST_F(FileFault, AnEntryThatCannotBeOpenedIsDescribedByItsListing) {
  const std::string path = at({"held.txt"});
  fs_test::write_text(path, "held");
  struct Case {
    DWORD open_error;
    DWORD listed_extra;  // attributes the listing adds (a link: with the symbolic-link tag)
    bool listing_fails;
    std::string followed;
    std::string itself;
  };
  const Case cases[] = {
      {ERROR_SHARING_VIOLATION, 0, false, "File 4", "File 4"},
      {ERROR_ACCESS_DENIED, 0, false, "File 4", "File 4"},
      {ERROR_SHARING_VIOLATION, FILE_ATTRIBUTE_REPARSE_POINT, false, os_detail(32, "Uncategorized"), "Link 4"},
      {ERROR_ACCESS_DENIED, 0, true, os_detail(3, "NotFound"), os_detail(3, "NotFound")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "open error " << c.open_error << ", listed extra " << c.listed_extra);
    int listings = 0;
    Hook<CreateFileW_import> opens(kernel32, "CreateFileW",
                                   [&](LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                       DWORD disposition, DWORD flags, HANDLE model) {
                                     if (ends_with(name, L"\\held.txt")) {
                                       ::SetLastError(c.open_error);
                                       return INVALID_HANDLE_VALUE;
                                     }
                                     return CreateFileW_import::original(name, access, share, security, disposition,
                                                                         flags, model);
                                   });
    Hook<FindFirstFileExW_import> finds(
        kernel32, "FindFirstFileExW",
        [&](LPCWSTR name, FINDEX_INFO_LEVELS level, LPVOID data, FINDEX_SEARCH_OPS op, LPVOID filter, DWORD flags) {
          ++listings;
          if (c.listing_fails) {
            ::SetLastError(ERROR_PATH_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
          }
          const HANDLE found = FindFirstFileExW_import::original(name, level, data, op, filter, flags);
          if (found != INVALID_HANDLE_VALUE && c.listed_extra) {
            auto* entry = static_cast<WIN32_FIND_DATAW*>(data);
            entry->dwFileAttributes |= c.listed_extra;
            entry->dwReserved0 = symlink_tag;
          }
          return found;
        });
    ASSERT_HOOKED(opens);
    ASSERT_HOOKED(finds);
    EXPECT_EQ(described(platform::path_status(path)), c.followed);
    EXPECT_EQ(described(platform::link_status(path)), c.itself);
    EXPECT_EQ(listings, 2);
  }
}

// What an open entry's handle shows decides its status: a reparse point is a link only when its
// tag says so, and a tag that cannot be read is the error; a handle that cannot be examined at
// all is the error too.
TEST_F(FileFault, AnOpenEntryIsDescribedByWhatItsHandleShows) {
  const std::string path = at({"entry.txt"});
  fs_test::write_text(path, "entry");
  struct Case {
    bool examination_fails;
    DWORD tag;  // 0: the handle shows no reparse point
    bool tag_fails;
    std::string itself;
  };
  const Case cases[] = {
      {true, 0, false, os_detail(6, "Uncategorized")},
      {false, symlink_tag, false, "Link 5"},
      {false, cloud_tag, false, "File 5"},
      {false, symlink_tag, true, os_detail(1, "Uncategorized")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "tag 0x" << std::hex << c.tag);
    Hook<GetFileInformationByHandle_import> infos(
        kernel32, "GetFileInformationByHandle", [&](HANDLE handle, LPBY_HANDLE_FILE_INFORMATION info) -> BOOL {
          if (c.examination_fails) {
            ::SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
          }
          const BOOL done = GetFileInformationByHandle_import::original(handle, info);
          if (done && c.tag) info->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
          return done;
        });
    Hook<GetFileInformationByHandleEx_import> tags(
        kernel32, "GetFileInformationByHandleEx",
        [&](HANDLE handle, FILE_INFO_BY_HANDLE_CLASS level, LPVOID info, DWORD size) -> BOOL {
          if (level == FileAttributeTagInfo && c.tag_fails) {
            ::SetLastError(ERROR_INVALID_FUNCTION);
            return FALSE;
          }
          const BOOL done = GetFileInformationByHandleEx_import::original(handle, level, info, size);
          if (done && level == FileAttributeTagInfo) {
            auto* tagged = static_cast<FILE_ATTRIBUTE_TAG_INFO*>(info);
            tagged->FileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
            tagged->ReparseTag = c.tag;
          }
          return done;
        });
    ASSERT_HOOKED(infos);
    ASSERT_HOOKED(tags);
    EXPECT_EQ(described(platform::link_status(path)), c.itself);
  }
}

// A followed open that fails with ERROR_CANT_ACCESS_FILE (a reparse point the system cannot
// follow) is answered by the entry itself, unless that is a link or cannot be examined either.
TEST_F(FileFault, AnEntryThatCannotBeFollowedIsDescribedItselfUnlessItIsALink) {
  const std::string path = at({"placeholder.txt"});
  fs_test::write_text(path, "cloud");
  struct Case {
    DWORD tag;
    bool itself_fails;
    std::string followed;
  };
  const Case cases[] = {
      {0, false, "File 5"},
      {symlink_tag, false, os_detail(1920, "Uncategorized")},
      {0, true, os_detail(1920, "Uncategorized")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "tag 0x" << std::hex << c.tag << ", itself fails " << c.itself_fails);
    std::vector<bool> followed_opens;
    Hook<CreateFileW_import> opens(kernel32, "CreateFileW",
                                   [&](LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                       DWORD disposition, DWORD flags, HANDLE model) {
                                     if (ends_with(name, L"\\placeholder.txt")) {
                                       const bool follows = !(flags & FILE_FLAG_OPEN_REPARSE_POINT);
                                       followed_opens.push_back(follows);
                                       if (follows || c.itself_fails) {
                                         ::SetLastError(follows ? 1920 : ERROR_FILE_NOT_FOUND);
                                         return INVALID_HANDLE_VALUE;
                                       }
                                     }
                                     return CreateFileW_import::original(name, access, share, security, disposition,
                                                                         flags, model);
                                   });
    Hook<GetFileInformationByHandle_import> infos(
        kernel32, "GetFileInformationByHandle", [&](HANDLE handle, LPBY_HANDLE_FILE_INFORMATION info) -> BOOL {
          const BOOL done = GetFileInformationByHandle_import::original(handle, info);
          if (done && c.tag) info->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
          return done;
        });
    Hook<GetFileInformationByHandleEx_import> tags(
        kernel32, "GetFileInformationByHandleEx",
        [&](HANDLE handle, FILE_INFO_BY_HANDLE_CLASS level, LPVOID info, DWORD size) -> BOOL {
          const BOOL done = GetFileInformationByHandleEx_import::original(handle, level, info, size);
          if (done && level == FileAttributeTagInfo) static_cast<FILE_ATTRIBUTE_TAG_INFO*>(info)->ReparseTag = c.tag;
          return done;
        });
    ASSERT_HOOKED(opens);
    ASSERT_HOOKED(infos);
    ASSERT_HOOKED(tags);
    EXPECT_EQ(described(platform::path_status(path)), c.followed);
    EXPECT_EQ(followed_opens, (std::vector<bool>{true, false}));
  }
}

// ---- listings ------------------------------------------------------------------------------------

// A listing that cannot start fails with the search's error (only "no file" is an empty listing).
TEST_F(FileFault, AListingThatCannotStartFails) {
  Hook<FindFirstFileExW_import> finds(
      kernel32, "FindFirstFileExW",
      [&](LPCWSTR, FINDEX_INFO_LEVELS, LPVOID, FINDEX_SEARCH_OPS, LPVOID, DWORD) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
      });
  ASSERT_HOOKED(finds);
  auto listing = platform::list_directory(root_);
  EXPECT_EQ(outcome(listing), os_detail(5, "PermissionDenied"));
}

// A search that fails midway yields its error once, and the listing is then at its end.
TEST_F(FileFault, AListingThatFailsMidwayYieldsTheErrorOnceThenEnds) {
  for (const char* name : {"a.txt", "b.txt", "c.txt"}) fs_test::write_text(at({name}), name);
  auto listing = platform::list_directory(root_);
  ASSERT_EQ(outcome(listing), "ok");
  int nexts = 0;
  Hook<FindNextFileW_import> hook(kernel32, "FindNextFileW", [&](HANDLE search, LPWIN32_FIND_DATAW data) -> BOOL {
    // ".." and "a.txt" come through (Wine lists "." first, then sorted names).
    if (++nexts > 2) {
      ::SetLastError(ERROR_NETNAME_DELETED);
      return FALSE;
    }
    return FindNextFileW_import::original(search, data);
  });
  ASSERT_HOOKED(hook);
  std::vector<std::string> items;
  for (int i = 0; i < 4; ++i) {
    auto item = platform::next_entry(*listing);
    if (!item) {
      items.push_back("end");
    } else if (*item) {
      items.push_back((*item)->name);
    } else {
      items.push_back(platform::error_detail(item->error()));
    }
  }
  EXPECT_EQ(items, (std::vector<std::string>{"a.txt", os_detail(ERROR_NETNAME_DELETED, "Uncategorized"), "end", "end"}));
  EXPECT_EQ(nexts, 3);
}

// ---- files ---------------------------------------------------------------------------------------

// Creating over an existing file: a handle that cannot be examined, or that shows a reparse
// point, is refused before the file is emptied; when the allocation size cannot be set, the end
// of file is, and when that fails too the file is left as it was.
TEST_F(FileFault, CreatingOverAnExistingFileEmptiesItOrLeavesItWhole) {
  const std::string path = at({"existing.txt"});
  struct Case {
    const char* name;
    bool tag_fails;
    bool reparse;
    bool allocation_fails;
    bool end_fails;
    std::string expected_outcome;
    std::string expected_content;
    std::vector<int> expected_sets;
  };
  const Case cases[] = {
      {"tag fails", true, false, false, false, os_detail(1, "Uncategorized"), "old content", {}},
      {"reparse point", false, true, false, false, os_detail(681, "Uncategorized"), "old content", {}},
      {"allocation refused", false, false, true, false, "ok", "", {FileAllocationInfo, FileEndOfFileInfo}},
      {"both refused", false, false, true, true, os_detail(5, "PermissionDenied"), "old content",
       {FileAllocationInfo, FileEndOfFileInfo}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs_test::write_text(path, "old content");
    std::vector<int> sets;
    Hook<GetFileInformationByHandleEx_import> tags(
        kernel32, "GetFileInformationByHandleEx",
        [&](HANDLE handle, FILE_INFO_BY_HANDLE_CLASS level, LPVOID info, DWORD size) -> BOOL {
          if (level == FileAttributeTagInfo && c.tag_fails) {
            ::SetLastError(ERROR_INVALID_FUNCTION);
            return FALSE;
          }
          const BOOL done = GetFileInformationByHandleEx_import::original(handle, level, info, size);
          if (done && level == FileAttributeTagInfo && c.reparse) {
            static_cast<FILE_ATTRIBUTE_TAG_INFO*>(info)->FileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
          }
          return done;
        });
    Hook<SetFileInformationByHandle_import> sets_hook(
        kernel32, "SetFileInformationByHandle",
        [&](HANDLE handle, FILE_INFO_BY_HANDLE_CLASS level, LPVOID info, DWORD size) -> BOOL {
          sets.push_back(level);
          if ((level == FileAllocationInfo && c.allocation_fails) || (level == FileEndOfFileInfo && c.end_fails)) {
            ::SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
          }
          return SetFileInformationByHandle_import::original(handle, level, info, size);
        });
    ASSERT_HOOKED(tags);
    ASSERT_HOOKED(sets_hook);
    {
      auto file = platform::create_file(path);
      EXPECT_EQ(outcome(file), c.expected_outcome);
    }
    EXPECT_EQ(sets, c.expected_sets);
    EXPECT_EQ(fs_test::read_text(path), c.expected_content);
  }
}

// Writing goes on until every byte is taken, however few each call takes; a call that takes
// none, or fails, ends the write with that outcome.
TEST_F(FileFault, WritingContinuesUntilEveryByteIsTakenOrACallTakesNone) {
  const std::string path = at({"written.txt"});
  const std::string text = "0123456789";
  struct Case {
    const char* name;
    ULONG per_call;         // at most this many bytes taken per call
    NTSTATUS status;        // returned instead of writing (0: write)
    int taking_calls;       // calls that take bytes before one takes none
    std::string expected_outcome;
    std::string expected_content;
    int expected_calls;
  };
  const Case cases[] = {
      {"three at a time", 3, 0, 100, "ok", "0123456789", 4},
      {"then none", 4, 0, 2, "Error { kind: WriteZero, message: \"failed to write whole buffer\" }", "01234567", 3},
      {"disk full", 4, static_cast<NTSTATUS>(0xC000007F), 100, os_detail(ERROR_DISK_FULL, "Uncategorized"), "", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int calls = 0;
    auto file = platform::create_file(path);
    ASSERT_EQ(outcome(file), "ok");
    {
      Hook<NtWriteFile_import> hook(ntdll, "NtWriteFile",
                                    [&](HANDLE handle, HANDLE event, PIO_APC_ROUTINE apc, PVOID context,
                                        PIO_STATUS_BLOCK io, PVOID buffer, ULONG length, PLARGE_INTEGER offset,
                                        PULONG key) -> NTSTATUS {
                                      if (++calls > c.taking_calls) {
                                        io->Status = 0;
                                        io->Information = 0;
                                        return 0;
                                      }
                                      if (c.status != 0) return c.status;
                                      return NtWriteFile_import::original(handle, event, apc, context, io, buffer,
                                                                          std::min(length, c.per_call), offset, key);
                                    });
      ASSERT_HOOKED(hook);
      auto written = platform::write_file(*file, std::as_bytes(std::span(text.data(), text.size())));
      EXPECT_EQ(outcome(written), c.expected_outcome);
    }
    platform::close_file(std::move(*file));
    EXPECT_EQ(calls, c.expected_calls);
    EXPECT_EQ(fs_test::read_text(path), c.expected_content);
  }
}

// ---- final paths and links -----------------------------------------------------------------------

// The final path is asked for with a buffer grown to what the system says it needs (or doubled
// when the answer fills it exactly); an empty answer is an empty path. When the system gives none
// (a volume without a drive-letter name: a RAM disk, one the Mount Manager does not know), the
// entry's own full path, in its long-path form, stands in.
TEST_F(FileFault, TheFinalPathBufferGrowsUntilTheAnswerFits) {
  const std::string dir = at({"final"});
  fs_test::make_directory(dir);
  const auto plain = platform::resolve_path(dir);
  ASSERT_EQ(outcome(plain), "ok");
  struct Case {
    const char* name;
    DWORD first_answer;  // answered to the first call instead of the path; 0 with first_error
    DWORD first_error;
    std::string expected;
    std::vector<DWORD> expected_sizes;
  };
  const Case cases[] = {
      {"needs more", 700, 0, *plain, {512, 700}},
      {"fills it exactly", 512, 0, *plain, {512, 1024}},
      {"fails", 0, ERROR_INVALID_FUNCTION, "\\\\?\\" + dir, {512}},
      {"empty", 0, 0, "", {512}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<DWORD> sizes;
    Hook<GetFinalPathNameByHandleW_import> hook(kernel32, "GetFinalPathNameByHandleW",
                                                [&](HANDLE handle, LPWSTR buffer, DWORD size, DWORD flags) -> DWORD {
                                                  sizes.push_back(size);
                                                  if (sizes.size() == 1) {
                                                    ::SetLastError(c.first_error);
                                                    return c.first_answer;
                                                  }
                                                  return GetFinalPathNameByHandleW_import::original(handle, buffer,
                                                                                                    size, flags);
                                                });
    ASSERT_HOOKED(hook);
    auto resolved = platform::resolve_path(dir);
    EXPECT_EQ(resolved ? *resolved : platform::error_detail(resolved.error()), c.expected);
    EXPECT_EQ(sizes, c.expected_sizes);
  }
}

// A link's target as its reparse data holds it: a relative symbolic link's as it stands, an NT
// path (symbolic link or junction) in its ordinary form.
TEST_F(FileFault, ALinkTargetIsReadFromItsReparseData) {
  const std::string path = at({"link"});
  fs_test::write_text(path, "");
  struct Case {
    DWORD tag;
    ULONG flags;
    std::u16string substitute;
    std::string expected;
  };
  const Case cases[] = {
      {symlink_tag, 1, u"..\\sibling\\x", "..\\sibling\\x"},
      {symlink_tag, 0, u"\\??\\C:\\target\\dir", "C:\\target\\dir"},
      {mount_point_tag, 0, u"\\??\\C:\\junction", "C:\\junction"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    // Tag, data length, reserved; substitute offset and length, print offset and length; a
    // symbolic link's flags; then the substitute name (no print name).
    std::vector<unsigned char> data(8 + 8 + (c.tag == symlink_tag ? 4 : 0));
    const auto put16 = [&](std::size_t at, std::uint16_t value) { std::memcpy(&data[at], &value, 2); };
    std::memcpy(&data[0], &c.tag, 4);
    put16(8, 0);
    put16(10, static_cast<std::uint16_t>(c.substitute.size() * 2));
    if (c.tag == symlink_tag) std::memcpy(&data[16], &c.flags, 4);
    const std::size_t names = data.size();
    data.resize(names + c.substitute.size() * 2);
    std::memcpy(&data[names], c.substitute.data(), c.substitute.size() * 2);
    put16(4, static_cast<std::uint16_t>(data.size() - 8));
    Hook<DeviceIoControl_import> hook(kernel32, "DeviceIoControl",
                                      [&](HANDLE, DWORD code, LPVOID, DWORD, LPVOID out, DWORD out_size,
                                          LPDWORD returned, LPOVERLAPPED) -> BOOL {
                                        if (code != FSCTL_GET_REPARSE_POINT || out_size < data.size()) {
                                          ::SetLastError(ERROR_INVALID_FUNCTION);
                                          return FALSE;
                                        }
                                        std::memcpy(out, data.data(), data.size());
                                        *returned = static_cast<DWORD>(data.size());
                                        return TRUE;
                                      });
    ASSERT_HOOKED(hook);
    auto target = platform::read_link(path);
    EXPECT_EQ(target ? *target : platform::error_detail(target.error()), c.expected);
  }
}

// Making a link asks for an unprivileged one first; a system that rejects that flag as an
// invalid parameter is asked again without it. Any other refusal is the error.
TEST_F(FileFault, ALinkIsMadeWithoutTheUnprivilegedFlagWhenTheSystemRejectsIt) {
  constexpr DWORD unprivileged = 2;
  struct Case {
    bool directory;
    std::vector<DWORD> answers;  // per call: 0 success, else the error
    std::string expected_outcome;
    std::vector<DWORD> expected_flags;
  };
  const Case cases[] = {
      {true, {ERROR_INVALID_PARAMETER, 0}, "ok", {unprivileged | SYMBOLIC_LINK_FLAG_DIRECTORY, SYMBOLIC_LINK_FLAG_DIRECTORY}},
      {false, {ERROR_INVALID_PARAMETER, ERROR_PRIVILEGE_NOT_HELD}, os_detail(1314, "Uncategorized"), {unprivileged, 0}},
      {false, {ERROR_ACCESS_DENIED}, os_detail(5, "PermissionDenied"), {unprivileged}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected_outcome);
    std::vector<DWORD> flags_seen;
    Hook<CreateSymbolicLinkW_import> hook(kernel32, "CreateSymbolicLinkW", [&](LPCWSTR, LPCWSTR, DWORD flags) -> BOOLEAN {
      flags_seen.push_back(flags);
      const DWORD answer = c.answers.at(flags_seen.size() - 1);
      ::SetLastError(answer);
      return answer == 0;
    });
    ASSERT_HOOKED(hook);
    EXPECT_EQ(outcome(platform::create_link("target", at({"made"}), c.directory)), c.expected_outcome);
    EXPECT_EQ(flags_seen, c.expected_flags);
  }
}

}  // namespace
