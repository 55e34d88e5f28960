// Paths handed to POSIX calls: a NUL inside would silently cut the path short, so it is refused.
#pragma once

#include <string>
#include <string_view>

#include "platform/error.hpp"

namespace platform::posix {

[[nodiscard]] inline Result<std::string> c_path(std::string_view path) {
  if (path.find('\0') != std::string_view::npos) return std::unexpected(nul_in_data_error());
  return std::string(path);
}

}  // namespace platform::posix
