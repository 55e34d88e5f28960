#include "payload/libzip_error.hpp"

#include <zip.h>

namespace payload {

ArchiveError archive_error_from_libzip(int zip_code, int system_code) {
  switch (zip_code) {
    case ZIP_ER_NOZIP: return ArchiveError::invalid("Could not find EOCD");
    case ZIP_ER_MULTIDISK: return ArchiveError::invalid("Multi-disk ZIP files are not supported");
    case ZIP_ER_CRC: return ArchiveError::io("Invalid checksum");
    case ZIP_ER_ZLIB:
    case ZIP_ER_COMPRESSED_DATA: return ArchiveError::io("corrupt deflate stream");
    case ZIP_ER_NOPASSWD:
    case ZIP_ER_ENCRNOTSUPP: return ArchiveError::unsupported("Password required to decrypt file");
    case ZIP_ER_COMPNOTSUPP: return ArchiveError::unsupported("Compression method not supported");
    case ZIP_ER_WRONGPASSWD: return ArchiveError::wrong_password();
    default: break;
  }
  // Anything else keeps the library's own text: reading faults as i/o errors, the rest as faults
  // of the archive.
  zip_error_t error;
  zip_error_init(&error);
  zip_error_set(&error, zip_code, system_code);
  std::string text = zip_error_strerror(&error);
  const bool io = zip_error_system_type(&error) == ZIP_ET_SYS || zip_code == ZIP_ER_MEMORY ||
                  zip_code == ZIP_ER_EOF || zip_code == ZIP_ER_INTERNAL;
  zip_error_fini(&error);
  return io ? ArchiveError::io(std::move(text)) : ArchiveError::invalid(std::move(text));
}

}  // namespace payload
