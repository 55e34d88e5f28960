#include "process/command_line.hpp"

#include <algorithm>
#include <cwchar>

#include "platform/path_chars.hpp"
#include "platform/text.hpp"

namespace process {

namespace {

using platform::ErrorKind;
using platform::PlatformError;
using platform::ends_with_ascii_nocase;
using platform::is_ascii_letter;
using platform::is_separator;
using platform::starts_with_ascii;
namespace rules = platform::windows_rules;

template <typename Char>
using View = std::basic_string_view<Char>;
template <typename Char>
using String = std::basic_string<Char>;

PlatformError no_file_name_error() {
  return PlatformError::message(ErrorKind::InvalidInput, "program path has no file name");
}

PlatformError not_found_error() { return PlatformError::message(ErrorKind::NotFound, "program not found"); }

// A program given as a path that holds a NUL.
PlatformError winapi_nul_error() {
  return PlatformError::message(ErrorKind::InvalidInput, "strings passed to WinAPI cannot contain NULs");
}

template <typename Char>
String<Char> ascii(std::string_view text) {
  return String<Char>(text.begin(), text.end());
}

// `X:` followed by a separator or by nothing.
template <typename Char>
bool is_rooted_drive(View<Char> path) {
  return path.size() >= 2 && is_ascii_letter(path[0]) && path[1] == Char(':') &&
         (path.size() == 2 || is_separator(path[2]));
}

// `X:\` exactly as the start of a verbatim path's rest.
template <typename Char>
bool is_drive_root_start(View<Char> path) {
  return path.size() >= 3 && is_ascii_letter(path[0]) && path[1] == Char(':') && path[2] == Char('\\');
}

template <typename Char>
bool has_no_file_name(View<Char> program) {
  if (program.empty()) return true;
  if (starts_with_ascii(program, "\\\\?\\")) return program.back() == Char('\\');
  return is_separator(program.back());
}

// The ordinary form of a verbatim path if GetFullPathNameW gives it back unchanged, so the shorter
// ordinary form can be used; otherwise the path as it was.
template <typename Char>
String<Char> without_verbatim_prefix(View<Char> path, String<Char> ordinary, const rules::FullPathQuery<Char>& full_path) {
  const auto full = full_path(ordinary);
  if (full && *full == ordinary) return ordinary;
  return String<Char>(path);
}

}  // namespace

template <typename Char>
std::vector<std::basic_string<Char>> split_path_variable(std::basic_string_view<Char> value) {
  std::vector<String<Char>> entries;
  String<Char> entry;
  bool quoted = false;
  for (const Char c : value) {
    if (c == Char('"')) {
      quoted = !quoted;
    } else if (c == Char(';') && !quoted) {
      if (!entry.empty()) entries.push_back(std::move(entry));
      entry.clear();
    } else {
      entry += c;
    }
  }
  if (!entry.empty()) entries.push_back(std::move(entry));
  return entries;
}

template <typename Char>
platform::Result<std::basic_string<Char>> application_name_form(std::basic_string_view<Char> path,
                                                                const rules::FullPathQuery<Char>& full_path) {
  if (path.find(Char(0)) != View<Char>::npos) return std::unexpected(winapi_nul_error());
  const std::size_t units = path.size() + 1;  // with the terminator
  if (units > rules::max_path_units) return String<Char>(path);

  if (starts_with_ascii(path, "\\\\?\\")) {
    const auto rest = path.substr(4);
    if (is_drive_root_start(rest)) return without_verbatim_prefix(path, String<Char>(rest), full_path);
    if (starts_with_ascii(path, "\\\\?\\UNC\\")) {
      return without_verbatim_prefix(path, ascii<Char>("\\\\") + String<Char>(path.substr(8)), full_path);
    }
    return String<Char>(path);
  }
  if (path.empty() || starts_with_ascii(path, "\\??\\")) return String<Char>(path);
  const bool two_separators = path.size() >= 2 && is_separator(path[0]) && is_separator(path[1]);
  if (units < rules::long_path_units && (is_rooted_drive(path) || two_separators)) return String<Char>(path);

  auto full = full_path(path);
  if (!full) return std::unexpected(full.error());
  if (full->size() + 1 < rules::long_path_units) return std::move(*full);
  return rules::with_long_path_prefix<Char>(*full);
}

template <typename Char>
platform::Result<void> refuse_batch_script(std::basic_string_view<Char> application_name,
                                           const rules::FullPathQuery<Char>& full_path) {
  String<Char> tested;
  if (starts_with_ascii(application_name, "\\\\?\\") || starts_with_ascii(application_name, "\\??\\")) {
    tested = application_name;
  } else {
    // The absolute form, because it drops what the system ignores at the end ("x.bat. ").
    auto full = full_path(application_name);
    if (!full) return std::unexpected(full.error());
    tested = std::move(*full);
  }
  if (ends_with_ascii_nocase<Char>(tested, ".bat") || ends_with_ascii_nocase<Char>(tested, ".cmd")) {
    return std::unexpected(PlatformError::message(ErrorKind::InvalidInput, "batch scripts are not supported"));
  }
  return {};
}

template <typename Char>
std::optional<std::basic_string<Char>> own_folder(std::basic_string_view<Char> application_name) {
  auto folder = rules::parent_path<Char>(application_name);
  if (!folder) return std::nullopt;
  const View<Char> form = *folder;
  const bool drive = form.size() >= 3 && is_rooted_drive(form);
  const bool unc = form.size() > 2 && is_separator(form[0]) && is_separator(form[1]) && form[2] != Char('?') &&
                   form[2] != Char('.');
  // Without a final separator the system adds one, and the terminator counts too.
  if ((!drive && !unc) || form.size() + (is_separator(form.back()) ? 1 : 2) > rules::max_path_units) {
    return std::nullopt;
  }
  return folder;
}

template <typename Char>
platform::Result<std::basic_string<Char>> resolve_program(std::string_view program_text,
                                                          const ProgramQueries<Char>& queries,
                                                          std::string_view system_fallback) {
  const String<Char> program = platform::to_utf16_unchecked<Char>(program_text);
  const View<Char> text = program;
  if (has_no_file_name(text)) return std::unexpected(no_file_name_error());
  const auto form = [&](View<Char> path) { return application_name_form<Char>(path, queries.full_path); };

  const bool is_path = std::ranges::any_of(text, [](Char c) { return is_separator(c); });
  if (is_path) {
    if (ends_with_ascii_nocase(text, ".exe")) return form(text);
    if (auto with_exe = form(program + ascii<Char>(".exe")); with_exe && queries.exists(*with_exe)) {
      return std::move(*with_exe);
    }
    return form(text);
  }

  if (text.find(Char(0)) != View<Char>::npos) return std::unexpected(platform::nul_in_data_error());
  const String<Char> candidate = text.find(Char('.')) != View<Char>::npos ? program : program + ascii<Char>(".exe");
  // A path that cannot be put into application-name form counts as not existing.
  const auto found_in = [&](View<Char> directory) -> std::optional<String<Char>> {
    auto name = form(rules::join_path<Char>(directory, candidate));
    if (name && queries.exists(*name)) return std::move(*name);
    return std::nullopt;
  };

  if (const auto executable = queries.executable_path()) {
    if (const auto folder = rules::parent_path<Char>(*executable)) {
      if (auto hit = found_in(*folder)) return std::move(*hit);
    }
  }
  for (const auto* query : {&queries.system_directory, &queries.windows_directory}) {
    if (const auto folder = (*query)()) {
      if (auto hit = found_in(*folder)) return std::move(*hit);
    }
  }
  if (const auto path = queries.path_variable()) {
    for (const auto& entry : split_path_variable<Char>(*path)) {
      if (auto hit = found_in(entry)) return std::move(*hit);
    }
  }
  if (!system_fallback.empty()) {
    if (const auto folder = queries.system_directory()) {
      auto name = form(rules::join_path<Char>(*folder, platform::to_utf16_unchecked<Char>(system_fallback)));
      if (name && queries.exists(*name)) return std::move(*name);
    }
  }
  return std::unexpected(not_found_error());
}

template <typename Char>
platform::Result<std::basic_string<Char>> build_command_line(std::string_view program,
                                                             std::span<const std::string> arguments) {
  if (program.find('\0') != std::string_view::npos) {
    return std::unexpected(program.find_first_of("\\/") != std::string_view::npos ? winapi_nul_error()
                                                                                    : platform::nul_in_data_error());
  }
  String<Char> line = Char('"') + platform::to_utf16_unchecked<Char>(program) + Char('"');
  for (const auto& argument : arguments) {
    auto text = platform::to_utf16<Char>(argument);
    if (!text) return std::unexpected(text.error());
    const bool wrap = text->empty() || text->find_first_of(ascii<Char>(" \t")) != String<Char>::npos;
    line += Char(' ');
    if (wrap) line += Char('"');
    std::size_t backslashes = 0;
    for (const Char c : *text) {
      if (c == Char('\\')) {
        ++backslashes;
        continue;
      }
      if (c == Char('"')) backslashes = 2 * backslashes + 1;
      line.append(backslashes, Char('\\'));
      backslashes = 0;
      line += c;
    }
    if (wrap) {
      line.append(2 * backslashes, Char('\\'));
      line += Char('"');
    } else {
      line.append(backslashes, Char('\\'));
    }
  }
  return line;
}

#define ZARVO_COMMAND_LINE_FOR(Char)                                                                               \
  template std::vector<std::basic_string<Char>> split_path_variable<Char>(std::basic_string_view<Char>);            \
  template platform::Result<std::basic_string<Char>> application_name_form<Char>(std::basic_string_view<Char>,      \
                                                                                 const rules::FullPathQuery<Char>&); \
  template platform::Result<void> refuse_batch_script<Char>(std::basic_string_view<Char>,                           \
                                                            const rules::FullPathQuery<Char>&);                      \
  template std::optional<std::basic_string<Char>> own_folder<Char>(std::basic_string_view<Char>);                      \
  template platform::Result<std::basic_string<Char>> resolve_program<Char>(                                          \
      std::string_view, const ProgramQueries<Char>&, std::string_view);                                               \
  template platform::Result<std::basic_string<Char>> build_command_line<Char>(std::string_view,                     \
                                                                              std::span<const std::string>);

ZARVO_COMMAND_LINE_FOR(char16_t)
#if WCHAR_MAX <= 0xFFFF
ZARVO_COMMAND_LINE_FOR(wchar_t)
#endif

platform::Result<std::string> resolve_program_posix(std::string_view program, const PosixProgramQueries& queries) {
  if (program.empty() || program.back() == '/') return std::unexpected(no_file_name_error());
  if (program.find('\0') != std::string_view::npos) return std::unexpected(platform::nul_in_data_error());

  if (program.find('/') != std::string_view::npos) {
    if (ends_with_ascii_nocase<char>(program, ".exe")) return std::string(program);
    std::string with_exe = std::string(program) + ".exe";
    if (queries.exists(with_exe)) return with_exe;
    return std::string(program);
  }

  const std::string candidate =
      program.find('.') != std::string_view::npos ? std::string(program) : std::string(program) + ".exe";
  const auto found_in = [&](std::string_view directory) -> std::optional<std::string> {
    std::string path(directory);
    if (!path.ends_with('/')) path += '/';
    path += candidate;
    if (queries.exists(path)) return path;
    return std::nullopt;
  };

  if (const auto executable = queries.executable_path()) {
    if (const auto slash = executable->rfind('/'); slash != std::string::npos) {
      if (auto hit = found_in(std::string_view(*executable).substr(0, slash == 0 ? 1 : slash))) return *hit;
    }
  }
  if (const auto path = queries.path_variable()) {
    std::string_view rest = *path;
    while (true) {
      const auto colon = rest.find(':');
      const auto entry = rest.substr(0, colon);
      if (!entry.empty()) {
        if (auto hit = found_in(entry)) return *hit;
      }
      if (colon == std::string_view::npos) break;
      rest.remove_prefix(colon + 1);
    }
  }
  return std::unexpected(not_found_error());
}

}  // namespace process
