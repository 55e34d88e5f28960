#include "process/command_line.hpp"

#include "platform/text.hpp"

namespace process {

namespace {

using platform::ErrorKind;
using platform::PlatformError;

PlatformError no_file_name_error() {
  return PlatformError::message(ErrorKind::InvalidInput, "program path has no file name");
}

PlatformError not_found_error() { return PlatformError::message(ErrorKind::NotFound, "program not found"); }

// A program given as a path that holds a NUL.
PlatformError winapi_nul_error() {
  return PlatformError::message(ErrorKind::InvalidInput, "strings passed to WinAPI cannot contain NULs");
}

template <typename Char>
Char ascii_lower(Char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<Char>(c - 'A' + 'a') : c;
}

// `suffix` is lower-case ASCII.
template <typename Char>
bool ends_with_ascii_nocase(std::basic_string_view<Char> text, std::string_view suffix) {
  if (text.size() < suffix.size()) return false;
  const auto tail = text.substr(text.size() - suffix.size());
  for (std::size_t i = 0; i < suffix.size(); ++i) {
    if (ascii_lower(tail[i]) != static_cast<Char>(suffix[i])) return false;
  }
  return true;
}

template <typename Char>
bool is_separator(Char c) {
  return c == '\\' || c == '/';
}

template <typename Char>
bool is_drive_letter(Char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool starts_with(std::u16string_view text, std::u16string_view prefix) { return text.starts_with(prefix); }

// `X:` followed by a separator or by nothing.
bool is_rooted_drive(std::u16string_view path) {
  return path.size() >= 2 && is_drive_letter(path[0]) && path[1] == u':' &&
         (path.size() == 2 || is_separator(path[2]));
}

// `X:\` exactly as the start of a verbatim path's rest.
bool is_drive_root_start(std::u16string_view path) {
  return path.size() >= 3 && is_drive_letter(path[0]) && path[1] == u':' && path[2] == u'\\';
}

bool has_no_file_name_windows(std::string_view program) {
  if (program.empty()) return true;
  const char last = program.back();
  if (program.starts_with(R"(\\?\)")) return last == '\\';
  return is_separator(last);
}

// The verbatim form of a path if GetFullPathNameW gives it back unchanged, so the shorter
// ordinary form can be used; otherwise the path as it was.
std::u16string without_verbatim_prefix(std::u16string_view path, std::u16string ordinary,
                                       const platform::windows_path::FullPathQuery& full_path) {
  const auto full = full_path(ordinary);
  if (full && *full == ordinary) return ordinary;
  return std::u16string(path);
}

}  // namespace

std::vector<std::string> split_path_variable(std::string_view value) {
  std::vector<std::string> entries;
  std::string entry;
  bool quoted = false;
  for (const char c : value) {
    if (c == '"') {
      quoted = !quoted;
    } else if (c == ';' && !quoted) {
      if (!entry.empty()) entries.push_back(std::move(entry));
      entry.clear();
    } else {
      entry += c;
    }
  }
  if (!entry.empty()) entries.push_back(std::move(entry));
  return entries;
}

platform::Result<std::u16string> application_name_form(std::u16string_view path,
                                                       const platform::windows_path::FullPathQuery& full_path) {
  if (path.find(u'\0') != std::u16string_view::npos) return std::unexpected(winapi_nul_error());
  const std::size_t units = path.size() + 1;  // with the terminator
  if (units > 260) return std::u16string(path);

  if (starts_with(path, uR"(\\?\)")) {
    const auto rest = path.substr(4);
    if (is_drive_root_start(rest)) return without_verbatim_prefix(path, std::u16string(rest), full_path);
    if (starts_with(path, uR"(\\?\UNC\)")) {
      return without_verbatim_prefix(path, u"\\\\" + std::u16string(path.substr(8)), full_path);
    }
    return std::u16string(path);
  }
  if (path.empty() || starts_with(path, uR"(\??\)")) return std::u16string(path);
  const bool two_separators = path.size() >= 2 && is_separator(path[0]) && is_separator(path[1]);
  if (units < 248 && (is_rooted_drive(path) || two_separators)) return std::u16string(path);

  auto full = full_path(path);
  if (!full) return std::unexpected(full.error());
  if (full->size() + 1 < 248) return std::move(*full);
  const std::u16string_view absolute = *full;
  if (is_rooted_drive(absolute)) return uR"(\\?\)" + *full;
  if (starts_with(absolute, uR"(\\.\)")) return uR"(\\?\)" + std::u16string(absolute.substr(4));
  if (starts_with(absolute, uR"(\\?\)") || starts_with(absolute, uR"(\??\)")) return std::move(*full);
  if (absolute.size() >= 2 && is_separator(absolute[0]) && is_separator(absolute[1])) {
    return uR"(\\?\UNC\)" + std::u16string(absolute.substr(2));
  }
  return std::move(*full);
}

platform::Result<void> refuse_batch_script(std::u16string_view application_name,
                                           const platform::windows_path::FullPathQuery& full_path) {
  std::u16string tested;
  if (starts_with(application_name, uR"(\\?\)") || starts_with(application_name, uR"(\??\)")) {
    tested = application_name;
  } else {
    // The absolute form, because it drops what the system ignores at the end ("x.bat. ").
    auto full = full_path(application_name);
    if (!full) return std::unexpected(full.error());
    tested = std::move(*full);
  }
  if (ends_with_ascii_nocase<char16_t>(tested, ".bat") || ends_with_ascii_nocase<char16_t>(tested, ".cmd")) {
    return std::unexpected(PlatformError::message(ErrorKind::InvalidInput, "batch scripts are not supported"));
  }
  return {};
}

platform::Result<std::u16string> resolve_program(std::string_view program, const ProgramQueries& queries) {
  if (has_no_file_name_windows(program)) return std::unexpected(no_file_name_error());
  const auto form = [&](std::string_view path) {
    return application_name_form(platform::to_utf16_unchecked(path), queries.full_path);
  };

  if (program.find_first_of("\\/") != std::string_view::npos) {
    if (ends_with_ascii_nocase<char>(program, ".exe")) return form(program);
    if (auto with_exe = form(std::string(program) + ".exe"); with_exe && queries.exists(*with_exe)) {
      return std::move(*with_exe);
    }
    return form(program);
  }

  if (program.find('\0') != std::string_view::npos) return std::unexpected(platform::nul_in_data_error());
  const std::string candidate =
      program.find('.') != std::string_view::npos ? std::string(program) : std::string(program) + ".exe";
  // A path that cannot be put into application-name form counts as not existing.
  const auto found_in = [&](std::string_view directory) -> std::optional<std::u16string> {
    auto name = form(platform::windows_path::join_path(directory, candidate));
    if (name && queries.exists(*name)) return std::move(*name);
    return std::nullopt;
  };

  if (const auto executable = queries.executable_path()) {
    if (const auto folder = platform::windows_path::parent_path(*executable)) {
      if (auto hit = found_in(*folder)) return std::move(*hit);
    }
  }
  for (const auto* query : {&queries.system_directory, &queries.windows_directory}) {
    if (const auto folder = (*query)()) {
      if (auto hit = found_in(*folder)) return std::move(*hit);
    }
  }
  if (const auto path = queries.path_variable()) {
    for (const auto& entry : split_path_variable(*path)) {
      if (auto hit = found_in(entry)) return std::move(*hit);
    }
  }
  return std::unexpected(not_found_error());
}

platform::Result<std::u16string> build_command_line(std::string_view program,
                                                    std::span<const std::string> arguments) {
  if (program.find('\0') != std::string_view::npos) {
    return std::unexpected(program.find_first_of("\\/") != std::string_view::npos ? winapi_nul_error()
                                                                                    : platform::nul_in_data_error());
  }
  std::u16string line = u"\"" + platform::to_utf16_unchecked(program) + u"\"";
  for (const auto& argument : arguments) {
    auto text = platform::to_utf16(argument);
    if (!text) return std::unexpected(text.error());
    const bool wrap = text->empty() || text->find_first_of(u" \t") != std::u16string::npos;
    line += u' ';
    if (wrap) line += u'"';
    std::size_t backslashes = 0;
    for (const char16_t c : *text) {
      if (c == u'\\') {
        ++backslashes;
        continue;
      }
      if (c == u'"') backslashes = 2 * backslashes + 1;
      line.append(backslashes, u'\\');
      backslashes = 0;
      line += c;
    }
    if (wrap) {
      line.append(2 * backslashes, u'\\');
      line += u'"';
    } else {
      line.append(backslashes, u'\\');
    }
  }
  return line;
}

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
