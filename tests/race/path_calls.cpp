#include "race/path_calls.hpp"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <utility>

namespace race {

namespace {

struct Armed {
  std::string name;
  When when;
  std::function<void()> move;
  bool done = false;
};

std::optional<Armed> armed;
thread_local bool moving = false;

std::string_view last_component(const char* path) {
  std::string_view p = path ? path : "";
  while (p.size() > 1 && p.back() == '/') p.remove_suffix(1);
  const auto slash = p.rfind('/');
  return slash == std::string_view::npos ? p : p.substr(slash + 1);
}

void at_call(const char* path, When when) {
  if (!armed || armed->done || moving || armed->when != when || last_component(path) != armed->name) return;
  armed->done = true;
  const int saved = errno;
  moving = true;
  armed->move();
  moving = false;
  errno = saved;
}

template <typename F>
F real(const char* name) {
  void* found = ::dlsym(RTLD_NEXT, name);
  if (!found) std::abort();
  return reinterpret_cast<F>(found);
}

// Runs the C library's call between the two chances to move; errno is the call's own.
template <typename Call>
auto watched(const char* path, Call call) {
  at_call(path, When::Before);
  const auto result = call();
  const int saved = errno;
  at_call(path, When::After);
  errno = saved;
  return result;
}

}  // namespace

void arm(std::string last_component, When when, std::function<void()> move) {
  armed = Armed{std::move(last_component), when, std::move(move)};
}

bool disarm() {
  const bool done = armed && armed->done;
  armed.reset();
  return done;
}

}  // namespace race

using race::real;
using race::watched;

extern "C" {

int lstat(const char* path, struct stat* buf) noexcept {
  static const auto call = real<int (*)(const char*, struct stat*)>("lstat");
  return watched(path, [&] { return call(path, buf); });
}

int stat(const char* path, struct stat* buf) noexcept {
  static const auto call = real<int (*)(const char*, struct stat*)>("stat");
  return watched(path, [&] { return call(path, buf); });
}

int fstatat(int dirfd, const char* path, struct stat* buf, int flags) noexcept {
  static const auto call = real<int (*)(int, const char*, struct stat*, int)>("fstatat");
  return watched(path, [&] { return call(dirfd, path, buf, flags); });
}

int mkdir(const char* path, mode_t mode) noexcept {
  static const auto call = real<int (*)(const char*, mode_t)>("mkdir");
  return watched(path, [&] { return call(path, mode); });
}

int mkdirat(int dirfd, const char* path, mode_t mode) noexcept {
  static const auto call = real<int (*)(int, const char*, mode_t)>("mkdirat");
  return watched(path, [&] { return call(dirfd, path, mode); });
}

int open(const char* path, int flags, ...) {
  static const auto call = real<int (*)(const char*, int, ...)>("open");
  mode_t mode = 0;
  if (flags & (O_CREAT | O_TMPFILE)) {
    va_list args;
    va_start(args, flags);
    mode = static_cast<mode_t>(va_arg(args, int));
    va_end(args);
  }
  return watched(path, [&] { return call(path, flags, mode); });
}

int openat(int dirfd, const char* path, int flags, ...) {
  static const auto call = real<int (*)(int, const char*, int, ...)>("openat");
  mode_t mode = 0;
  if (flags & (O_CREAT | O_TMPFILE)) {
    va_list args;
    va_start(args, flags);
    mode = static_cast<mode_t>(va_arg(args, int));
    va_end(args);
  }
  return watched(path, [&] { return call(dirfd, path, flags, mode); });
}

}  // extern "C"
