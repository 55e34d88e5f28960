// What the Windows file-system operations share: constants the SDK headers in use do not offer,
// how an entry's status is told from its attributes and tag, and opening an entry to examine it.
#pragma once

#include <windows.h>
#include <winternl.h>

#include <cstdint>
#include <string>

#include "platform/fs.hpp"
#include "platform/windows/native.hpp"

namespace platform::windows {

inline constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
inline constexpr std::uint32_t name_surrogate_bit = 0x20000000;
inline constexpr DWORD error_cant_access_file = 1920;
inline constexpr DWORD error_delete_pending = 303;
// "The create operation stopped after reaching a symbolic link."
inline constexpr DWORD error_stopped_on_symlink = 681;

// A link is a reparse point whose tag has the name-surrogate bit (symbolic links, junctions);
// other reparse points (cloud placeholders, deduplicated files) are what they otherwise are.
inline bool is_link(DWORD attributes, DWORD reparse_tag) {
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) && (reparse_tag & name_surrogate_bit);
}

// An entry's status from its attributes and, for a reparse point, its tag.
inline FileStatus make_status(DWORD attributes, DWORD reparse_tag, std::uint64_t size) {
  const FileKind kind = is_link(attributes, reparse_tag)              ? FileKind::Link
                        : (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FileKind::Directory
                                                                       : FileKind::File;
  return FileStatus{kind, size};
}

// Opens a native path with no access rights, as every examination does: directories open too,
// and `follow` false opens a link itself.
inline UniqueHandle open_for_examination(const std::wstring& native, bool follow) {
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  return UniqueHandle(::CreateFileW(native.c_str(), 0, share_all, nullptr, OPEN_EXISTING, flags, nullptr));
}

// The attributes and reparse tag of an open entry.
[[nodiscard]] inline Result<FILE_ATTRIBUTE_TAG_INFO> attribute_tag(HANDLE handle) {
  FILE_ATTRIBUTE_TAG_INFO info{};
  if (!::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &info, sizeof info)) {
    return std::unexpected(last_os_error());
  }
  return info;
}

}  // namespace platform::windows
