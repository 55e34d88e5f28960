// File-system operations on Windows: directories, status, listings and files. Every path goes to
// the system in its native form; no handle is inheritable (no security attributes anywhere).
#include "platform/fs.hpp"

#include <algorithm>

#include "platform/path.hpp"
#include "platform/windows/fs_internal.hpp"

namespace platform {

using windows::last_os_error;
using windows::native_path;
using windows::UniqueHandle;

namespace {

// The entry as its directory lists it, for entries that cannot be opened.
Result<FileStatus> find_status(const std::wstring& native) {
  WIN32_FIND_DATAW data{};
  const windows::FindHandle search(
      ::FindFirstFileExW(native.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0));
  if (!search) return std::unexpected(last_os_error());
  return windows::make_status(data.dwFileAttributes, data.dwReserved0,
                              (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow);
}

Result<FileStatus> handle_status(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(handle, &info)) return std::unexpected(last_os_error());
  DWORD tag = 0;
  if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    auto tagged = windows::attribute_tag(handle);
    if (!tagged) return std::unexpected(tagged.error());
    tag = tagged->ReparseTag;
  }
  return windows::make_status(info.dwFileAttributes, tag,
                              (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow);
}

Result<FileStatus> status(std::string_view path, bool follow) {
  auto native = native_path(path);
  if (!native) return std::unexpected(native.error());
  UniqueHandle handle = windows::open_for_examination(*native, follow);
  if (handle) return handle_status(handle.get());

  const DWORD code = ::GetLastError();
  if (code == ERROR_SHARING_VIOLATION || code == ERROR_ACCESS_DENIED) {
    // Held open without sharing (or otherwise closed to us): the directory still reports it.
    auto found = find_status(*native);
    if (!found) return std::unexpected(found.error());
    if (follow && found->kind == FileKind::Link) return std::unexpected(PlatformError::os(code));
    return found;
  }
  if (follow && code == windows::error_cant_access_file) {
    auto itself = status(path, false);
    if (itself && itself->kind != FileKind::Link) return itself;
  }
  return std::unexpected(PlatformError::os(code));
}

}  // namespace

Result<void> create_directory(std::string_view path) {
  auto native = native_path(path);
  if (!native) return std::unexpected(native.error());
  if (::CreateDirectoryW(native->c_str(), nullptr)) return {};
  return std::unexpected(last_os_error());
}

Result<FileStatus> path_status(std::string_view path) { return status(path, true); }
Result<FileStatus> link_status(std::string_view path) { return status(path, false); }

// ---- listings ----------------------------------------------------------------------------------

Result<Listing> list_directory(std::string_view path) {
  if (path.empty()) return std::unexpected(PlatformError::os(ERROR_PATH_NOT_FOUND));
  auto pattern = native_path(join_path(path, "*"));
  if (!pattern) return std::unexpected(pattern.error());

  WIN32_FIND_DATAW first{};
  windows::FindHandle search(
      ::FindFirstFileExW(pattern->c_str(), FindExInfoBasic, &first, FindExSearchNameMatch, nullptr, 0));
  std::optional<std::string> first_name;
  if (search) {
    first_name = windows::utf8_from_wide(std::wstring_view(first.cFileName, ::wcsnlen(first.cFileName, MAX_PATH)));
  } else if (const DWORD code = ::GetLastError(); code != ERROR_FILE_NOT_FOUND) {
    return std::unexpected(PlatformError::os(code));
  }
  return Listing(std::string(path), std::move(search), std::move(first_name));
}

std::optional<Result<DirectoryEntry>> next_entry(Listing& listing) {
  while (listing.search_) {
    std::string name;
    if (listing.first_) {
      name = std::move(*listing.first_);
      listing.first_.reset();
    } else {
      WIN32_FIND_DATAW data{};
      if (!::FindNextFileW(listing.search_.get(), &data)) {
        const DWORD code = ::GetLastError();
        listing.search_.reset();
        if (code == ERROR_NO_MORE_FILES) return std::nullopt;
        return Result<DirectoryEntry>(std::unexpected(PlatformError::os(code)));
      }
      name = windows::utf8_from_wide(std::wstring_view(data.cFileName, ::wcsnlen(data.cFileName, MAX_PATH)));
    }
    if (name == "." || name == "..") continue;
    return Result<DirectoryEntry>(DirectoryEntry{listing.directory_, std::move(name)});
  }
  return std::nullopt;
}

// ---- files -------------------------------------------------------------------------------------

Result<File> create_file(std::string_view path) {
  auto native = native_path(path);
  if (!native) return std::unexpected(native.error());
  // FILE_FLAG_OPEN_REPARSE_POINT: a link (or any other reparse point) at the path is opened
  // itself, never followed, and then refused before anything is emptied or written, so even a
  // link that appeared after the caller looked is never written through.
  UniqueHandle handle(::CreateFileW(native->c_str(), GENERIC_WRITE, windows::share_all, nullptr, OPEN_ALWAYS,
                                    FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!handle) return std::unexpected(last_os_error());
  const bool existed = ::GetLastError() == ERROR_ALREADY_EXISTS;

  auto tagged = windows::attribute_tag(handle.get());
  if (!tagged) return std::unexpected(tagged.error());
  if (tagged->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    return std::unexpected(PlatformError::os(windows::error_stopped_on_symlink));
  }

  if (existed) {
    // An existing file is emptied; not every file system takes the allocation size.
    FILE_ALLOCATION_INFO allocation{};
    if (!::SetFileInformationByHandle(handle.get(), FileAllocationInfo, &allocation, sizeof allocation)) {
      FILE_END_OF_FILE_INFO end{};
      if (!::SetFileInformationByHandle(handle.get(), FileEndOfFileInfo, &end, sizeof end)) {
        return std::unexpected(last_os_error());  // the handle closes on the way out
      }
    }
  }
  return File(std::move(handle));
}

Result<void> write_file(File& file, std::span<const std::byte> bytes) {
  while (!bytes.empty()) {
    const auto written = windows::nt_write(file.handle_.get(), bytes.first(std::min<std::size_t>(bytes.size(), 0x7FFFF000)));
    if (!written) return std::unexpected(written.error());
    if (*written == 0) {
      return std::unexpected(PlatformError::message(ErrorKind::WriteZero, "failed to write whole buffer"));
    }
    bytes = bytes.subspan(std::min(*written, bytes.size()));
  }
  return {};
}

void close_file(File file) { File closing = std::move(file); }

}  // namespace platform
