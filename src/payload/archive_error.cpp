#include "payload/archive_error.hpp"

namespace payload {

std::string ArchiveError::reason_text() const {
  switch (kind) {
    case ArchiveErrorKind::Io: return "i/o error: " + detail;
    case ArchiveErrorKind::Invalid: return "invalid Zip archive: " + detail;
    case ArchiveErrorKind::Unsupported: return "unsupported Zip archive: " + detail;
    case ArchiveErrorKind::WrongPassword: return "The password provided is incorrect";
  }
  return detail;
}

}  // namespace payload
