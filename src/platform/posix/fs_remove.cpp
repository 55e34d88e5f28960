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
#include "platform/posix/fs_path.hpp"

namespace platform {

namespace {

constexpr int max_attempts = 50;

PlatformError os_error(int code) { return PlatformError::os(static_cast<std::uint32_t>(code)); }

// One directory being emptied: its open stream and how it is removed once empty.
class Frame {
 public:
  Frame(DIR* stream, std::string name) : stream_(stream), name_(std::move(name)) {}
  Frame(Frame&& other) noexcept
      : stream_(std::exchange(other.stream_, nullptr)), name_(std::move(other.name_)), attempts_(other.attempts_) {}
  Frame(const Frame&) = delete;
  Frame& operator=(const Frame&) = delete;
  Frame& operator=(Frame&&) = delete;
  ~Frame() {
    if (stream_) ::closedir(stream_);
  }

  DIR* stream() const { return stream_; }
  int fd() const { return ::dirfd(stream_); }
  const std::string& name() const { return name_; }
  int& attempts() { return attempts_; }

 private:
  DIR* stream_;
  std::string name_;  // the name in the parent; empty for the top
  int attempts_ = 0;
};

bool is_gone(int code) { return code == ENOENT; }

// Whether an entry is a directory to descend into; links never are.
Result<bool> is_real_directory(int parent, const dirent& entry) {
  if (entry.d_type != DT_UNKNOWN) return entry.d_type == DT_DIR;
  struct stat st {};
  if (::fstatat(parent, entry.d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) return std::unexpected(os_error(errno));
  return S_ISDIR(st.st_mode);
}

// The top of the tree: a directory opened without following, or a link to a directory, which is
// removed itself. Anything else is "not a directory" before anything is deleted.
Result<int> open_top(const std::string& path, bool& removed_link) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd >= 0) return fd;
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
  return -1;
}

}  // namespace

Result<void> remove_directory_all(std::string_view path) {
  auto checked = posix::c_path(path);
  if (!checked) return std::unexpected(checked.error());
  bool removed_link = false;
  auto top = open_top(*checked, removed_link);
  if (!top) return std::unexpected(top.error());
  if (removed_link) return {};

  DIR* top_stream = ::fdopendir(*top);
  if (!top_stream) {
    const int code = errno;
    ::close(*top);
    return std::unexpected(os_error(code));
  }
  std::vector<Frame> frames;
  frames.emplace_back(top_stream, std::string());

  while (!frames.empty()) {
    Frame& frame = frames.back();
    errno = 0;
    const dirent* entry = ::readdir(frame.stream());
    if (!entry) {
      if (errno != 0) return std::unexpected(os_error(errno));
      // Emptied: remove the directory itself. Entries created meanwhile make it not empty; they are
      // removed by another pass, a bounded number of times.
      const bool is_top = frames.size() == 1;
      const int result = is_top ? ::rmdir(checked->c_str())
                                : ::unlinkat(frames[frames.size() - 2].fd(), frame.name().c_str(), AT_REMOVEDIR);
      const int code = result == 0 ? 0 : errno;
      if (code == 0 || is_gone(code)) {
        frames.pop_back();
        continue;
      }
      if ((code == ENOTEMPTY || code == EEXIST) && ++frame.attempts() < max_attempts) {
        ::sched_yield();
        ::rewinddir(frame.stream());
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
      const int child = ::openat(frame.fd(), entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (child >= 0) {
        DIR* stream = ::fdopendir(child);
        if (!stream) {
          const int code = errno;
          ::close(child);
          return std::unexpected(os_error(code));
        }
        std::string child_name(name);
        frames.emplace_back(stream, std::move(child_name));  // invalidates `frame` and `entry`
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
