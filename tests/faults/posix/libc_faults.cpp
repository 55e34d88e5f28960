#include "faults/posix/libc_faults.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <utility>

namespace faults {

struct Armed::State {
  Fault fault;
  int calls = 0;
  int taken = 0;
  std::vector<std::string> log;
};

namespace {

// The guards alive now; a call is offered to each in turn.
std::array<Armed::State*, 4> active{};

std::string_view last_component(const char* path) {
  std::string_view p = path ? path : "";
  while (p.size() > 1 && p.back() == '/') p.remove_suffix(1);
  const auto slash = p.rfind('/');
  return slash == std::string_view::npos ? p : p.substr(slash + 1);
}

// Set while a fault's hook runs: its own calls pass untouched.
thread_local bool in_hook = false;
// A hook to run when the call being made returns (Act::After).
thread_local Armed::State* pending_after = nullptr;

bool is_lookup(Call call) {
  switch (call) {
    case Call::fstatat:
    case Call::lstat:
    case Call::mkdir:
    case Call::mkdirat:
    case Call::open:
    case Call::openat:
    case Call::stat: return true;
    default: return false;
  }
}

bool watches(Call watched, Call call) { return watched == call || (watched == Call::any_lookup && is_lookup(call)); }

void run_hook(const Armed::State* state) {
  const int saved = errno;
  in_hook = true;
  state->fault.hook();
  in_hook = false;
  errno = saved;
}

// The result of a lookup call, after the hook a fault asked to run after it.
template <typename T>
T returning(T result) {
  if (Armed::State* state = std::exchange(pending_after, nullptr)) run_hook(state);
  return result;
}

// Offers a call to the armed faults: logs it with every guard that watches it and gives the one
// whose fault takes it, if any (a fault that runs `before` first lets the call go on). `describe`
// makes the log line only when someone watches.

template <typename Describe>
Armed::State* offer(Call call, std::string_view name, Describe describe) {
  if (in_hook) return nullptr;
  Armed::State* taking = nullptr;
  for (Armed::State* state : active) {
    if (!state || !watches(state->fault.call, call)) continue;
    if (!state->fault.name.empty() && state->fault.name != name) continue;
    const int index = state->calls++;
    state->log.push_back(describe());
    const Fault& f = state->fault;
    if (!taking && index >= f.after && (f.times == every || index < f.after + f.times)) {
      ++state->taken;
      taking = state;
    }
  }
  if (taking && taking->fault.act == Act::Before) {
    run_hook(taking);
    return nullptr;
  }
  if (taking && taking->fault.act == Act::After) {
    if (!is_lookup(call)) {
      std::fputs("faults: Act::After is for the lookup calls only\n", stderr);
      std::abort();
    }
    pending_after = taking;
    return nullptr;
  }
  return taking;
}

std::string with_path(const char* call, const char* path) {
  return std::string(call) + " " + std::string(last_component(path));
}

// A removal the armed fault takes: done first when the fault says so, then reported failing.
template <typename Removal>
int removal_taken(const Armed::State* state, Removal removal) {
  if (state->fault.act == Act::DoneThenFail) (void)removal();
  errno = state->fault.error;
  return -1;
}

template <typename T>
T fail(const Armed::State* state, T value) {
  errno = state->fault.error;
  return value;
}

}  // namespace

Armed::Armed(Fault fault) : state_(new State{std::move(fault)}) {
  for (State*& slot : active) {
    if (!slot) {
      slot = state_;
      return;
    }
  }
  std::fputs("faults: too many armed faults at once\n", stderr);
  std::abort();
}

Armed::~Armed() {
  for (State*& slot : active) {
    if (slot == state_) slot = nullptr;
  }
  delete state_;
}

int Armed::calls() const { return state_->calls; }
int Armed::taken() const { return state_->taken; }
std::vector<std::string> Armed::log() const { return state_->log; }

}  // namespace faults

using faults::Act;
using faults::Call;
using faults::fail;
using faults::last_component;
using faults::offer;
using faults::removal_taken;
using faults::returning;
using faults::with_path;

extern "C" {

DIR* __real_fdopendir(int fd);
int __real_fstatat(int dirfd, const char* path, struct stat* buf, int flags);
int __real_lstat(const char* path, struct stat* buf);
int __real_mkdir(const char* path, mode_t mode);
int __real_mkdirat(int dirfd, const char* path, mode_t mode);
int __real_nanosleep(const struct timespec* request, struct timespec* remaining);
int __real_open(const char* path, int flags, ...);
int __real_openat(int dirfd, const char* path, int flags, ...);
int __real_pthread_attr_getstack(const pthread_attr_t* attributes, void** lowest, size_t* size);
int __real_pthread_getattr_np(pthread_t thread, pthread_attr_t* attributes);
ssize_t __real_read(int fd, void* buffer, size_t count);
struct dirent* __real_readdir(DIR* dir);
ssize_t __real_readlink(const char* path, char* buffer, size_t size);
int __real_rmdir(const char* path);
int __real_sigaltstack(const stack_t* stack, stack_t* previous);
int __real_sigtimedwait(const sigset_t* set, siginfo_t* info, const struct timespec* timeout);
int __real_stat(const char* path, struct stat* buf);
int __real_symlink(const char* target, const char* link);
int __real_unlink(const char* path);
int __real_unlinkat(int dirfd, const char* path, int flags);
pid_t __real_waitpid(pid_t pid, int* status, int options);
ssize_t __real_write(int fd, const void* buffer, size_t count);

DIR* __wrap_fdopendir(int fd) {
  if (auto* s = offer(Call::fdopendir, "", [] { return std::string("fdopendir"); })) return fail<DIR*>(s, nullptr);
  return __real_fdopendir(fd);
}

int __wrap_fstatat(int dirfd, const char* path, struct stat* buf, int flags) {
  if (auto* s = offer(Call::fstatat, last_component(path), [&] { return with_path("fstatat", path); })) return fail(s, -1);
  return returning(__real_fstatat(dirfd, path, buf, flags));
}

int __wrap_lstat(const char* path, struct stat* buf) {
  if (auto* s = offer(Call::lstat, last_component(path), [&] { return with_path("lstat", path); })) return fail(s, -1);
  return returning(__real_lstat(path, buf));
}

int __wrap_mkdir(const char* path, mode_t mode) {
  if (auto* s = offer(Call::mkdir, last_component(path), [&] { return with_path("mkdir", path); })) return fail(s, -1);
  return returning(__real_mkdir(path, mode));
}

int __wrap_mkdirat(int dirfd, const char* path, mode_t mode) {
  if (auto* s = offer(Call::mkdirat, last_component(path), [&] { return with_path("mkdirat", path); })) {
    return fail(s, -1);
  }
  return returning(__real_mkdirat(dirfd, path, mode));
}

int __wrap_stat(const char* path, struct stat* buf) {
  if (auto* s = offer(Call::stat, last_component(path), [&] { return with_path("stat", path); })) return fail(s, -1);
  return returning(__real_stat(path, buf));
}

int __wrap_nanosleep(const struct timespec* request, struct timespec* remaining) {
  auto* s = offer(Call::nanosleep, "", [&] {
    char text[64];
    std::snprintf(text, sizeof text, "nanosleep %lld.%09ld", static_cast<long long>(request->tv_sec), request->tv_nsec);
    return std::string(text);
  });
  if (s) {
    if (remaining && s->fault.error == EINTR) {
      const __int128 half = (static_cast<__int128>(request->tv_sec) * 1'000'000'000 + request->tv_nsec) / 2;
      *remaining = timespec{static_cast<time_t>(half / 1'000'000'000), static_cast<long>(half % 1'000'000'000)};
    }
    return fail(s, -1);
  }
  return __real_nanosleep(request, remaining);
}

int __wrap_open(const char* path, int flags, ...) {
  mode_t mode = 0;
  if (flags & (O_CREAT | O_TMPFILE)) {
    va_list args;
    va_start(args, flags);
    mode = static_cast<mode_t>(va_arg(args, int));
    va_end(args);
  }
  if (auto* s = offer(Call::open, last_component(path), [&] { return with_path("open", path); })) return fail(s, -1);
  return returning(__real_open(path, flags, mode));
}

int __wrap_openat(int dirfd, const char* path, int flags, ...) {
  mode_t mode = 0;
  if (flags & (O_CREAT | O_TMPFILE)) {
    va_list args;
    va_start(args, flags);
    mode = static_cast<mode_t>(va_arg(args, int));
    va_end(args);
  }
  if (auto* s = offer(Call::openat, last_component(path), [&] { return with_path("openat", path); })) return fail(s, -1);
  return returning(__real_openat(dirfd, path, flags, mode));
}

int __wrap_pthread_attr_getstack(const pthread_attr_t* attributes, void** lowest, size_t* size) {
  if (auto* s = offer(Call::pthread_attr_getstack, "", [] { return std::string("pthread_attr_getstack"); })) {
    return s->fault.error;
  }
  return __real_pthread_attr_getstack(attributes, lowest, size);
}

int __wrap_pthread_getattr_np(pthread_t thread, pthread_attr_t* attributes) {
  if (auto* s = offer(Call::pthread_getattr_np, "", [] { return std::string("pthread_getattr_np"); })) {
    return s->fault.error;
  }
  return __real_pthread_getattr_np(thread, attributes);
}

ssize_t __wrap_read(int fd, void* buffer, size_t count) {
  if (auto* s = offer(Call::read, "", [&] { return "read " + std::to_string(count); })) return fail<ssize_t>(s, -1);
  return __real_read(fd, buffer, count);
}

ssize_t __wrap_write(int fd, const void* buffer, size_t count) {
  if (auto* s = offer(Call::write, "", [&] { return "write " + std::to_string(count); })) {
    if (s->fault.act == Act::ReturnZero) return 0;
    return fail<ssize_t>(s, -1);
  }
  return __real_write(fd, buffer, count);
}

struct dirent* __wrap_readdir(DIR* dir) {
  auto* s = offer(Call::readdir, "", [] { return std::string("readdir"); });
  if (s && s->fault.act == Act::Fail) return fail<struct dirent*>(s, nullptr);
  struct dirent* entry = __real_readdir(dir);
  if (s && s->fault.act == Act::UnknownType && entry) entry->d_type = DT_UNKNOWN;
  return entry;
}

ssize_t __wrap_readlink(const char* path, char* buffer, size_t size) {
  auto* s = offer(Call::readlink, last_component(path),
                  [&] { return with_path("readlink", path) + " " + std::to_string(size); });
  if (s && s->fault.act == Act::Fail) return fail<ssize_t>(s, -1);
  const ssize_t length = __real_readlink(path, buffer, size);
  if (s && s->fault.act == Act::FullBuffer && length >= 0) return static_cast<ssize_t>(size);
  return length;
}

int __wrap_rmdir(const char* path) {
  auto removal = [&] { return __real_rmdir(path); };
  if (auto* s = offer(Call::rmdir, last_component(path), [&] { return with_path("rmdir", path); })) {
    return removal_taken(s, removal);
  }
  return removal();
}

int __wrap_sigaltstack(const stack_t* stack, stack_t* previous) {
  if (auto* s = offer(Call::sigaltstack, "", [] { return std::string("sigaltstack"); })) return fail(s, -1);
  return __real_sigaltstack(stack, previous);
}

int __wrap_sigtimedwait(const sigset_t* set, siginfo_t* info, const struct timespec* timeout) {
  if (auto* s = offer(Call::sigtimedwait, "", [] { return std::string("sigtimedwait"); })) return fail(s, -1);
  return __real_sigtimedwait(set, info, timeout);
}

int __wrap_symlink(const char* target, const char* link) {
  if (auto* s = offer(Call::symlink, last_component(link),
                      [&] { return "symlink " + std::string(target) + " " + std::string(last_component(link)); })) {
    return fail(s, -1);
  }
  return __real_symlink(target, link);
}

int __wrap_unlink(const char* path) {
  auto removal = [&] { return __real_unlink(path); };
  if (auto* s = offer(Call::unlink, last_component(path), [&] { return with_path("unlink", path); })) {
    return removal_taken(s, removal);
  }
  return removal();
}

int __wrap_unlinkat(int dirfd, const char* path, int flags) {
  auto* s = offer(Call::unlinkat, last_component(path), [&] {
    return with_path("unlinkat", path) + ((flags & AT_REMOVEDIR) ? " AT_REMOVEDIR" : "");
  });
  auto removal = [&] { return __real_unlinkat(dirfd, path, flags); };
  if (s) return removal_taken(s, removal);
  return removal();
}

pid_t __wrap_waitpid(pid_t pid, int* status, int options) {
  auto* s = offer(Call::waitpid, "", [&] { return std::string((options & WNOHANG) ? "waitpid WNOHANG" : "waitpid 0"); });
  if (s) return fail<pid_t>(s, -1);
  return __real_waitpid(pid, status, options);
}

}  // extern "C"
