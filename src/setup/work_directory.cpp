#include "setup/work_directory.hpp"

#include "platform/fs.hpp"
#include "platform/path.hpp"
#include "platform/runtime.hpp"

namespace setup {

namespace {
constexpr std::string_view installer_script_name = "install.ps1";
}  // namespace

std::string work_directory_path() {
  return platform::join_path(platform::temp_directory(),
                             "zarvo-setup-" + std::to_string(platform::current_process_id()));
}

platform::Result<void> create_work_directory(std::string_view path) {
  // A directory (or a link to one) left under this name by an earlier run with the same process id
  // goes first, with the link-safe removal: nothing of the old run may be taken for the new
  // payload's, least of all an old install.ps1 at the top. Anything else in the way fails the
  // creation below with the creation's own error.
  if (const auto status = platform::path_status(path); status && status->kind == platform::FileKind::Directory) {
    if (auto removed = platform::remove_directory_all(path); !removed) return removed;
  }
  // The directory itself is made here and now, or the creation fails: one that appeared under the
  // name since (another process's, or a link) is never taken for ours.
  auto made = platform::create_directory(path);
  if (made || made.error().kind() != platform::ErrorKind::NotFound) return made;
  const auto parent = platform::parent_path(path);
  if (!parent) return made;
  if (auto parents = platform::create_directory_all(*parent); !parents) return parents;
  return platform::create_directory(path);
}

std::optional<std::string> locate_installer_script(std::string_view work_directory, const ScriptSearch& system) {
  const auto is = [&](const std::string& path, platform::FileKind kind) { return system.kind(path) == kind; };
  std::string candidate = platform::join_path(work_directory, installer_script_name);
  if (is(candidate, platform::FileKind::File)) return candidate;
  // One level down only, in the order the listing gives, and only into folders.
  for (const std::string& entry : system.entries(std::string(work_directory))) {
    if (!is(entry, platform::FileKind::Directory)) continue;
    candidate = platform::join_path(entry, installer_script_name);
    if (is(candidate, platform::FileKind::File)) return candidate;
  }
  return std::nullopt;
}

std::optional<std::string> locate_installer_script(std::string_view work_directory) {
  const ScriptSearch system{
      .kind = [](const std::string& path) -> std::optional<platform::FileKind> {
        const auto status = platform::link_status(path);
        return status ? std::optional(status->kind) : std::nullopt;
      },
      .entries = [](const std::string& directory) {
        std::vector<std::string> paths;
        auto listing = platform::list_directory(directory);
        if (!listing) return paths;
        // The listing ends at an entry that fails.
        while (auto entry = platform::next_entry(*listing)) {
          if (*entry) paths.push_back(platform::entry_path(**entry));
        }
        return paths;
      },
  };
  return locate_installer_script(work_directory, system);
}

platform::Result<void> remove_work_directory(std::string_view path) { return platform::remove_directory_all(path); }

}  // namespace setup
