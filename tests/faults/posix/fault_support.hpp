// What the fault tests look at from outside the code under test: a whole tree as text, the open
// descriptors, an error as its value and its text. Everything here goes through the C++ standard
// library, whose own system calls are made inside its shared library and never reach the faults.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "platform/error.hpp"
#include "system/fs_fixture.hpp"

namespace fault_test {

namespace stdfs = std::filesystem;

// Every entry below `root`, sorted: "d path/", "f path: contents", "l path -> target".
inline std::vector<std::string> tree(const std::string& root) {
  std::vector<std::string> lines;
  std::error_code error;
  for (stdfs::recursive_directory_iterator it(root, error), end; !error && it != end; it.increment(error)) {
    const std::string path = it->path().lexically_relative(root).generic_string();
    const auto status = it->symlink_status();
    if (stdfs::is_symlink(status)) {
      lines.push_back("l " + path + " -> " + stdfs::read_symlink(it->path()).string());
    } else if (stdfs::is_directory(status)) {
      lines.push_back("d " + path + "/");
    } else {
      std::ifstream in(it->path(), std::ios::binary);
      lines.push_back("f " + path + ": " + std::string(std::istreambuf_iterator<char>(in), {}));
    }
  }
  if (error) lines.push_back("<cannot list: " + error.message() + ">");
  std::sort(lines.begin(), lines.end());
  return lines;
}

// The descriptors open in this process (the listing's own one included, the same each time).
inline std::set<std::string> open_descriptors() {
  std::set<std::string> names;
  for (const auto& entry : stdfs::directory_iterator("/proc/self/fd")) names.insert(entry.path().filename());
  return names;
}

// Makes the entries of a tree given as `tree` shows one, below `root`, in the order given.
inline void make_tree(const std::string& root, const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    const std::string body = line.substr(2);
    if (line.starts_with("d ")) {
      stdfs::create_directories(stdfs::path(root) / body.substr(0, body.size() - 1));
    } else if (line.starts_with("f ")) {
      const auto colon = body.find(": ");
      std::ofstream(stdfs::path(root) / body.substr(0, colon), std::ios::binary) << body.substr(colon + 2);
    } else if (line.starts_with("l ")) {
      const auto arrow = body.find(" -> ");
      stdfs::create_symlink(body.substr(arrow + 4), stdfs::path(root) / body.substr(0, arrow));
    } else {
      ADD_FAILURE() << "not a tree line: " << line;
    }
  }
}

// An operation's failure, whole: the error value, its kind and the text it is shown with.
template <typename T>
void expect_failure(const platform::Result<T>& result, const platform::PlatformError& error, platform::ErrorKind kind,
                    const std::string& text) {
  ASSERT_FALSE(result) << "succeeded where it should fail with " << text;
  EXPECT_EQ(result.error(), error);
  EXPECT_EQ(result.error().kind(), kind);
  EXPECT_EQ(platform::error_text(result.error()), text);
}

}  // namespace fault_test
