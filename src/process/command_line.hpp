// Program resolution and the command line of a child process, as pure code: every answer that
// only the system can give comes in through a query, so both lanes test it with fakes.
#pragma once

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.hpp"
#include "platform/windows_rules.hpp"

namespace process {

/// What program resolution asks of Windows, in UTF-16 units of type `Char` (`wchar_t` in the
/// Windows backend, `char16_t` in portable tests). Every query is asked anew on each resolution.
template <typename Char>
struct ProgramQueries {
  using String = std::basic_string<Char>;
  using View = std::basic_string_view<Char>;
  /// GetFileAttributesW succeeds: an entry of any kind is at the path (in application-name form).
  std::function<bool(View application_name)> exists;
  /// The setup's own executable (GetModuleFileNameW); none when the query fails.
  std::function<std::optional<String>()> executable_path;
  /// GetSystemDirectoryW and GetWindowsDirectoryW; none when the query fails.
  std::function<std::optional<String>()> system_directory;
  std::function<std::optional<String>()> windows_directory;
  /// The setup's PATH variable, read at the time of the call; none when unset.
  std::function<std::optional<String>()> path_variable;
  /// GetFullPathNameW.
  platform::windows_rules::FullPathQuery<Char> full_path;
};

/// The application name that CreateProcessW receives for a program text, in application-name
/// form (without its terminating NUL):
///   - empty, or ending in a separator            => "program path has no file name"
///   - holds `\` or `/`, ends in `.exe` (any case) => the text itself, no existence test
///   - holds `\` or `/`, otherwise                => text + ".exe" if that exists, else the text
///   - a bare name (".exe" added unless it holds a dot) is looked for in: the executable's own
///     folder, the system folder, the Windows folder, then each PATH entry; first hit wins;
///     then, when `system_fallback` is not empty, at that path below the system folder (where
///     the system keeps a program of its own that a PATH may have lost); none => "program not found"
/// The program text is converted once; the search joins and tests in UTF-16 throughout.
template <typename Char>
[[nodiscard]] platform::Result<std::basic_string<Char>> resolve_program(std::string_view program,
                                                                        const ProgramQueries<Char>& queries,
                                                                        std::string_view system_fallback = {});

/// The current directory for a child that starts in its own program's folder: the application
/// name's folder when it is a drive or UNC path that CreateProcessW takes as a current directory
/// (at most MAX_PATH - 2 units). None otherwise (a long or verbatim path): the child then starts
/// in the setup's current directory.
template <typename Char>
std::optional<std::basic_string<Char>> own_folder(std::basic_string_view<Char> application_name);

/// PATH split at `;`; a double quote toggles a stretch in which `;` is ordinary; the quotes are
/// dropped; empty entries are skipped.
template <typename Char>
std::vector<std::basic_string<Char>> split_path_variable(std::basic_string_view<Char> value);

/// A path as CreateProcessW's application name: NUL refused; longer than MAX_PATH (260 units with
/// the terminator), verbatim, NT and short rooted drive or UNC paths kept (a verbatim drive or UNC
/// path loses its prefix when GetFullPathNameW gives the rest back unchanged); anything else made
/// absolute, with the long-path prefix from 248 units on.
template <typename Char>
[[nodiscard]] platform::Result<std::basic_string<Char>> application_name_form(
    std::basic_string_view<Char> path, const platform::windows_rules::FullPathQuery<Char>& full_path);

/// Refuses an application name that ends in `.bat` or `.cmd` (any case) once made absolute:
/// such a program would need the command interpreter and a command line of its own.
template <typename Char>
[[nodiscard]] platform::Result<void> refuse_batch_script(std::basic_string_view<Char> application_name,
                                                         const platform::windows_rules::FullPathQuery<Char>& full_path);

/// The command line: the program text in double quotes (unescaped), then each argument after
/// one space. An argument is wrapped in double quotes when it is empty or holds a space or a tab;
/// a double quote gets a backslash, and the backslashes directly before it are doubled; when
/// wrapped, a trailing run of backslashes is doubled before the closing quote. So:
///   ``                 => `""`
///   `a b\`             => `"a b\\"`
///   `C:\dir\`          => `C:\dir\`
///   `say "hi" now`     => `"say \"hi\" now"`
///   `a\\"b`            => `a\\\\\"b`
/// CommandLineToArgvW reads the line back into exactly these arguments.
template <typename Char>
[[nodiscard]] platform::Result<std::basic_string<Char>> build_command_line(std::string_view program,
                                                                           std::span<const std::string> arguments);

/// What program resolution asks of a POSIX system.
struct PosixProgramQueries {
  /// Whether an entry of any kind is at the path (links not followed).
  std::function<bool(std::string_view path)> exists;
  /// The setup's own executable; none when it cannot be learned.
  std::function<std::optional<std::string>()> executable_path;
  /// The PATH variable; none when unset.
  std::function<std::optional<std::string>()> path_variable;
};

/// The same rules on POSIX: only `/` separates; a bare name (".exe" added unless it holds a
/// dot) is looked for in the executable's own folder, then each entry of PATH split at `:`
/// (empty entries skipped; there are no system folders). Gives the path to execute.
[[nodiscard]] platform::Result<std::string> resolve_program_posix(std::string_view program,
                                                                 const PosixProgramQueries& queries);

}  // namespace process
