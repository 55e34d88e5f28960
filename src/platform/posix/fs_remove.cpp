// Removing a directory tree on POSIX. Every entry is reached relative to its parent's open
// descriptor and directories are opened with O_NOFOLLOW, so no link met inside the tree is ever
// followed: the link goes, its target stays. An entry that cannot be removed is left with its
// parents, and the removal goes on with the rest of the tree; the first such failure is the
// result.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/fs.hpp"
#include "platform/native_handle.hpp"
#include "platform/posix/fs_path.hpp"
#include "platform/retry_waits.hpp"
#include "platform/runtime.hpp"

namespace platform {

namespace {

PlatformError os_error(int code) { return PlatformError::os(static_cast<std::uint32_t>(code)); }

// One directory being emptied: its open stream and how it is removed once empty.
struct Frame {
  SearchHandle stream;  // a DIR*
  std::string name;     // the name in the parent; empty for the top
  bool incomplete = false;  // something below could not be removed, so this directory stays
  RetrySeries retries;

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
  RetryWaits waits;
  std::optional<PlatformError> first_error;
  // What fails stays, and so does every directory above it; the rest is still removed.
  const auto failed = [&](int code) {
    if (!first_error) first_error = os_error(code);
    for (Frame& open : frames) open.incomplete = true;
  };

  while (!frames.empty()) {
    Frame& frame = frames.back();
    errno = 0;
    const dirent* entry = ::readdir(frame.dir());
    if (!entry) {
      if (errno != 0) failed(errno);
      if (frame.incomplete) {
        frames.pop_back();
        continue;
      }
      // Emptied: remove the directory itself. Entries created meanwhile make it not empty; after a
      // wait they are removed by another pass.
      const bool is_top = frames.size() == 1;
      const int result = is_top ? ::rmdir(checked->c_str())
                                : ::unlinkat(frames[frames.size() - 2].fd(), frame.name.c_str(), AT_REMOVEDIR);
      const int code = result == 0 ? 0 : errno;
      if (code == 0 || is_gone(code)) {
        frames.pop_back();
        continue;
      }
      if (code == ENOTEMPTY || code == EEXIST) {
        if (const auto wait = waits.next(frame.retries)) {
          sleep_for(0, *wait * 1'000'000);
          ::rewinddir(frame.dir());
          continue;
        }
      }
      failed(code);
      frames.pop_back();
      continue;
    }

    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    auto directory = is_real_directory(frame.fd(), *entry);
    if (!directory) {
      const int code = static_cast<int>(directory.error().os_code());
      if (!is_gone(code)) failed(code);
      continue;
    }
    if (*directory) {
      KernelHandle child(::openat(frame.fd(), entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (child) {
        std::string child_name(name);
        auto stream = stream_of(std::move(child));
        if (!stream) {
          failed(static_cast<int>(stream.error().os_code()));
          continue;
        }
        frames.push_back(Frame{std::move(*stream), std::move(child_name)});  // invalidates `frame` and `entry`
        continue;
      }
      const int code = errno;
      if (is_gone(code)) continue;
      // Replaced by a link or a file since it was listed: removed below as what it is now.
      if (code != ELOOP && code != ENOTDIR) {
        failed(code);
        continue;
      }
    }
    if (::unlinkat(frame.fd(), entry->d_name, 0) != 0 && !is_gone(errno)) failed(errno);
  }
  if (first_error) return std::unexpected(std::move(*first_error));
  return {};
}

}  // namespace platform
