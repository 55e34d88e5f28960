// The Setup run: the order of the steps, every text the program prints, the close-outs and the
// exit code. It is a function of its steps, so it can be driven completely with scripted ones.
#pragma once

#include <cstdint>
#include <expected>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "payload/archive_error.hpp"
#include "platform/error.hpp"

namespace setup {

class Steps {
 public:
  virtual ~Steps() = default;
  virtual void print_stdout(std::initializer_list<std::string_view> pieces) = 0;
  virtual void print_stderr(std::initializer_list<std::string_view> pieces) = 0;
  virtual void flush_stdout() = 0;    // result ignored
  virtual void read_stdin_line() = 0;  // content and errors ignored
  virtual std::string work_directory_path() = 0;
  [[nodiscard]] virtual platform::Result<void> create_work_directory(std::string_view path) = 0;
  [[nodiscard]] virtual std::expected<void, payload::ArchiveError> open_archive() = 0;
  [[nodiscard]] virtual std::expected<void, payload::ArchiveError> extract_all(std::string_view destination) = 0;
  virtual std::optional<std::string> locate_installer_script(std::string_view work_directory) = 0;
  [[nodiscard]] virtual platform::Result<std::uint32_t> run_installer_script(std::string_view script_path) = 0;
  virtual void remove_work_directory(std::string_view path) = 0;  // errors ignored
  virtual bool launch_home_window() = 0;
  virtual void sleep_for_seconds(std::uint64_t seconds) = 0;
};

inline constexpr std::uint64_t close_out_seconds = 15;

// Runs the whole sequence and gives the exit code: 0 after success, 1 after a failure.
std::uint32_t run(Steps& steps, std::uint64_t payload_length);

}  // namespace setup
