// The entry point: wires the real steps into the Setup run and exits with its code.
#include <optional>
#include <string>

#include "payload/archive.hpp"
#include "payload/span.hpp"
#include "platform/console/console.hpp"
#include "platform/runtime.hpp"
#include "process/home_window.hpp"
#include "process/installer.hpp"
#include "setup/run.hpp"
#include "setup/work_directory.hpp"

namespace {

class RealSteps final : public setup::Steps {
 public:
  void print_stdout(std::initializer_list<std::string_view> pieces) override { platform::print_stdout(pieces); }
  void print_stderr(std::initializer_list<std::string_view> pieces) override { platform::print_stderr(pieces); }
  void flush_stdout() override { (void)platform::flush_stdout(); }
  void read_stdin_line() override {
    platform::discard_typed_ahead();  // the answer is what is typed after the prompt
    std::string line;
    (void)platform::read_stdin_line(line);
  }
  std::string work_directory_path() override { return setup::work_directory_path(); }
  platform::Result<void> create_work_directory(std::string_view path) override {
    return setup::create_work_directory(path);
  }
  std::expected<void, payload::ArchiveError> open_archive() override {
    auto opened = payload::open_archive(payload::payload_span());
    if (!opened) return std::unexpected(std::move(opened.error()));
    archive_.emplace(std::move(*opened));
    return {};
  }
  std::expected<void, payload::ArchiveError> extract_all(std::string_view destination) override {
    return payload::extract_all(*archive_, destination);
  }
  std::optional<std::string> locate_installer_script(std::string_view work_directory) override {
    return setup::locate_installer_script(work_directory);
  }
  platform::Result<std::uint32_t> run_installer_script(std::string_view script_path) override {
    archive_.reset();  // nothing of the payload is needed while the installer runs
    return process::run_installer_script(script_path);
  }
  void remove_work_directory(std::string_view path) override { (void)setup::remove_work_directory(path); }
  bool launch_home_window() override { return process::launch_home_window(); }
  void sleep_for_seconds(std::uint64_t seconds) override { platform::sleep_for(seconds, 0); }

 private:
  std::optional<payload::Archive> archive_;
};

std::uint32_t run_setup() {
  RealSteps steps;
  return setup::run(steps, payload::payload_length);
}

}  // namespace

int main() { platform::start(run_setup); }
