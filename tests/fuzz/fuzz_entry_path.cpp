// The entry-name path rule: whatever the name, a simplified path never leaves its start.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "payload/entry_path.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view name(reinterpret_cast<const char*>(data), size);
  const auto path = payload::simplified_path(name);
  const bool rooted = !name.empty() && (name[0] == '\\' || name[0] == '/');
  const bool drive = name.size() >= 2 && name[1] == ':' &&
                     ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'));
  if ((rooted || drive || name.find('\0') != std::string_view::npos) && path) std::abort();
  if (!path) return 0;
  for (const auto& component : *path) {
    if (component.empty() || component == "." || component == ".." ||
        component.find_first_of(std::string_view("\\/\0", 3)) != std::string::npos) {
      std::abort();
    }
  }
  return 0;
}
