#include "platform/windows_rules.hpp"

#include <algorithm>
#include <iterator>

#include "platform/utf8.hpp"

namespace platform::windows_rules {

namespace {

struct UpperCase {
  char16_t unit;
  char16_t upper;
};

constexpr UpperCase upper_cases[] = {
#include "upcase_table.inc"
};

}  // namespace

char16_t upcase(char16_t unit) {
  const auto found = std::ranges::lower_bound(upper_cases, unit, {}, &UpperCase::unit);
  return found != std::end(upper_cases) && found->unit == unit ? found->upper : unit;
}

std::string file_name_key(std::string_view name) {
  while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.remove_suffix(1);
  std::string key;
  key.reserve(name.size());
  for (std::size_t at = 0; at < name.size();) {
    const auto decoded = utf8::decode(name.substr(at));
    char32_t c = decoded ? decoded->code_point : U'\uFFFD';
    at += decoded ? decoded->length : decoded.error();
    if (c < 0x10000) c = upcase(static_cast<char16_t>(c));
    utf8::append(key, c);
  }
  return key;
}

bool has_short_name_shape(std::string_view name) {
  const std::size_t dot = name.find('.');
  const std::string_view base = name.substr(0, dot);
  if (dot != std::string_view::npos) {
    const std::string_view extension = name.substr(dot + 1);
    if (extension.size() > 3 || extension.find('.') != std::string_view::npos) return false;
  }
  const std::size_t tilde = base.rfind('~');
  if (base.size() > 8 || tilde == std::string_view::npos || tilde > 6 || tilde + 1 == base.size()) return false;
  return std::ranges::all_of(base.substr(tilde + 1), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace platform::windows_rules
