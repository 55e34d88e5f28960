// The Windows path rules as pure code: prefixes, joining, parents and the native form.
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
#include "platform/windows_path.hpp"

#include <algorithm>
#include <vector>

namespace platform::windows_path {

namespace {

enum class PrefixKind { None, Drive, Unc, Device, Verbatim, VerbatimDrive, VerbatimUnc };

struct Prefix {
  PrefixKind kind = PrefixKind::None;
  std::size_t length = 0;

  bool verbatim() const {
    return kind == PrefixKind::Verbatim || kind == PrefixKind::VerbatimDrive ||
           kind == PrefixKind::VerbatimUnc;
  }
};

bool is_separator(char c) { return c == '\\' || c == '/'; }
bool is_ascii_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The end of the component starting at `from`: the next separator, or the end of the path.
std::size_t component_end(std::string_view path, std::size_t from, bool verbatim) {
  for (std::size_t i = from; i < path.size(); ++i) {
    if (verbatim ? path[i] == '\\' : is_separator(path[i])) return i;
  }
  return path.size();
}

Prefix parse_prefix(std::string_view path) {
  if (path.starts_with("\\\\?\\")) {
    if (path.substr(4).starts_with("UNC\\")) {
      const std::size_t server_end = component_end(path, 8, true);
      if (server_end == path.size()) return {PrefixKind::VerbatimUnc, server_end};
      return {PrefixKind::VerbatimUnc, component_end(path, server_end + 1, true)};
    }
    if (path.size() >= 6 && is_ascii_letter(path[4]) && path[5] == ':' &&
        (path.size() == 6 || path[6] == '\\')) {
      return {PrefixKind::VerbatimDrive, 6};
    }
    return {PrefixKind::Verbatim, component_end(path, 4, true)};
  }
  if (path.size() >= 2 && is_separator(path[0]) && is_separator(path[1])) {
    if (path.size() >= 4 && path[2] == '.' && is_separator(path[3])) {
      return {PrefixKind::Device, component_end(path, 4, false)};
    }
    const std::size_t server_end = component_end(path, 2, false);
    if (server_end == 2 || server_end == path.size()) return {};
    const std::size_t share_end = component_end(path, server_end + 1, false);
    if (share_end == server_end + 1) return {};
    return {PrefixKind::Unc, share_end};
  }
  if (path.size() >= 2 && is_ascii_letter(path[0]) && path[1] == ':') return {PrefixKind::Drive, 2};
  return {};
}

struct Component {
  std::size_t start;
  std::size_t end;
};

// The components after prefix and root. Empty components are skipped; outside verbatim paths a
// `.` is skipped too, except a leading one of a path without root ("." and ".\a" keep it).
std::vector<Component> components(std::string_view path, const Prefix& prefix, std::size_t body) {
  const bool verbatim = prefix.verbatim();
  std::vector<Component> found;
  std::size_t i = body;
  while (i < path.size()) {
    const std::size_t end = component_end(path, i, verbatim);
    const std::string_view text = path.substr(i, end - i);
    const bool leading_dot = i == prefix.length;
    if (!text.empty() && (verbatim || text != "." || leading_dot)) found.push_back({i, end});
    i = end + 1;
  }
  return found;
}

bool has_root_at(std::string_view path, std::size_t at, bool verbatim) {
  return at < path.size() && (verbatim ? path[at] == '\\' : is_separator(path[at]));
}

// Joining onto a verbatim base: the system will not resolve `.` and `..` in it, so they are
// resolved here, component by component.
std::string merge_verbatim(std::string_view base, const Prefix& prefix, std::string_view more) {
  enum class Part { Prefix, Root, Normal, Special };
  struct Piece {
    Part part;
    std::string_view text;
  };
  std::vector<Piece> pieces{{Part::Prefix, base.substr(0, prefix.length)}};
  const bool base_root = has_root_at(base, prefix.length, true);
  if (base_root) pieces.push_back({Part::Root, "\\"});
  for (const Component& c : components(base, prefix, prefix.length + (base_root ? 1 : 0))) {
    const std::string_view text = base.substr(c.start, c.end - c.start);
    pieces.push_back({text == "." || text == ".." ? Part::Special : Part::Normal, text});
  }

  if (is_separator(more.front())) {
    pieces.resize(1);
    pieces.push_back({Part::Root, "\\"});
  }
  std::size_t i = 0;
  while (i < more.size()) {
    const std::size_t end = component_end(more, i, false);
    const std::string_view text = more.substr(i, end - i);
    if (text == "..") {
      if (pieces.back().part == Part::Normal) pieces.pop_back();
    } else if (!text.empty() && text != ".") {
      pieces.push_back({Part::Normal, text});
    }
    i = end + 1;
  }

  std::string joined;
  bool need_separator = false;
  for (const Piece& piece : pieces) {
    if (need_separator && piece.part != Part::Root) joined += '\\';
    joined += piece.text;
    need_separator = piece.part == Part::Root ? false
                     : piece.part == Part::Prefix ? !piece.text.empty()
                                                  : true;
  }
  return joined;
}

bool is_u16_separator(char16_t c) { return c == u'\\' || c == u'/'; }
bool is_u16_ascii_letter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

std::string_view component_text(std::string_view path, const Component& c) {
  return path.substr(c.start, c.end - c.start);
}

// A DOS device name (CON, PRN, AUX, NUL, COM0-9 and LPT0-9, the digit also as a superscript ¹ ² ³),
// with any extension: Win32 turns such a component of an ordinary path into the device itself.
bool is_device_name(std::string_view name) {
  const std::string_view stem = name.substr(0, std::min(name.find('.'), name.size()));
  std::string upper;
  for (const char c : stem) upper += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  while (!upper.empty() && upper.back() == ' ') upper.pop_back();
  if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL") return true;
  if (!upper.starts_with("COM") && !upper.starts_with("LPT")) return false;
  const std::string_view digit = std::string_view(upper).substr(3);
  return (digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') || digit == "\xC2\xB9" || digit == "\xC2\xB2" ||
         digit == "\xC2\xB3";
}

// A name the system takes as it stands, one level below its folder.
bool is_ordinary_name(std::string_view name, bool verbatim) {
  if (name.empty() || name == "." || name == ".." || name.find(':') != std::string_view::npos) return false;
  if (verbatim) return name.find('/') == std::string_view::npos;
  return name.back() != '.' && name.back() != ' ' && !is_device_name(name);
}

}  // namespace

std::string join_path(std::string_view base, std::string_view more) {
  if (parse_prefix(more).kind != PrefixKind::None) return std::string(more);
  const Prefix prefix = parse_prefix(base);
  if (prefix.verbatim() && !more.empty()) return merge_verbatim(base, prefix, more);
  if (!more.empty() && is_separator(more.front())) {
    std::string joined(base.substr(0, prefix.length));
    joined += more;
    return joined;
  }
  const bool bare_drive = prefix.kind == PrefixKind::Drive && prefix.length == base.size();
  const bool need_separator = !base.empty() && !is_separator(base.back()) && !bare_drive;
  std::string joined(base);
  if (need_separator) joined += '\\';
  joined += more;
  return joined;
}

std::optional<std::string> parent_path(std::string_view path) {
  const Prefix prefix = parse_prefix(path);
  const bool root = has_root_at(path, prefix.length, prefix.verbatim());
  const std::size_t body = prefix.length + (root ? 1 : 0);
  const std::vector<Component> found = components(path, prefix, body);
  if (found.empty()) return std::nullopt;
  if (found.size() == 1) return std::string(path.substr(0, body));
  return std::string(path.substr(0, found[found.size() - 2].end));
}

bool lies_below(std::string_view base, std::string_view path) {
  const Prefix base_prefix = parse_prefix(base);
  const Prefix path_prefix = parse_prefix(path);
  if (base_prefix.kind != path_prefix.kind || base.substr(0, base_prefix.length) != path.substr(0, path_prefix.length)) {
    return false;
  }
  const bool verbatim = base_prefix.verbatim();
  const bool root = has_root_at(base, base_prefix.length, verbatim);
  if (root != has_root_at(path, path_prefix.length, verbatim)) return false;
  const std::size_t body = base_prefix.length + (root ? 1 : 0);
  const std::vector<Component> above = components(base, base_prefix, body);
  const std::vector<Component> found = components(path, path_prefix, body);
  if (found.size() <= above.size()) return false;
  for (std::size_t i = 0; i < found.size(); ++i) {
    const std::string_view name = component_text(path, found[i]);
    if (i < above.size() ? name != component_text(base, above[i]) : !is_ordinary_name(name, verbatim)) return false;
  }
  return true;
}

Result<std::u16string> native_form(std::u16string_view path, const FullPathQuery& full_path) {
  if (path.empty() || path.starts_with(u"\\\\?\\") || path.starts_with(u"\\??\\")) {
    return std::u16string(path);
  }
  // 246 units plus the NUL is the shortest limit among the file functions (CreateDirectoryW).
  if (path.size() <= 246) {
    const bool drive = path.size() >= 2 && is_u16_ascii_letter(path[0]) && path[1] == u':' &&
                       (path.size() == 2 || is_u16_separator(path[2]));
    const bool two_separators = path.size() >= 2 && is_u16_separator(path[0]) && is_u16_separator(path[1]);
    if (drive || two_separators) return std::u16string(path);
  }

  Result<std::u16string> absolute = full_path(path);
  if (!absolute) return absolute;
  const std::u16string_view full = *absolute;
  // Windows takes any character before the colon as a drive (SUBST allows digits).
  if (full.size() >= 3 && !is_u16_separator(full[0]) && full[1] == u':' && full[2] == u'\\') {
    return u"\\\\?\\" + std::u16string(full);
  }
  if (full.starts_with(u"\\\\.\\")) return u"\\\\?\\" + std::u16string(full.substr(4));
  if (full.starts_with(u"\\\\?\\") || full.starts_with(u"\\??\\")) return absolute;
  if (full.starts_with(u"\\\\")) return u"\\\\?\\UNC\\" + std::u16string(full.substr(2));
  return absolute;
}

}  // namespace platform::windows_path
