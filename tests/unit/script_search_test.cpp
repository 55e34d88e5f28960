// The search for the installer script over a made-up tree: which path it gives, in which order it
// looks, and that it never passes a link.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/path.hpp"
#include "setup/work_directory.hpp"

namespace {

using platform::FileKind;

struct Tree {
  std::map<std::string, FileKind> kinds;  // relative path ("a/install.ps1") -> kind, links not followed
  std::vector<std::string> listed;        // the top's entries, in the system's order
};

std::optional<std::string> search(const Tree& tree) {
  const std::string top = "work";
  const auto relative = [&](const std::string& path) {
    std::string rest = path.substr(top.size() + 1);
    for (char& c : rest) c = c == '\\' ? '/' : c;
    return rest;
  };
  const setup::ScriptSearch system{
      .kind = [&](const std::string& path) -> std::optional<FileKind> {
        const auto found = tree.kinds.find(relative(path));
        return found == tree.kinds.end() ? std::nullopt : std::optional(found->second);
      },
      .entries = [&](const std::string& directory) {
        std::vector<std::string> paths;
        if (directory == top) {
          for (const std::string& name : tree.listed) paths.push_back(platform::join_path(top, name));
        }
        return paths;
      },
  };
  const auto found = setup::locate_installer_script(top, system);
  return found ? std::optional(relative(*found)) : std::nullopt;
}

TEST(ScriptSearch, TheScriptIsAFileReachedWithoutPassingALink) {
  const std::pair<Tree, std::optional<std::string>> cases[] = {
      {{{{"install.ps1", FileKind::File}, {"a", FileKind::Directory}, {"a/install.ps1", FileKind::File}}, {"a"}},
       "install.ps1"},
      // The first listed folder that holds one wins; files and folders without one are passed.
      {{{{"README.md", FileKind::File}, {"b", FileKind::Directory}, {"a", FileKind::Directory},
         {"a/install.ps1", FileKind::File}, {"c", FileKind::Directory}, {"c/install.ps1", FileKind::File}},
        {"README.md", "b", "c", "a"}},
       "c/install.ps1"},
      // A folder named like the script is searched into.
      {{{{"install.ps1", FileKind::Directory}, {"install.ps1/install.ps1", FileKind::File}}, {"install.ps1"}},
       "install.ps1/install.ps1"},
      // A link named install.ps1, at the top or one level down, is not the script.
      {{{{"install.ps1", FileKind::Link}, {"pkg", FileKind::Directory}, {"pkg/install.ps1", FileKind::File}}, {"pkg"}},
       "pkg/install.ps1"},
      {{{{"install.ps1", FileKind::Link}}, {"install.ps1"}}, std::nullopt},
      {{{{"pkg", FileKind::Directory}, {"pkg/install.ps1", FileKind::Link}}, {"pkg"}}, std::nullopt},
      // A link standing for a top-level folder is not searched into, whatever lies behind it.
      {{{{"pkg", FileKind::Link}, {"pkg/install.ps1", FileKind::File}, {"z", FileKind::Directory},
         {"z/install.ps1", FileKind::File}},
        {"pkg", "z"}},
       "z/install.ps1"},
      // Two levels down is too deep.
      {{{{"a", FileKind::Directory}, {"a/b", FileKind::Directory}, {"a/b/install.ps1", FileKind::File}}, {"a"}},
       std::nullopt},
  };
  for (const auto& [tree, expected] : cases) {
    SCOPED_TRACE(tree.listed.empty() ? "" : tree.listed.front());
    EXPECT_EQ(search(tree), expected);
  }
}

}  // namespace
