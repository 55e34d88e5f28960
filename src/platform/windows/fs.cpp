// File-system operations on Windows: directories, status, listings and files. Every path goes to
// the system in its native form; no handle is inheritable (no security attributes anywhere).
#include "platform/fs.hpp"

#include <algorithm>

#include "platform/directory_walk.hpp"
#include "platform/path.hpp"
#include "platform/windows/fs_internal.hpp"

namespace platform {

using windows::last_os_error;
using windows::native_path;
using windows::UniqueHandle;

namespace {

bool is_directory(const std::string& path) {
  auto status = path_status(path);
  return status && status->directory;
}

// The entry as its directory lists it, for entries that cannot be opened.
Result<FileStatus> find_status(const std::wstring& native) {
  WIN32_FIND_DATAW data{};
  const HANDLE search = ::FindFirstFileExW(native.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return std::unexpected(last_os_error());
  ::FindClose(search);
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
    if (follow && found->link) return std::unexpected(PlatformError::os(code));
    return found;
  }
  if (follow && code == windows::error_cant_access_file) {
    auto itself = status(path, false);
    if (itself && !itself->link) return itself;
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

Result<void> create_directory_all(std::string_view path) {
  if (path.find('\0') != std::string_view::npos) return std::unexpected(nul_in_data_error());
  return create_directory_walk(path, DirectoryWalk{
                                         .parent = [](std::string_view p) { return parent_path(p); },
                                         .make_directory = [](const std::string& p) { return create_directory(p); },
                                         .is_directory = is_directory,
                                     });
}

Result<FileStatus> path_status(std::string_view path) { return status(path, true); }
Result<FileStatus> link_status(std::string_view path) { return status(path, false); }

// ---- listings ----------------------------------------------------------------------------------

struct Listing::State {
  std::string directory;
  HANDLE search = INVALID_HANDLE_VALUE;  // closed at the end, at an error item, or on release
  WIN32_FIND_DATAW first{};
  bool first_pending = false;

  State() = default;
  State(const State&) = delete;
  State& operator=(const State&) = delete;
  ~State() { close(); }
  void close() {
    if (search != INVALID_HANDLE_VALUE) ::FindClose(search);
    search = INVALID_HANDLE_VALUE;
  }
};

Listing::Listing(std::unique_ptr<State> state) : state_(std::move(state)) {}
Listing::Listing(Listing&&) noexcept = default;
Listing& Listing::operator=(Listing&&) noexcept = default;
Listing::~Listing() = default;

Result<Listing> list_directory(std::string_view path) {
  if (path.empty()) return std::unexpected(PlatformError::os(ERROR_PATH_NOT_FOUND));
  auto pattern = native_path(join_path(path, "*"));
  if (!pattern) return std::unexpected(pattern.error());

  auto state = std::make_unique<Listing::State>();
  state->directory = std::string(path);
  state->search =
      ::FindFirstFileExW(pattern->c_str(), FindExInfoBasic, &state->first, FindExSearchNameMatch, nullptr, 0);
  if (state->search == INVALID_HANDLE_VALUE) {
    const DWORD code = ::GetLastError();
    if (code != ERROR_FILE_NOT_FOUND) return std::unexpected(PlatformError::os(code));
  } else {
    state->first_pending = true;
  }
  return Listing(std::move(state));
}

std::optional<Result<DirectoryEntry>> next_entry(Listing& listing) {
  auto& state = *listing.state_;
  WIN32_FIND_DATAW data{};
  while (state.search != INVALID_HANDLE_VALUE) {
    if (state.first_pending) {
      data = state.first;
      state.first_pending = false;
    } else if (!::FindNextFileW(state.search, &data)) {
      const DWORD code = ::GetLastError();
      state.close();
      if (code == ERROR_NO_MORE_FILES) return std::nullopt;
      return Result<DirectoryEntry>(std::unexpected(PlatformError::os(code)));
    }
    const std::wstring_view name(data.cFileName, ::wcsnlen(data.cFileName, MAX_PATH));
    if (name == L"." || name == L"..") continue;
    return Result<DirectoryEntry>(DirectoryEntry{state.directory, windows::utf8_from_wide(name)});
  }
  return std::nullopt;
}

// ---- files -------------------------------------------------------------------------------------

struct File::State {
  UniqueHandle handle;
};

File::File(std::unique_ptr<State> state) : state_(std::move(state)) {}
File::File(File&&) noexcept = default;
File& File::operator=(File&&) noexcept = default;
File::~File() = default;

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
  return File(std::make_unique<File::State>(std::move(handle)));
}

Result<void> write_file(File& file, std::span<const std::byte> bytes) {
  const HANDLE handle = file.state_->handle.get();
  while (!bytes.empty()) {
    const ULONG length = static_cast<ULONG>(std::min<std::size_t>(bytes.size(), 0x7FFFF000));
    IO_STATUS_BLOCK io{};
    NTSTATUS status = ::NtWriteFile(handle, nullptr, nullptr, nullptr, &io, const_cast<std::byte*>(bytes.data()),
                                    length, nullptr, nullptr);
    if (status == STATUS_PENDING) {
      ::WaitForSingleObject(handle, INFINITE);
      status = io.Status;
    }
    if (!NT_SUCCESS(status)) return std::unexpected(PlatformError::os(::RtlNtStatusToDosError(status)));
    if (io.Information == 0) {
      return std::unexpected(PlatformError::message(ErrorKind::WriteZero, "failed to write whole buffer"));
    }
    bytes = bytes.subspan(std::min<std::size_t>(io.Information, bytes.size()));
  }
  return {};
}

void close_file(File file) { File closing = std::move(file); }

}  // namespace platform
