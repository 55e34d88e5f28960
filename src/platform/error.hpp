// The error value of every platform operation, of process creation and of the console streams.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <variant>

namespace platform {

enum class ErrorKind {
  NotFound,
  PermissionDenied,
  BrokenPipe,
  AlreadyExists,
  InvalidInput,
  InvalidData,
  WriteZero,
  Interrupted,
  Unsupported,
  Uncategorized,
};

// The kind's name as written in a fatal report's detail form ("NotFound", ...).
std::string_view kind_name(ErrorKind kind);

class PlatformError {
 public:
  // An operating-system error: a Windows error code, or errno on POSIX.
  static PlatformError os(std::uint32_t code) { return PlatformError(Os{code}); }
  // A kind with a fixed message text (a string literal: it is never copied).
  static PlatformError message(ErrorKind kind, const char* text) {
    return PlatformError(Message{kind, text});
  }

  ErrorKind kind() const;
  bool is_os() const { return std::holds_alternative<Os>(value_); }
  // The OS code; 0 unless is_os().
  std::uint32_t os_code() const;
  bool operator==(const PlatformError&) const = default;

 private:
  struct Os {
    std::uint32_t code;
    bool operator==(const Os&) const = default;
  };
  struct Message {
    ErrorKind kind;
    const char* text;
    bool operator==(const Message& o) const { return kind == o.kind && std::string_view(text) == o.text; }
  };
  using Value = std::variant<Os, Message>;
  explicit PlatformError(Value value) : value_(std::move(value)) {}

  friend std::string error_text(const PlatformError&);
  friend std::string error_detail(const PlatformError&);
  Value value_;
};

template <typename T>
using Result = std::expected<T, PlatformError>;

// The text a message shows: for an OS error the system's message, then " (os error N)".
std::string error_text(const PlatformError& error);
// The detail form used in a fatal report, e.g. Os { code: 5, kind: PermissionDenied, message: "..." }.
std::string error_detail(const PlatformError& error);

// The kind an OS error code belongs to (backend-specific table).
ErrorKind os_error_kind(std::uint32_t code);
// The system's own message for an OS error code, without the " (os error N)" suffix (backend).
std::string os_error_message(std::uint32_t code);

// The error of a string with a NUL that was to be handed to the system.
inline PlatformError nul_in_data_error() {
  return PlatformError::message(ErrorKind::InvalidInput, "nul byte found in provided data");
}

}  // namespace platform
