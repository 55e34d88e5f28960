#include "platform/error.hpp"

#include <array>

namespace platform {

namespace {
struct KindInfo {
  std::string_view name;
  std::string_view text;
};
constexpr std::array<KindInfo, 10> kind_info{{
    {"NotFound", "entity not found"},
    {"PermissionDenied", "permission denied"},
    {"BrokenPipe", "broken pipe"},
    {"AlreadyExists", "entity already exists"},
    {"InvalidInput", "invalid input parameter"},
    {"InvalidData", "invalid data"},
    {"WriteZero", "write zero"},
    {"Interrupted", "operation interrupted"},
    {"Unsupported", "unsupported"},
    {"Uncategorized", "uncategorized error"},
}};
}  // namespace

std::string_view kind_text(ErrorKind kind) { return kind_info[static_cast<std::size_t>(kind)].text; }
std::string_view kind_name(ErrorKind kind) { return kind_info[static_cast<std::size_t>(kind)].name; }

ErrorKind PlatformError::kind() const {
  struct Visitor {
    ErrorKind operator()(const Os& e) const { return os_error_kind(e.code); }
    ErrorKind operator()(const KindOnly& e) const { return e.kind; }
    ErrorKind operator()(const Message& e) const { return e.kind; }
    ErrorKind operator()(const Custom& e) const { return e.kind; }
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
    std::string operator()(const PlatformError::KindOnly& e) const { return std::string(kind_text(e.kind)); }
    std::string operator()(const PlatformError::Message& e) const { return e.text; }
    std::string operator()(const PlatformError::Custom& e) const { return e.text; }
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
    std::string operator()(const PlatformError::KindOnly& e) const { return std::string(kind_name(e.kind)); }
    std::string operator()(const PlatformError::Message& e) const {
      return "Error { kind: " + std::string(kind_name(e.kind)) + ", message: \"" + e.text + "\" }";
    }
    std::string operator()(const PlatformError::Custom& e) const {
      return "Custom { kind: " + std::string(kind_name(e.kind)) + ", error: \"" + e.text + "\" }";
    }
  };
  return std::visit(Visitor{}, error.value_);
}

}  // namespace platform
