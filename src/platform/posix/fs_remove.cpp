// Removing a directory tree on POSIX. Every entry is reached relative to its parent's open
// descriptor and directories are opened with O_NOFOLLOW, so no link met inside the tree is ever
// followed: the link goes, its target stays.
#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>
#include <vector>

#include "platform/fs.hpp"
#include "platform/native_handle.hpp"
#include "platform/posix/fs_path.hpp"

namespace platform {

namespace {

constexpr int max_attempts = 50;

PlatformError os_error(int code) { return PlatformError::os(static_cast<std::uint32_t>(code)); }

// One directory being emptied: its open stream and how it is removed once empty.
struct Frame {
  SearchHandle stream;  // a DIR*
  std::string name;     // the name in the parent; empty for the top
  int attempts = 0;

  DIR* dir() const { return static_cast<DIR*>(stream.get()); }
  int fd() const { return ::dirfd(dir()); }
};

// A directory stream over an open descriptor; the stream owns the descriptor from then on.
Result<SearchHandle> stream_of(KernelHandle fd) {
  DIR* stream = ::fdopendir(fd.get());
  if (!stream) return std::unexpected(os_error(errno));  // `fd` still owns the descriptor
  (void)fd.release();
  return SearchHandle(stream);
}

bool is_gone(int code) { return code == ENOENT; }

// Whether an entry is a directory to descend into; links never are.
Result<bool> is_real_directory(int parent, const dirent& entry) {
  if (entry.d_type != DT_UNKNOWN) return entry.d_type == DT_DIR;
  struct stat st {};
  if (::fstatat(parent, entry.d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) return std::unexpected(os_error(errno));
  return S_ISDIR(st.st_mode);
}

// The top of the tree: a directory opened without following, or a link to a directory, which is
// removed itself (`removed_link`, and an empty handle). Anything else is "not a directory" before
// anything is deleted.
Result<KernelHandle> open_top(const std::string& path, bool& removed_link) {
  KernelHandle fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (fd) return fd;
  const int code = errno;
  if (code != ELOOP && code != ENOTDIR) return std::unexpected(os_error(code));
  struct stat link {};
  struct stat target {};
  if (::lstat(path.c_str(), &link) != 0) return std::unexpected(os_error(errno));
  if (!S_ISLNK(link.st_mode) || ::stat(path.c_str(), &target) != 0 || !S_ISDIR(target.st_mode)) {
    return std::unexpected(os_error(ENOTDIR));
  }
  if (::unlink(path.c_str()) != 0) return std::unexpected(os_error(errno));
  removed_link = true;
  return KernelHandle();
}

}  // namespace

Result<void> remove_directory_all(std::string_view path) {
  auto checked = posix::c_path(path);
  if (!checked) return std::unexpected(checked.error());
  bool removed_link = false;
  auto top = open_top(*checked, removed_link);
  if (!top) return std::unexpected(top.error());
  if (removed_link) return {};
  auto top_stream = stream_of(std::move(*top));
  if (!top_stream) return std::unexpected(top_stream.error());
  std::vector<Frame> frames;
  frames.push_back(Frame{std::move(*top_stream), {}});

  while (!frames.empty()) {
    Frame& frame = frames.back();
    errno = 0;
    const dirent* entry = ::readdir(frame.dir());
    if (!entry) {
      if (errno != 0) return std::unexpected(os_error(errno));
      // Emptied: remove the directory itself. Entries created meanwhile make it not empty; they are
      // removed by another pass, a bounded number of times.
      const bool is_top = frames.size() == 1;
      const int result = is_top ? ::rmdir(checked->c_str())
                                : ::unlinkat(frames[frames.size() - 2].fd(), frame.name.c_str(), AT_REMOVEDIR);
      const int code = result == 0 ? 0 : errno;
      if (code == 0 || is_gone(code)) {
        frames.pop_back();
        continue;
      }
      if ((code == ENOTEMPTY || code == EEXIST) && ++frame.attempts < max_attempts) {
        ::sched_yield();
        ::rewinddir(frame.dir());
        continue;
      }
      return std::unexpected(os_error(code));
    }

    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    auto directory = is_real_directory(frame.fd(), *entry);
    if (!directory) {
      if (is_gone(static_cast<int>(directory.error().os_code()))) continue;
      return std::unexpected(directory.error());
    }
    if (*directory) {
      KernelHandle child(::openat(frame.fd(), entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (child) {
        std::string child_name(name);
        auto stream = stream_of(std::move(child));
        if (!stream) return std::unexpected(stream.error());
        frames.push_back(Frame{std::move(*stream), std::move(child_name)});  // invalidates `frame` and `entry`
        continue;
      }
      const int code = errno;
      if (is_gone(code)) continue;
      // Replaced by a link or a file since it was listed: removed below as what it is now.
      if (code != ELOOP && code != ENOTDIR) return std::unexpected(os_error(code));
    }
    if (::unlinkat(frame.fd(), entry->d_name, 0) != 0 && !is_gone(errno)) return std::unexpected(os_error(errno));
  }
  return {};
}

}  // namespace platform
