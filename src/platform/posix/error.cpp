// errno values: their kinds and the C library's message texts.
#include <cerrno>
#include <cstring>

#include "platform/error.hpp"

namespace platform {

namespace {

// strerror_r comes in two shapes (XSI returns an int, GNU a pointer); take either.
[[maybe_unused]] const char* chosen_text(int result, const char* buffer) {
  return result == 0 ? buffer : "Unknown error";
}
[[maybe_unused]] const char* chosen_text(const char* result, const char*) { return result; }

}  // namespace

ErrorKind os_error_kind(std::uint32_t code) {
  switch (static_cast<int>(code)) {
    case ENOENT:
      return ErrorKind::NotFound;
    case EACCES:
    case EPERM:
      return ErrorKind::PermissionDenied;
    case EPIPE:
      return ErrorKind::BrokenPipe;
    case EEXIST:
      return ErrorKind::AlreadyExists;
    case EINVAL:
      return ErrorKind::InvalidInput;
    case EINTR:
      return ErrorKind::Interrupted;
    default:
      return ErrorKind::Uncategorized;
  }
}

std::string os_error_message(std::uint32_t code) {
  char buffer[256] = {};
  return chosen_text(strerror_r(static_cast<int>(code), buffer, sizeof buffer), buffer);
}

}  // namespace platform
