// File-system operations on POSIX. A link is a symbolic link; errors carry errno as their code.
#include "platform/fs.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/path.hpp"
#include "platform/posix/fs_path.hpp"

namespace platform {

namespace {

PlatformError last_error() { return PlatformError::os(static_cast<std::uint32_t>(errno)); }

Result<FileStatus> status(std::string_view path, bool follow) {
  auto checked = posix::c_path(path);
  if (!checked) return std::unexpected(checked.error());
  struct stat st {};
  if ((follow ? ::stat(checked->c_str(), &st) : ::lstat(checked->c_str(), &st)) != 0) return std::unexpected(last_error());
  const FileKind kind = S_ISLNK(st.st_mode) ? FileKind::Link : S_ISDIR(st.st_mode) ? FileKind::Directory : FileKind::File;
  return FileStatus{kind, static_cast<std::uint64_t>(st.st_size)};
}

}  // namespace

Result<void> create_directory(std::string_view path) {
  auto checked = posix::c_path(path);
  if (!checked) return std::unexpected(checked.error());
  if (::mkdir(checked->c_str(), 0777) == 0) return {};
  return std::unexpected(last_error());
}

Result<FileStatus> path_status(std::string_view path) { return status(path, true); }
Result<FileStatus> link_status(std::string_view path) { return status(path, false); }

// ---- listings ----------------------------------------------------------------------------------

Result<Listing> list_directory(std::string_view path) {
  if (path.empty()) return std::unexpected(PlatformError::os(ENOENT));
  auto checked = posix::c_path(path);
  if (!checked) return std::unexpected(checked.error());
  SearchHandle stream(::opendir(checked->c_str()));
  if (!stream) return std::unexpected(last_error());
  return Listing(std::string(path), std::move(stream), std::nullopt);
}

std::optional<Result<DirectoryEntry>> next_entry(Listing& listing) {
  while (listing.search_) {
    errno = 0;
    const dirent* entry = ::readdir(static_cast<DIR*>(listing.search_.get()));
    if (!entry) {
      const int code = errno;
      listing.search_.reset();
      if (code == 0) return std::nullopt;
      return Result<DirectoryEntry>(std::unexpected(PlatformError::os(static_cast<std::uint32_t>(code))));
    }
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    return Result<DirectoryEntry>(DirectoryEntry{listing.directory_, std::string(name)});
  }
  return std::nullopt;
}

// ---- files -------------------------------------------------------------------------------------

Result<File> create_file(std::string_view path) {
  auto checked = posix::c_path(path);
  if (!checked) return std::unexpected(checked.error());
  // O_NOFOLLOW: a link at the path (even one that appeared after the caller looked) fails the
  // open with ELOOP before anything is emptied, so nothing is ever written through it.
  KernelHandle fd(::open(checked->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666));
  if (!fd) return std::unexpected(last_error());
  return File(std::move(fd));
}

Result<void> write_file(File& file, std::span<const std::byte> bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(file.handle_.get(), bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(last_error());
    }
    if (written == 0) {
      return std::unexpected(PlatformError::message(ErrorKind::WriteZero, "failed to write whole buffer"));
    }
    bytes = bytes.subspan(static_cast<std::size_t>(written));
  }
  return {};
}

void close_file(File file) { File closing = std::move(file); }

// ---- paths and links ---------------------------------------------------------------------------

Result<std::string> resolve_path(std::string_view path) {
  auto checked = posix::c_path(path);
  if (!checked) return std::unexpected(checked.error());
  char* resolved = ::realpath(checked->c_str(), nullptr);
  if (!resolved) return std::unexpected(last_error());
  std::string result(resolved);
  std::free(resolved);
  return result;
}

Result<std::string> read_link(std::string_view path) {
  auto checked = posix::c_path(path);
  if (!checked) return std::unexpected(checked.error());
  std::string buffer(256, '\0');
  for (;;) {
    const ssize_t length = ::readlink(checked->c_str(), buffer.data(), buffer.size());
    if (length < 0) return std::unexpected(last_error());
    if (static_cast<std::size_t>(length) < buffer.size()) {
      buffer.resize(static_cast<std::size_t>(length));
      return buffer;
    }
    buffer.resize(buffer.size() * 2);  // possibly cut short: try again with more room
  }
}

Result<void> create_link(std::string_view target, std::string_view link_path, bool /*directory*/) {
  auto checked_target = posix::c_path(target);
  if (!checked_target) return std::unexpected(checked_target.error());
  auto checked_link = posix::c_path(link_path);
  if (!checked_link) return std::unexpected(checked_link.error());
  if (::symlink(checked_target->c_str(), checked_link->c_str()) != 0) return std::unexpected(last_error());
  return {};
}

}  // namespace platform
