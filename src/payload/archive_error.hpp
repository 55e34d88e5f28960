// The failure of opening or extracting the payload, with its reason text.
#pragma once

#include <string>

namespace payload {

enum class ArchiveErrorKind { Io, Invalid, Unsupported, WrongPassword };

struct ArchiveError {
  ArchiveErrorKind kind;
  std::string detail;  // empty for WrongPassword

  static ArchiveError io(std::string detail) { return {ArchiveErrorKind::Io, std::move(detail)}; }
  static ArchiveError invalid(std::string detail) { return {ArchiveErrorKind::Invalid, std::move(detail)}; }
  static ArchiveError unsupported(std::string detail) {
    return {ArchiveErrorKind::Unsupported, std::move(detail)};
  }
  static ArchiveError wrong_password() { return {ArchiveErrorKind::WrongPassword, {}}; }

  // "i/o error: ...", "invalid Zip archive: ...", "unsupported Zip archive: ...",
  // or "The password provided is incorrect".
  std::string reason_text() const;
  bool operator==(const ArchiveError&) const = default;
};

}  // namespace payload
