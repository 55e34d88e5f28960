// Closing what the platform's resource owners hold on POSIX.
#include <dirent.h>
#include <unistd.h>

#include "platform/native_handle.hpp"

namespace platform {

// Never retried on EINTR: the descriptor is gone either way on Linux.
void KernelHandleTraits::close(Handle fd) noexcept { ::close(fd); }
void SearchHandleTraits::close(Handle stream) noexcept { ::closedir(static_cast<DIR*>(stream)); }

}  // namespace platform
