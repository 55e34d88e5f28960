// Chosen C library calls made to fail on purpose, in this program only. The program is linked with
// the linker's --wrap for each call below, so every call the code under test makes reaches
// __wrap_<call> here first; it goes on to the C library's own (__real_<call>) unless an armed
// fault takes it.
//
// A fault is armed by an `Armed` guard for the guard's lifetime: the first `after` matching calls
// go through, the next `times` (or all, with `every`) do what `act` says. Every matching call,
// taken or not, is logged with its arguments while the guard lives.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace faults {

enum class Call {
  fdopendir,
  fstatat,
  lstat,
  mkdir,
  mkdirat,
  nanosleep,
  open,
  openat,
  pthread_attr_getstack,
  pthread_getattr_np,
  read,
  readdir,
  readlink,
  rmdir,
  sigaltstack,
  sigtimedwait,
  stat,
  symlink,
  unlink,
  unlinkat,
  waitpid,
  write,
  // Whichever of fstatat, lstat, mkdir, mkdirat, open, openat and stat reaches the name first:
  // the calls that look a path up or make something there.
  any_lookup,
};

enum class Act {
  Fail,         // the call fails with `error` (for nanosleep: having slept half of what was asked;
                // the pthread calls return it rather than setting errno)
  ReturnZero,   // write: reports 0 bytes written, writing nothing
  UnknownType,  // readdir: the entry read, with d_type DT_UNKNOWN as some file systems give
  FullBuffer,   // readlink: reads, then reports the whole buffer filled, as for a longer link
  DoneThenFail, // unlink, unlinkat, rmdir: the removal is done, then reported failing with `error`,
                // as when another process removed the entry just before
  Before,       // any call: `hook` runs first (as another process could at that moment), then
                // the call is made as usual
  After,        // the calls of any_lookup: the call is made, then `hook` runs (errno stays the
                // call's own)
};

inline constexpr int every = -1;

struct Fault {
  Call call;
  int error = 0;
  int after = 0;
  int times = 1;
  Act act = Act::Fail;
  std::string name = {};  // when not empty: only calls on a path whose last component is this
  std::function<void()> hook = {};  // for Act::Before and Act::After; the calls it makes are not offered
};

class Armed {
 public:
  explicit Armed(Fault fault);
  ~Armed();
  Armed(const Armed&) = delete;
  Armed& operator=(const Armed&) = delete;

  // How many matching calls were made and how many of them the fault took.
  int calls() const;
  int taken() const;
  // Each matching call as "<call> <arguments>", in order.
  std::vector<std::string> log() const;

  struct State;

 private:
  State* state_;
};

}  // namespace faults
