// The POSIX path rules of the host lane: whether a path lies below another.
#include <gtest/gtest.h>

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

}  // namespace
