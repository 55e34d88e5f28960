// The system's own resources as the platform's types hold them, without the system's headers:
// a kernel handle (a Windows HANDLE, a POSIX file descriptor) and a directory search (a
// FindFirstFileExW handle, a POSIX DIR*). The backends define how each is closed.
#pragma once

#include "platform/unique_resource.hpp"

namespace platform {

#if defined(_WIN32)
// HANDLE: both NULL and INVALID_HANDLE_VALUE mean none (CreateFileW and CreateProcessW differ).
struct KernelHandleTraits {
  using Handle = void*;
  static Handle invalid() noexcept { return nullptr; }
  static bool is_valid(Handle handle) noexcept { return handle != nullptr && handle != reinterpret_cast<Handle>(-1); }
  static void close(Handle handle) noexcept;  // CloseHandle
};
struct SearchHandleTraits {
  using Handle = void*;
  static Handle invalid() noexcept { return reinterpret_cast<Handle>(-1); }
  static bool is_valid(Handle handle) noexcept { return handle != nullptr && handle != reinterpret_cast<Handle>(-1); }
  static void close(Handle handle) noexcept;  // FindClose
};
#else
struct KernelHandleTraits {
  using Handle = int;
  static Handle invalid() noexcept { return -1; }
  static bool is_valid(Handle fd) noexcept { return fd >= 0; }
  static void close(Handle fd) noexcept;  // close, never retried
};
struct SearchHandleTraits {
  using Handle = void*;  // DIR*
  static Handle invalid() noexcept { return nullptr; }
  static bool is_valid(Handle stream) noexcept { return stream != nullptr; }
  static void close(Handle stream) noexcept;  // closedir
};
#endif

using KernelHandle = UniqueResource<KernelHandleTraits>;
using SearchHandle = UniqueResource<SearchHandleTraits>;

}  // namespace platform
