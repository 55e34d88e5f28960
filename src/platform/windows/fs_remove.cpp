// Removing a directory tree on Windows. Inside the tree every entry is opened relative to its
// parent's open handle and never followed, so a link or junction met there is removed itself and
// its target stays untouched. No full path is built below the top. An entry that cannot be
// removed is left with its parents, and the removal goes on with the rest of the tree; the first
// such failure is the result.
#include <optional>
#include <vector>

#include "platform/fs.hpp"
#include "platform/path_chars.hpp"
#include "platform/retry_waits.hpp"
#include "platform/windows/fs_internal.hpp"

namespace platform {

using windows::last_os_error;
using windows::UniqueHandle;

namespace {

constexpr NTSTATUS status_invalid_parameter = static_cast<NTSTATUS>(0xC000000D);
constexpr NTSTATUS status_delete_pending = static_cast<NTSTATUS>(0xC0000056);
constexpr auto file_disposition_info_ex = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
// Delete, POSIX semantics (the name goes when the handle closes), ignore the read-only attribute.
constexpr DWORD posix_delete_flags = 0x13;
// A handle that does not show the reparse point its directory lists: the system followed the link
// (Wine does, for links made on the host side). Such an entry is never deleted through that handle.
constexpr DWORD error_reparse_point_encountered = 4395;
constexpr std::size_t listing_buffer_size = 64 * 1024;

constexpr ACCESS_MASK entry_access = DELETE | SYNCHRONIZE | FILE_READ_ATTRIBUTES;
constexpr ACCESS_MASK directory_access = entry_access | FILE_LIST_DIRECTORY;

// Whether OBJ_DONT_REPARSE goes with every open; off for good once the system rejects it.
bool dont_reparse_in_use = true;

bool is_gone(DWORD code) {
  return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND || code == ERROR_BAD_NETPATH ||
         code == ERROR_BAD_NET_NAME || code == windows::error_delete_pending;
}

// Another program holding the entry for a moment: an open without delete sharing, an entry it is
// still deleting, children whose deletion is still pending.
bool may_pass(DWORD code) {
  return code == ERROR_SHARING_VIOLATION || code == ERROR_ACCESS_DENIED || code == ERROR_DIR_NOT_EMPTY;
}

PlatformError os_error(DWORD code) { return PlatformError::os(code); }

// Waits before the next attempt at an entry whose failure may pass; false when it will not, or
// when the entry has been waited for long enough.
bool wait_to_retry(DWORD code, RetrySeries& entry, RetryWaits& waits) {
  if (!may_pass(code)) return false;
  const auto wait = waits.next(entry);
  if (!wait) return false;
  ::Sleep(*wait);
  return true;
}

// Where an entry is: a name below an open directory, or (for the top) a native path.
struct Place {
  HANDLE parent = nullptr;
  std::wstring_view name;
  const std::wstring* native = nullptr;
};

Result<UniqueHandle> open_relative(HANDLE parent, std::wstring_view name, ACCESS_MASK access, ULONG options) {
  UNICODE_STRING object_name{};
  object_name.Buffer = const_cast<PWSTR>(name.data());
  object_name.Length = object_name.MaximumLength = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  for (;;) {
    const ULONG attributes = dont_reparse_in_use ? OBJ_DONT_REPARSE : 0;
    OBJECT_ATTRIBUTES object{};
    InitializeObjectAttributes(&object, &object_name, attributes, parent, nullptr);
    IO_STATUS_BLOCK io{};
    HANDLE handle = nullptr;
    const NTSTATUS status = ::NtOpenFile(&handle, access, &object, &io, windows::share_all,
                                         options | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT);
    if (NT_SUCCESS(status)) return UniqueHandle(handle);
    if (status == status_invalid_parameter && attributes != 0) {
      dont_reparse_in_use = false;
      continue;
    }
    // The system's translation makes a pending deletion "access denied"; it is kept apart, as
    // an entry on its way out counts as removed.
    if (status == status_delete_pending) return std::unexpected(os_error(windows::error_delete_pending));
    return std::unexpected(os_error(::RtlNtStatusToDosError(status)));
  }
}

Result<UniqueHandle> reopen(const Place& place, ACCESS_MASK access) {
  if (place.native) {
    UniqueHandle handle(::CreateFileW(place.native->c_str(), access, windows::share_all, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!handle) return std::unexpected(last_os_error());
    return handle;
  }
  return open_relative(place.parent, place.name, access, 0);
}

Result<void> clear_read_only(const Place& place, DWORD attributes) {
  auto handle = reopen(place, FILE_WRITE_ATTRIBUTES | SYNCHRONIZE);
  if (!handle) return std::unexpected(handle.error());
  constexpr DWORD settable = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                             FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  FILE_BASIC_INFO basic{};  // zero times are left unchanged
  basic.FileAttributes = (attributes & settable) ? (attributes & settable) : FILE_ATTRIBUTE_NORMAL;
  if (!::SetFileInformationByHandle(handle->get(), FileBasicInfo, &basic, sizeof basic)) {
    return std::unexpected(last_os_error());
  }
  return {};
}

// Marks an open entry for deletion. File systems that reject the POSIX-semantics request get the
// classic delete-on-close, which refuses read-only entries, so their read-only attribute is
// cleared first: a read-only file in the tree is removed either way.
Result<void> delete_open(HANDLE handle, DWORD attributes, const Place& place) {
  const DWORD flags = posix_delete_flags;
  if (::SetFileInformationByHandle(handle, file_disposition_info_ex, const_cast<DWORD*>(&flags), sizeof flags)) {
    return {};
  }
  const DWORD code = ::GetLastError();
  if (code != ERROR_INVALID_FUNCTION && code != ERROR_NOT_SUPPORTED && code != ERROR_INVALID_PARAMETER) {
    return std::unexpected(os_error(code));
  }
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    auto cleared = clear_read_only(place, attributes);
    if (!cleared) return cleared;
  }
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  if (::SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition)) return {};
  return std::unexpected(last_os_error());
}

// An entry as its directory lists it; for a reparse point the listing carries the tag as well.
struct Listed {
  std::wstring name;
  DWORD attributes;
  DWORD reparse_tag;
};

// One directory being emptied, with the entries of its current batch still to be handled.
struct Frame {
  UniqueHandle handle;
  std::wstring name;  // in the parent; unused for the top
  DWORD attributes = 0;
  std::vector<Listed> batch;
  std::size_t next = 0;
  bool restart = true;
  bool exhausted = false;
  bool incomplete = false;  // something below could not be removed, so this directory stays
  RetrySeries retries;
};

// Reads the next batch of a directory's entries; false at the end of the listing.
Result<bool> read_batch(Frame& frame, std::vector<std::uint64_t>& buffer) {
  const auto level = frame.restart ? FileIdBothDirectoryRestartInfo : FileIdBothDirectoryInfo;
  frame.restart = false;
  frame.batch.clear();
  frame.next = 0;
  const auto bytes = reinterpret_cast<const unsigned char*>(buffer.data());
  if (!::GetFileInformationByHandleEx(frame.handle.get(), level, buffer.data(),
                                      static_cast<DWORD>(buffer.size() * sizeof buffer[0]))) {
    const DWORD code = ::GetLastError();
    if (code == ERROR_NO_MORE_FILES) return false;
    return std::unexpected(os_error(code));
  }
  for (std::size_t offset = 0;;) {
    const auto* info = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(bytes + offset);
    const std::wstring_view name(info->FileName, info->FileNameLength / sizeof(wchar_t));
    if (name != L"." && name != L"..") {
      // For a reparse point the EA size field holds its tag.
      frame.batch.push_back(Listed{std::wstring(name), info->FileAttributes, info->EaSize});
    }
    if (info->NextEntryOffset == 0) break;
    offset += info->NextEntryOffset;
  }
  return true;
}

// Opens and deletes one entry, or opens a directory for descending (returned as a new frame).
// A link is removed itself; any other directory, a reparse-point one (a cloud placeholder, say)
// included, is emptied first.
Result<std::optional<Frame>> remove_entry(HANDLE parent, const Listed& entry, RetryWaits& waits) {
  const bool listed_as_reparse_point = entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT;
  bool as_directory =
      (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) && !windows::is_link(entry.attributes, entry.reparse_tag);
  const Place place{parent, entry.name, nullptr};
  RetrySeries retries;
  for (;;) {
    auto opened = as_directory
                      ? open_relative(parent, entry.name, directory_access, FILE_DIRECTORY_FILE | FILE_OPEN_FOR_BACKUP_INTENT)
                      : open_relative(parent, entry.name, entry_access, FILE_OPEN_FOR_BACKUP_INTENT);
    Result<void> deleted;
    if (opened) {
      DWORD attributes = entry.attributes;
      if (as_directory || listed_as_reparse_point) {
        // The handle, not the listing, decides what is deleted or descended into.
        auto tagged = windows::attribute_tag(opened->get());
        if (!tagged) return std::unexpected(tagged.error());
        attributes = tagged->FileAttributes;
        if (listed_as_reparse_point && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
          return std::unexpected(os_error(error_reparse_point_encountered));
        }
        if (as_directory && !windows::is_link(attributes, tagged->ReparseTag)) {
          return Frame{.handle = std::move(*opened), .name = entry.name, .attributes = attributes};
        }
      }
      deleted = delete_open(opened->get(), attributes, place);
      if (deleted) return std::nullopt;  // the name goes as the handle closes
    } else if (as_directory && opened.error().os_code() == ERROR_DIRECTORY) {
      as_directory = false;  // no longer a directory since it was listed
      continue;
    }
    const PlatformError& error = opened ? deleted.error() : opened.error();
    const DWORD code = error.os_code();
    if (is_gone(code)) return std::nullopt;
    if (wait_to_retry(code, retries, waits)) continue;
    return std::unexpected(error);
  }
}

// The top as its parent directory lists it: whether that shows a reparse point.
bool listed_as_reparse_point(std::wstring native) {
  while (native.size() > 1 && is_separator(native.back())) native.pop_back();
  WIN32_FIND_DATAW data{};
  const windows::FindHandle search(
      ::FindFirstFileExW(native.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0));
  return search && (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

}  // namespace

Result<void> remove_directory_all(std::string_view path) {
  auto native = windows::native_path(path);
  if (!native) return std::unexpected(native.error());
  // First examined with no more than the right to read attributes, so that a path that is no
  // directory fails as such whatever else it refuses.
  UniqueHandle probe(::CreateFileW(native->c_str(), FILE_READ_ATTRIBUTES, windows::share_all, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!probe) return std::unexpected(last_os_error());
  auto tagged = windows::attribute_tag(probe.get());
  if (!tagged) return std::unexpected(tagged.error());
  const DWORD attributes = tagged->FileAttributes;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return std::unexpected(os_error(ERROR_DIRECTORY));
  const bool link = windows::is_link(attributes, tagged->ReparseTag);
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT) && listed_as_reparse_point(*native)) {
    return std::unexpected(os_error(error_reparse_point_encountered));
  }

  // Reopened through the examined handle, never by path again, so it is the same entry.
  UniqueHandle top(::ReOpenFile(probe.get(), link ? entry_access : directory_access, windows::share_all,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT));
  if (!top) return std::unexpected(last_os_error());
  probe.reset();
  const Place top_place{nullptr, {}, &*native};
  if (link) return delete_open(top.get(), attributes, top_place);

  std::vector<std::uint64_t> buffer(listing_buffer_size / sizeof(std::uint64_t));
  std::vector<Frame> frames;
  frames.push_back(Frame{.handle = std::move(top), .attributes = attributes});
  RetryWaits waits;
  std::optional<PlatformError> first_error;
  // What fails stays, and so does every directory above it; the rest is still removed.
  const auto failed = [&](PlatformError error) {
    if (!first_error) first_error = std::move(error);
    for (Frame& open : frames) open.incomplete = true;
  };

  while (!frames.empty()) {
    Frame& frame = frames.back();
    if (frame.next < frame.batch.size()) {
      auto child = remove_entry(frame.handle.get(), frame.batch[frame.next++], waits);
      if (!child) {
        failed(std::move(child.error()));
      } else if (*child) {
        frames.push_back(std::move(**child));  // `frame` is not used again this round
      }
      continue;
    }
    if (!frame.exhausted) {
      auto more = read_batch(frame, buffer);
      frame.exhausted = !more || !*more;
      if (!more) failed(std::move(more.error()));
      continue;
    }
    if (frame.incomplete) {
      frames.pop_back();
      continue;
    }

    // Emptied: delete the directory itself. Entries that appeared meanwhile, or children whose
    // deletion is still pending, make it not empty for a moment: list again and retry.
    const Place place = frames.size() == 1 ? top_place : Place{frames[frames.size() - 2].handle.get(), frame.name};
    auto deleted = delete_open(frame.handle.get(), frame.attributes, place);
    if (deleted || is_gone(deleted.error().os_code())) {
      frames.pop_back();  // closing the handle completes the deletion
      continue;
    }
    if (wait_to_retry(deleted.error().os_code(), frame.retries, waits)) {
      frame.restart = true;
      frame.exhausted = false;
      continue;
    }
    failed(std::move(deleted.error()));
    frames.pop_back();
  }
  if (first_error) return std::unexpected(std::move(*first_error));
  return {};
}

}  // namespace platform
