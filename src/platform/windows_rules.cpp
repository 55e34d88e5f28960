// The Windows path rules as pure code: prefixes, joining, parents, containment and the native
// form, for UTF-8 and UTF-16 paths alike.
#include "platform/windows_rules.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <vector>

#include "platform/little_endian.hpp"
#include "platform/path_chars.hpp"

namespace platform::windows_rules {

namespace {

template <typename Char>
using View = std::basic_string_view<Char>;
template <typename Char>
using String = std::basic_string<Char>;

enum class PrefixKind { None, Drive, Unc, Device, Verbatim, VerbatimDrive, VerbatimUnc };

struct Prefix {
  PrefixKind kind = PrefixKind::None;
  std::size_t length = 0;

  bool verbatim() const {
    return kind == PrefixKind::Verbatim || kind == PrefixKind::VerbatimDrive || kind == PrefixKind::VerbatimUnc;
  }
};

template <typename Char>
String<Char> ascii(std::string_view text) {
  return String<Char>(text.begin(), text.end());
}

// The end of the component starting at `from`: the next separator, or the end of the path.
template <typename Char>
std::size_t component_end(View<Char> path, std::size_t from, bool verbatim) {
  for (std::size_t i = from; i < path.size(); ++i) {
    if (verbatim ? path[i] == Char('\\') : is_separator(path[i])) return i;
  }
  return path.size();
}

template <typename Char>
Prefix parse_prefix(View<Char> path) {
  if (starts_with_ascii(path, "\\\\?\\")) {
    if (starts_with_ascii(path.substr(4), "UNC\\")) {
      const std::size_t server_end = component_end(path, 8, true);
      if (server_end == path.size()) return {PrefixKind::VerbatimUnc, server_end};
      return {PrefixKind::VerbatimUnc, component_end(path, server_end + 1, true)};
    }
    if (path.size() >= 6 && is_ascii_letter(path[4]) && path[5] == Char(':') &&
        (path.size() == 6 || path[6] == Char('\\'))) {
      return {PrefixKind::VerbatimDrive, 6};
    }
    return {PrefixKind::Verbatim, component_end(path, 4, true)};
  }
  if (path.size() >= 2 && is_separator(path[0]) && is_separator(path[1])) {
    if (path.size() >= 4 && path[2] == Char('.') && is_separator(path[3])) {
      return {PrefixKind::Device, component_end(path, 4, false)};
    }
    const std::size_t server_end = component_end(path, 2, false);
    if (server_end == 2 || server_end == path.size()) return {};
    const std::size_t share_end = component_end(path, server_end + 1, false);
    if (share_end == server_end + 1) return {};
    return {PrefixKind::Unc, share_end};
  }
  if (path.size() >= 2 && is_ascii_letter(path[0]) && path[1] == Char(':')) return {PrefixKind::Drive, 2};
  return {};
}

struct Component {
  std::size_t start;
  std::size_t end;
};

template <typename Char>
View<Char> text_of(View<Char> path, const Component& c) {
  return path.substr(c.start, c.end - c.start);
}

template <typename Char>
bool is_dot(View<Char> text) {
  return text.size() == 1 && text[0] == Char('.');
}
template <typename Char>
bool is_dot_dot(View<Char> text) {
  return text.size() == 2 && text[0] == Char('.') && text[1] == Char('.');
}

// The components after prefix and root. Empty components are skipped; outside verbatim paths a
// `.` is skipped too, except a leading one of a path without root ("." and ".\a" keep it).
template <typename Char>
std::vector<Component> components(View<Char> path, const Prefix& prefix, std::size_t body) {
  const bool verbatim = prefix.verbatim();
  std::vector<Component> found;
  std::size_t i = body;
  while (i < path.size()) {
    const std::size_t end = component_end(path, i, verbatim);
    const View<Char> text = path.substr(i, end - i);
    const bool leading_dot = i == prefix.length;
    if (!text.empty() && (verbatim || !is_dot(text) || leading_dot)) found.push_back({i, end});
    i = end + 1;
  }
  return found;
}

template <typename Char>
bool has_root_at(View<Char> path, std::size_t at, bool verbatim) {
  return at < path.size() && (verbatim ? path[at] == Char('\\') : is_separator(path[at]));
}

// Joining onto a verbatim base: the system will not resolve `.` and `..` in it, so they are
// resolved here, component by component.
template <typename Char>
String<Char> merge_verbatim(View<Char> base, const Prefix& prefix, View<Char> more) {
  enum class Part { Prefix, Root, Normal, Special };
  struct Piece {
    Part part;
    View<Char> text;
  };
  static const String<Char> root(1, Char('\\'));
  std::vector<Piece> pieces{{Part::Prefix, base.substr(0, prefix.length)}};
  const bool base_root = has_root_at(base, prefix.length, true);
  if (base_root) pieces.push_back({Part::Root, root});
  for (const Component& c : components(base, prefix, prefix.length + (base_root ? 1 : 0))) {
    const View<Char> text = text_of(base, c);
    pieces.push_back({is_dot(text) || is_dot_dot(text) ? Part::Special : Part::Normal, text});
  }

  if (is_separator(more.front())) {
    pieces.resize(1);
    pieces.push_back({Part::Root, root});
  }
  std::size_t i = 0;
  while (i < more.size()) {
    const std::size_t end = component_end(more, i, false);
    const View<Char> text = more.substr(i, end - i);
    if (is_dot_dot(text)) {
      if (pieces.back().part == Part::Normal) pieces.pop_back();
    } else if (!text.empty() && !is_dot(text)) {
      pieces.push_back({Part::Normal, text});
    }
    i = end + 1;
  }

  String<Char> joined;
  bool need_separator = false;
  for (const Piece& piece : pieces) {
    if (need_separator && piece.part != Part::Root) joined += Char('\\');
    joined += piece.text;
    need_separator = piece.part == Part::Root ? false : piece.part == Part::Prefix ? !piece.text.empty() : true;
  }
  return joined;
}

// A digit after COM or LPT: 0 to 9, or the superscripts ¹ ² ³ (U+00B9, U+00B2, U+00B3).
template <typename Char>
bool is_port_digit(View<Char> text) {
  if (text.size() == 1 && text[0] >= Char('0') && text[0] <= Char('9')) return true;
  if constexpr (sizeof(Char) == 1) {
    return text == View<Char>(reinterpret_cast<const Char*>("\xC2\xB9"), 2) ||
           text == View<Char>(reinterpret_cast<const Char*>("\xC2\xB2"), 2) ||
           text == View<Char>(reinterpret_cast<const Char*>("\xC2\xB3"), 2);
  } else {
    return text.size() == 1 && (text[0] == Char(0xB9) || text[0] == Char(0xB2) || text[0] == Char(0xB3));
  }
}

// A DOS device name (CON, PRN, AUX, NUL, COM0-9 and LPT0-9), with any extension: Win32 turns such
// a component of an ordinary path into the device itself.
template <typename Char>
bool is_device_name(View<Char> name) {
  View<Char> stem = name.substr(0, std::min(name.find(Char('.')), name.size()));
  while (!stem.empty() && stem.back() == Char(' ')) stem.remove_suffix(1);
  String<Char> upper(stem);
  for (Char& c : upper) c = static_cast<Char>(c >= Char('a') && c <= Char('z') ? c - Char('a') + Char('A') : c);
  const View<Char> word = upper;
  for (const char* device : {"CON", "PRN", "AUX", "NUL"}) {
    if (word == View<Char>(ascii<Char>(device))) return true;
  }
  return (starts_with_ascii(word, "COM") || starts_with_ascii(word, "LPT")) && is_port_digit(word.substr(3));
}

}  // namespace

template <typename Char>
bool rewritten_by_win32(std::basic_string_view<Char> name) {
  return !name.empty() && (name.back() == Char('.') || name.back() == Char(' ') || is_device_name(name));
}

namespace {

// A name the system takes as it stands, one level below its folder, and Windows' tools too.
template <typename Char>
bool is_ordinary_name(View<Char> name, bool verbatim) {
  if (name.empty() || is_dot(name) || is_dot_dot(name) || name.find(Char(':')) != View<Char>::npos) return false;
  if (verbatim && name.find(Char('/')) != View<Char>::npos) return false;
  return !rewritten_by_win32(name);
}

}  // namespace

template <typename Char>
std::basic_string<Char> join_path(std::basic_string_view<Char> base, std::basic_string_view<Char> more) {
  if (parse_prefix(more).kind != PrefixKind::None) return String<Char>(more);
  const Prefix prefix = parse_prefix(base);
  if (prefix.verbatim() && !more.empty()) return merge_verbatim(base, prefix, more);
  if (!more.empty() && is_separator(more.front())) {
    String<Char> joined(base.substr(0, prefix.length));
    joined += more;
    return joined;
  }
  const bool bare_drive = prefix.kind == PrefixKind::Drive && prefix.length == base.size();
  const bool need_separator = !base.empty() && !is_separator(base.back()) && !bare_drive;
  String<Char> joined(base);
  if (need_separator) joined += Char('\\');
  joined += more;
  return joined;
}

template <typename Char>
std::optional<std::basic_string<Char>> parent_path(std::basic_string_view<Char> path) {
  const Prefix prefix = parse_prefix(path);
  const bool root = has_root_at(path, prefix.length, prefix.verbatim());
  const std::size_t body = prefix.length + (root ? 1 : 0);
  const std::vector<Component> found = components(path, prefix, body);
  if (found.empty()) return std::nullopt;
  if (found.size() == 1) return String<Char>(path.substr(0, body));
  return String<Char>(path.substr(0, found[found.size() - 2].end));
}

template <typename Char>
bool lies_below(std::basic_string_view<Char> base, std::basic_string_view<Char> path) {
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
    const View<Char> name = text_of(path, found[i]);
    if (i < above.size() ? name != text_of(base, above[i]) : !is_ordinary_name(name, verbatim)) return false;
  }
  return true;
}

template <typename Char>
std::basic_string<Char> with_long_path_prefix(std::basic_string_view<Char> absolute) {
  if (absolute.size() >= 3 && !is_separator(absolute[0]) && absolute[1] == Char(':') && absolute[2] == Char('\\')) {
    return ascii<Char>("\\\\?\\") + String<Char>(absolute);
  }
  if (starts_with_ascii(absolute, "\\\\.\\")) return ascii<Char>("\\\\?\\") + String<Char>(absolute.substr(4));
  if (starts_with_ascii(absolute, "\\\\?\\") || starts_with_ascii(absolute, "\\??\\")) return String<Char>(absolute);
  if (starts_with_ascii(absolute, "\\\\")) return ascii<Char>("\\\\?\\UNC\\") + String<Char>(absolute.substr(2));
  return String<Char>(absolute);
}

template <typename Char>
Result<std::basic_string<Char>> native_form(std::basic_string_view<Char> path, const FullPathQuery<Char>& full_path) {
  if (path.empty() || starts_with_ascii(path, "\\\\?\\") || starts_with_ascii(path, "\\??\\")) return String<Char>(path);
  if (path.size() + 1 < long_path_units) {
    const bool drive = path.size() >= 2 && is_ascii_letter(path[0]) && path[1] == Char(':') &&
                       (path.size() == 2 || is_separator(path[2]));
    const bool two_separators = path.size() >= 2 && is_separator(path[0]) && is_separator(path[1]);
    if (drive || two_separators) return String<Char>(path);
  }
  Result<String<Char>> absolute = full_path(path);
  if (!absolute) return absolute;
  return with_long_path_prefix<Char>(*absolute);
}

namespace {

constexpr std::uint32_t tag_symlink = 0xA000000C;
constexpr std::uint32_t tag_mount_point = 0xA0000003;
constexpr std::uint32_t symlink_flag_relative = 0x1;
constexpr std::size_t reparse_header_size = 8;  // tag, data length, reserved

// \??\C:\x is given back as C:\x, \??\UNC\server\share\x as \\server\share\x, when that ordinary
// form is short enough and means the same thing; otherwise as the verbatim \\?\ form.
std::u16string target_from_nt_form(std::u16string target, const FullPathQuery<char16_t>& full_path) {
  if (!target.starts_with(uR"(\??\)")) return target;
  target[1] = u'\\';  // the NT prefix becomes the verbatim one

  const std::u16string_view rest = std::u16string_view(target).substr(4);
  std::u16string ordinary;
  if (rest.starts_with(uR"(UNC\)")) {
    ordinary = uR"(\\)" + std::u16string(rest.substr(4));
  } else if (rest.size() >= 3 && is_ascii_letter(rest[0]) && rest[1] == u':' && rest[2] == u'\\') {
    ordinary = std::u16string(rest);
  } else {
    return target;
  }
  if (ordinary.size() + 1 > max_path_units) return target;
  const auto full = full_path(ordinary);
  if (full && *full == ordinary) return ordinary;
  return target;
}

}  // namespace

Result<std::u16string> link_target(std::span<const std::byte> bytes, const FullPathQuery<char16_t>& full_path) {
  const auto malformed = [] {
    return std::unexpected(PlatformError::message(ErrorKind::InvalidData, "malformed reparse point data"));
  };
  const little_endian::Bytes data(bytes);
  // Tag, data length, reserved; then substitute name offset and length, print name offset and
  // length, and for a symbolic link its flags; then the names.
  const auto header = data.record<reparse_header_size>(0);
  if (!header) return malformed();
  const std::uint32_t tag = header->u32<0>();
  if (tag != tag_symlink && tag != tag_mount_point) {
    return std::unexpected(PlatformError::message(ErrorKind::Unsupported, "Unsupported reparse point type"));
  }
  const bool symlink = tag == tag_symlink;
  const std::size_t path_buffer = reparse_header_size + 8 + (symlink ? 4 : 0);
  const std::size_t data_end = std::min<std::size_t>(bytes.size(), reparse_header_size + header->u16<4>());
  if (data_end < path_buffer) return malformed();
  // Both fit now: the names' fields end at 16 bytes, a symbolic link's flags at 20.
  const auto name_fields = data.record<reparse_header_size + 8>(0);
  const auto link_fields = data.record<reparse_header_size + 12>(0);
  const std::size_t offset = name_fields->u16<reparse_header_size>();
  const std::size_t length = name_fields->u16<reparse_header_size + 2>();
  if (offset % 2 != 0 || length % 2 != 0 || path_buffer + offset + length > data_end) return malformed();

  std::u16string target(length / 2, u'\0');
  std::memcpy(target.data(), bytes.data() + path_buffer + offset, length);
  const bool relative = symlink && (link_fields->u32<reparse_header_size + 8>() & symlink_flag_relative);
  if (relative) return target;
  return target_from_nt_form(std::move(target), full_path);
}

#define ZARVO_WINDOWS_RULES_FOR(Char)                                                                        \
  template std::basic_string<Char> join_path<Char>(std::basic_string_view<Char>, std::basic_string_view<Char>); \
  template std::optional<std::basic_string<Char>> parent_path<Char>(std::basic_string_view<Char>);            \
  template bool lies_below<Char>(std::basic_string_view<Char>, std::basic_string_view<Char>);                 \
  template bool rewritten_by_win32<Char>(std::basic_string_view<Char>);                                       \
  template std::basic_string<Char> with_long_path_prefix<Char>(std::basic_string_view<Char>);                 \
  template Result<std::basic_string<Char>> native_form<Char>(std::basic_string_view<Char>, const FullPathQuery<Char>&);

ZARVO_WINDOWS_RULES_FOR(char)
ZARVO_WINDOWS_RULES_FOR(char16_t)
#if WCHAR_MAX <= 0xFFFF
ZARVO_WINDOWS_RULES_FOR(wchar_t)
#endif

}  // namespace platform::windows_rules
