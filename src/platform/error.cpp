#include "platform/error.hpp"

#include <array>

namespace platform {

namespace {
constexpr std::array<std::string_view, 10> kind_names{
    "NotFound",     "PermissionDenied", "BrokenPipe",  "AlreadyExists", "InvalidInput",
    "InvalidData",  "WriteZero",        "Interrupted", "Unsupported",   "Uncategorized",
};
}  // namespace

std::string_view kind_name(ErrorKind kind) { return kind_names[static_cast<std::size_t>(kind)]; }

ErrorKind PlatformError::kind() const {
  struct Visitor {
    ErrorKind operator()(const Os& e) const { return os_error_kind(e.code); }
    ErrorKind operator()(const Message& e) const { return e.kind; }
  };
  return std::visit(Visitor{}, value_);
}

std::uint32_t PlatformError::os_code() const {
  const auto* os = std::get_if<Os>(&value_);
  return os ? os->code : 0;
}

std::string error_text(const PlatformError& error) {
  struct Visitor {
    std::string operator()(const PlatformError::Os& e) const {
      // Codes are shown as signed 32-bit decimals, as the system itself numbers them.
      return os_error_message(e.code) + " (os error " +
             std::to_string(static_cast<std::int32_t>(e.code)) + ")";
    }
    std::string operator()(const PlatformError::Message& e) const { return e.text; }
  };
  return std::visit(Visitor{}, error.value_);
}

std::string error_detail(const PlatformError& error) {
  struct Visitor {
    std::string operator()(const PlatformError::Os& e) const {
      return "Os { code: " + std::to_string(static_cast<std::int32_t>(e.code)) +
             ", kind: " + std::string(kind_name(os_error_kind(e.code))) + ", message: \"" +
             os_error_message(e.code) + "\" }";
    }
    std::string operator()(const PlatformError::Message& e) const {
      return "Error { kind: " + std::string(kind_name(e.kind)) + ", message: \"" + e.text + "\" }";
    }
  };
  return std::visit(Visitor{}, error.value_);
}

}  // namespace platform
