// A fresh folder below the temporary directory for each test, with arranging and inspecting helpers
// that go through the standard library rather than through the operations under test.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "platform/error.hpp"
#include "platform/fs.hpp"
#include "platform/path.hpp"
#include "platform/runtime.hpp"

namespace platform {
// Failure messages show an error by its detail form.
inline void PrintTo(const PlatformError& error, std::ostream* out) { *out << error_detail(error); }
}  // namespace platform

namespace fs_test {

namespace stdfs = std::filesystem;

// The separator and the OS codes the operations give on this system.
#ifdef _WIN32
inline constexpr char separator = '\\';
inline constexpr std::uint32_t code_file_not_found = 2;
inline constexpr std::uint32_t code_path_not_found = 3;
inline constexpr std::uint32_t code_already_exists = 183;
inline constexpr std::uint32_t code_not_a_directory = 267;
#else
inline constexpr char separator = '/';
inline constexpr std::uint32_t code_file_not_found = ENOENT;
inline constexpr std::uint32_t code_path_not_found = ENOENT;
inline constexpr std::uint32_t code_already_exists = EEXIST;
inline constexpr std::uint32_t code_not_a_directory = ENOTDIR;
#endif

inline stdfs::path host_path(std::string_view utf8) {
  return stdfs::path(std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

inline void write_text(std::string_view path, std::string_view text) {
  std::ofstream out(host_path(path), std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  ASSERT_TRUE(out.good()) << "cannot write " << path;
}

inline std::string read_text(std::string_view path) {
  std::ifstream in(host_path(path), std::ios::binary);
  if (!in) return "<unreadable>";
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void make_directory(std::string_view path) { stdfs::create_directories(host_path(path)); }

inline void make_read_only(std::string_view path) {
  stdfs::permissions(host_path(path), stdfs::perms::owner_write | stdfs::perms::group_write | stdfs::perms::others_write,
                     stdfs::perm_options::remove);
}

// Whether anything, even a dangling link, has this name.
inline bool exists(std::string_view path) {
  std::error_code ignored;
  return stdfs::exists(stdfs::symlink_status(host_path(path), ignored));
}

inline bool is_directory(std::string_view path) {
  std::error_code ignored;
  return stdfs::is_directory(stdfs::symlink_status(host_path(path), ignored));
}

// The expected-or-error value as readable text for failure messages.
template <typename T>
std::string describe(const platform::Result<T>& result) {
  return result ? "success" : platform::error_text(result.error());
}

class TempTree : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    root_ = platform::join_path(platform::temp_directory(),
                                "zarvo-fs-test-" + std::to_string(platform::current_process_id()) + "-" +
                                    std::to_string(counter++));
    make_directory(root_);
  }

  // Removed with the operation under test: the standard library's removal follows links under
  // Wine and would delete their targets.
  void TearDown() override {
    if (!exists(root_)) return;
    auto removed = platform::remove_directory_all(root_);
    if (!removed) ADD_FAILURE() << "cannot clean up " << root_ << ": " << platform::error_text(removed.error());
  }

  // A path below the test's folder, joined one component at a time.
  std::string at(std::initializer_list<std::string_view> components) const {
    std::string path = root_;
    for (auto c : components) path = platform::join_path(path, c);
    return path;
  }

  // Why links cannot be made here, or none when they can. The probe link is made and checked in a
  // folder of its own, so that a link reported as made but missing is caught.
  std::optional<std::string> links_unavailable() const {
    const std::string probe = at({"link-probe"});
    make_directory(platform::join_path(probe, "target"));
    const std::string link = platform::join_path(probe, "link");
    auto made = platform::create_link(platform::join_path(probe, "target"), link, true);
    if (!made) return "symbolic links cannot be made here: " + platform::error_text(made.error());
    auto status = platform::link_status(link);
    if (!status || status->kind != platform::FileKind::Link) {
      return std::string("the system reports a symbolic link as made but none exists "
                         "(CreateSymbolicLinkW is a stub under Wine)");
    }
    return std::nullopt;
  }

  std::string root_;
};

#define SKIP_WITHOUT_LINKS()                                    \
  do {                                                          \
    if (auto why = links_unavailable()) GTEST_SKIP() << *why;   \
  } while (false)

}  // namespace fs_test
