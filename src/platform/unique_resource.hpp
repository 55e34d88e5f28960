// The one owner of an operating-system resource: move-only, closes what it holds exactly once.
// `Traits` says what the resource is: its handle type, the value that means "none", which values
// are valid, and how one is closed.
#pragma once

#include <utility>

namespace platform {

template <typename Traits>
class UniqueResource {
 public:
  using Handle = typename Traits::Handle;

  UniqueResource() noexcept = default;
  explicit UniqueResource(Handle handle) noexcept : handle_(handle) {}
  UniqueResource(UniqueResource&& other) noexcept : handle_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  ~UniqueResource() { reset(); }

  Handle get() const noexcept { return handle_; }
  explicit operator bool() const noexcept { return Traits::is_valid(handle_); }
  // Gives up ownership without closing.
  Handle release() noexcept { return std::exchange(handle_, Traits::invalid()); }
  // Closes what is held (if anything) and takes `handle` instead.
  void reset(Handle handle = Traits::invalid()) noexcept {
    const Handle old = std::exchange(handle_, handle);
    if (Traits::is_valid(old)) Traits::close(old);
  }

 private:
  Handle handle_ = Traits::invalid();
};

}  // namespace platform
