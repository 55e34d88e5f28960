// Containment as a property. Whatever the name, the components the path rule gives, joined one by
// one onto a Windows base (with the Windows join rules) and onto a POSIX base, give at every step
// exactly the base, a separator and plain names: nothing that climbs, nothing with a prefix, a
// drive or a stream. The walk's own below-the-base check accepts every such path, so it never
// changes the result for a name the rule accepts.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "payload/entry_path.hpp"
#include "platform/path.hpp"
#include "platform/windows_rules.hpp"

namespace {

constexpr std::string_view windows_base = "\\\\?\\C:\\Users\\Zo\xC3\xAB\\AppData\\Local\\Temp\\zarvo-setup-42";
constexpr std::string_view posix_base = "/tmp/zarvo-setup-42";

// The oracle, written as plainly as possible: `path` is `base`, then for each of the `depth` names
// one separator and a name that is not `.` or `..` and holds none of `forbidden`.
bool plainly_below(std::string_view base, std::string_view path, char separator, std::string_view forbidden,
                   std::size_t depth) {
  if (!path.starts_with(base)) return false;
  std::string_view rest = path.substr(base.size());
  for (std::size_t i = 0; i < depth; ++i) {
    if (rest.empty() || rest.front() != separator) return false;
    rest.remove_prefix(1);
    const std::size_t end = std::min(rest.find(separator), rest.size());
    const std::string_view name = rest.substr(0, end);
    if (name.empty() || name == "." || name == ".." || name.find_first_of(forbidden) != std::string_view::npos) {
      return false;
    }
    rest.remove_prefix(end);
  }
  return rest.empty();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view name(reinterpret_cast<const char*>(data), size);
  const auto components = payload::simplified_components(name);
  const bool rooted = !name.empty() && (name[0] == '\\' || name[0] == '/');
  if ((rooted || name.find_first_of(std::string_view(":\0", 2)) != std::string_view::npos) && components) {
    std::abort();
  }
  if (!components) return 0;

  std::string windows = std::string(windows_base);
  std::string posix = std::string(posix_base);
  for (std::size_t depth = 1; depth <= components->size(); ++depth) {
    const std::string& component = (*components)[depth - 1];
    windows = platform::windows_rules::join_path(windows, component);
    posix = platform::join_path(posix, component);
    if (!plainly_below(windows_base, windows, '\\', std::string_view("\\/:\0", 4), depth)) std::abort();
    if (!plainly_below(posix_base, posix, '/', std::string_view("/\0", 2), depth)) std::abort();
    if (!platform::windows_rules::lies_below(windows_base, windows)) std::abort();
    if (!platform::lies_below(posix_base, posix)) std::abort();
  }
  return 0;
}
