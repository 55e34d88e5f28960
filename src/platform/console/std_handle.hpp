// What a missing or closed standard handle means to the streams: output to it disappears and
// input from it is at its end. Shared by the pure stream logic and both backends.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/error.hpp"

#if !defined(_WIN32)
#include <cerrno>
#endif

namespace platform {

// The OS error of a handle that is not there: ERROR_INVALID_HANDLE on Windows, EBADF on POSIX.
#if defined(_WIN32)
inline constexpr std::uint32_t missing_handle_code = 6;
#else
inline constexpr std::uint32_t missing_handle_code = EBADF;
#endif

inline bool is_missing_handle(const PlatformError& error) {
  return error.is_os() && error.os_code() == missing_handle_code;
}

// A raw write to a missing handle counts as having written everything.
[[nodiscard]] inline Result<std::size_t> count_missing_as_written(Result<std::size_t> written, std::size_t size) {
  if (!written && is_missing_handle(written.error())) return size;
  return written;
}

// A raw read from a missing handle is the end of input.
[[nodiscard]] inline Result<std::size_t> count_missing_as_end(Result<std::size_t> read) {
  if (!read && is_missing_handle(read.error())) return 0;
  return read;
}

}  // namespace platform
