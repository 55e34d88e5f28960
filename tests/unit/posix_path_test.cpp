// The POSIX path rules of the host lane: joining, parents, and whether a path lies below another.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/path.hpp"

namespace {

TEST(PosixLiesBelow, ComponentByComponent) {
  struct Case {
    std::string_view base;
    std::string_view path;
    bool below;
  };
  const Case cases[] = {
      {"/tmp/zarvo-setup-42", "/tmp/zarvo-setup-42/bin/zarvo.exe", true},
      {"/tmp/zarvo-setup-42/", "/tmp/zarvo-setup-42//x", true},
      {"/tmp/zarvo-setup-42", "/tmp/zarvo-setup-42/C:x", true},  // an ordinary name here
      {"/tmp/./zarvo-setup-42", "/tmp/./zarvo-setup-42/x", true},
      {"/tmp/zarvo-setup-42", "/tmp/zarvo-setup-42", false},
      {"/tmp/zarvo-setup-42", "/tmp/zarvo-setup-42/", false},
      {"/tmp/zarvo-setup-42", "/tmp/zarvo-setup-42x/y", false},
      {"/tmp/zarvo-setup-42", "/tmp/zarvo-setup-4", false},
      {"/tmp/zarvo-setup-42", "/tmp/zarvo-setup-42/../x", false},
      {"/tmp/zarvo-setup-42", "/tmp/zarvo-setup-42/./x", false},
      {"/tmp/zarvo-setup-42", "/tmp/zarvo-setup-42/a/..", false},
      {"/tmp/zarvo-setup-42", "tmp/zarvo-setup-42/x", false},
      {"/tmp/zarvo-setup-42", "/etc/passwd", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.path) + " below " + std::string(c.base));
    EXPECT_EQ(platform::lies_below(c.base, c.path), c.below);
  }
}

TEST(PosixJoinPath, OneSlashBetweenUnlessTheBaseEndsInOneOrIsEmptyAndARootedPathReplacesTheBase) {
  const std::string_view cases[][3] = {
      {"/tmp", "x", "/tmp/x"},
      {"/tmp/", "x", "/tmp/x"},
      {"", "x", "x"},
      {"rel", "x/y", "rel/x/y"},
      {"/tmp", "", "/tmp/"},
      {"/tmp", "/etc/x", "/etc/x"},
  };
  for (const auto& [base, more, joined] : cases) {
    SCOPED_TRACE(std::string(base) + " + " + std::string(more));
    EXPECT_EQ(platform::join_path(base, more), joined);
  }
}

TEST(PosixParentPath, DropsTheLastComponentAndHasNoneForTheRootAndEmpty) {
  const std::pair<std::string_view, std::optional<std::string_view>> cases[] = {
      {"", std::nullopt},
      {"/", std::nullopt},
      {"//", std::nullopt},
      {"/.", std::nullopt},
      {"a", ""},
      {".", ""},
      {"/a", "/"},
      {"//a", "/"},
      {"/a/b", "/a"},
      {"/a/b//", "/a"},
      {"a/./b", "a"},
      {"./a", "."},
      {"/a/.", "/"},
  };
  for (const auto& [path, parent] : cases) {
    SCOPED_TRACE(path);
    EXPECT_EQ(platform::parent_path(path), parent ? std::optional<std::string>(*parent) : std::nullopt);
  }
}

}  // namespace
