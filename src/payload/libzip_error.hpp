// The one place where the ZIP library's error codes become the setup's reason texts.
#pragma once

#include "payload/archive_error.hpp"

namespace payload {

// `zip_code` is a ZIP_ER_* code, `system_code` the errno or zlib code that comes with it.
ArchiveError archive_error_from_libzip(int zip_code, int system_code);

}  // namespace payload
