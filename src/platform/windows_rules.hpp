// The Windows path rules as pure code, so that they run and are tested on every host. Paths come
// as UTF-8 (`char`) or as UTF-16 units (`char16_t`, and `wchar_t` inside the Windows backend);
// the rules are the same for each.
//
// A path may begin with a prefix:
//   C:                    drive
//   \\server\share        UNC (server and share both non-empty)
//   \\.\name              device
//   \\?\C:                verbatim drive
//   \\?\UNC\server\share  verbatim UNC
//   \\?\name              verbatim
// then an optional root separator, then components. `\` and `/` both separate, except inside a
// verbatim path, which the system takes literally: there only `\` separates.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/error.hpp"

namespace platform::windows_rules {

// Path lengths in UTF-16 units, the terminating NUL included. From 248 on, the file functions'
// shortest limit (CreateDirectoryW's), a path needs the long-path prefix; beyond 260 (MAX_PATH)
// CreateProcessW takes an application name only as it stands.
inline constexpr std::size_t long_path_units = 248;
inline constexpr std::size_t max_path_units = 260;

// Joins one more path onto a base: a separator is inserted unless the base already ends in one
// or is a bare drive; a path with a prefix replaces the base, a rooted one keeps only the base's
// prefix; onto a verbatim base `.` and `..` are resolved here, since the system will not.
template <typename Char>
std::basic_string<Char> join_path(std::basic_string_view<Char> base, std::basic_string_view<Char> more);

// The path without its last component, or none for a root, a bare prefix or the empty path.
template <typename Char>
std::optional<std::basic_string<Char>> parent_path(std::basic_string_view<Char> path);

// Whether the system puts `path` strictly below `base`, judged component by component (so
// `C:\t\ab` is not below `C:\t\a`): the same prefix and root, every component of the base, then
// at least one more. A further component must be an ordinary name: not `.` or `..`, no colon (a
// drive or a stream), no `/` inside a verbatim path, and none that Win32 rewrites (a device name
// such as `CON` or `nul.txt`, trailing dots or spaces): outside a verbatim path the system would
// write something else, inside one a file that Windows' own tools cannot open.
template <typename Char>
bool lies_below(std::basic_string_view<Char> base, std::basic_string_view<Char> path);

// Whether Win32 reads a file name as something other than itself: a DOS device name (CON, PRN,
// AUX, NUL, COM0-9 and LPT0-9, the superscript digits included, with any extension), or a name
// ending in a dot or a space (which it drops). Below a verbatim base such names are written as
// they stand, and then neither Explorer nor PowerShell can open or delete them.
template <typename Char>
bool rewritten_by_win32(std::basic_string_view<Char> name);

// Whether a file name has the shape of a short (8.3) name that Windows makes up for a longer one,
// such as PROGRA~1 or REPORT~12.TXT: a base of at most 8 characters ending in `~` and digits, with
// at most 6 before the `~`, and an extension of at most 3. On NTFS such a name can be another
// file's other name.
bool has_short_name_shape(std::string_view name);

// The simple upper-case form of one UTF-16 unit, by which the file system compares names.
char16_t upcase(char16_t unit);
// What a file system on Windows compares a file name (UTF-8) by: trailing dots and spaces gone
// (as Win32 drops them), each UTF-16 unit upper-cased. Two names with one key are one file.
std::string file_name_key(std::string_view name);

// GetFullPathNameW as a query: the absolute form of a path, or the OS error.
template <typename Char>
using FullPathQuery = std::function<Result<std::basic_string<Char>>(std::basic_string_view<Char>)>;

// An absolute path (as GetFullPathNameW gives it) in its long-path form: `\\?\` before a drive
// path (any character before the colon: DefineDosDevice allows more than letters), `\\?\UNC\` in
// place of a UNC path's two leading separators, `\\.\` turned into `\\?\`; verbatim and NT paths
// (`\\?\`, `\??\`) and anything else unchanged.
template <typename Char>
std::basic_string<Char> with_long_path_prefix(std::basic_string_view<Char> absolute);

// The form handed to the file system so that no path-length limit applies: verbatim, NT and
// empty paths unchanged; drive and UNC paths shorter than `long_path_units` unchanged; everything
// else made absolute and given the long-path prefix. `path` is without its terminating NUL.
template <typename Char>
[[nodiscard]] Result<std::basic_string<Char>> native_form(std::basic_string_view<Char> path, const FullPathQuery<Char>& full_path);

// The target of a symbolic link or junction from its reparse data, as FSCTL_GET_REPARSE_POINT
// gives it back (`data` holds just the bytes returned): the substitute name. A relative symbolic
// link's target as it stands; an NT path (\??\C:\x, \??\UNC\server\share\x) in its ordinary form
// when that is short enough and `full_path` gives it back unchanged, else in its verbatim form
// (\\?\...). Other reparse points are Unsupported ("Unsupported reparse point type"); data too short
// for its fields or names is InvalidData ("malformed reparse point data").
[[nodiscard]] Result<std::u16string> link_target(std::span<const std::byte> data, const FullPathQuery<char16_t>& full_path);

// Shorthands for UTF-8 paths, as the rest of the setup holds them.
inline std::string join_path(std::string_view base, std::string_view more) { return join_path<char>(base, more); }
inline std::optional<std::string> parent_path(std::string_view path) { return parent_path<char>(path); }
inline bool lies_below(std::string_view base, std::string_view path) { return lies_below<char>(base, path); }
inline bool rewritten_by_win32(std::string_view name) { return rewritten_by_win32<char>(name); }

}  // namespace platform::windows_rules
