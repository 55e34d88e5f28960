#include "setup/run.hpp"

#include "platform/error.hpp"
#include "platform/text.hpp"
#include "setup/messages.hpp"

namespace setup {

namespace {

// The first failing step's message, or none when the install succeeded.
struct Outcome {
  std::optional<std::string> failure;
  bool work_directory_created = false;
};

Outcome install(Steps& steps, const std::string& work_directory, const std::string& shown_path) {
  if (auto created = steps.create_work_directory(work_directory); !created) {
    return {messages::temp_dir_failed(shown_path, platform::error_text(created.error())), false};
  }
  steps.print_stdout({messages::extracting_to, shown_path, messages::line_end});

  if (auto opened = steps.open_archive(); !opened) {
    return {messages::payload_unreadable(opened.error().reason_text()), true};
  }
  if (auto extracted = steps.extract_all(work_directory); !extracted) {
    return {messages::extraction_failed(extracted.error().reason_text()), true};
  }
  const auto script = steps.locate_installer_script(work_directory);
  if (!script) return {messages::no_installer_script(), true};

  steps.print_stdout({messages::running_installer});
  const auto exit_code = steps.run_installer_script(*script);
  if (!exit_code) return {messages::powershell_failed(platform::error_text(exit_code.error())), true};
  if (*exit_code != 0) return {messages::installer_exited(*exit_code), true};

  steps.print_stdout({messages::installed});
  steps.remove_work_directory(work_directory);
  return {std::nullopt, true};
}

}  // namespace

std::uint32_t run(Steps& steps, std::uint64_t payload_length) {
  steps.print_stdout({messages::banner});
  const std::string length = std::to_string(payload_length);
  steps.print_stdout({messages::payload_size_before, length, messages::payload_size_after});

  const std::string work_directory = steps.work_directory_path();
  const std::string shown_path = platform::display_text(work_directory);
  const Outcome outcome = install(steps, work_directory, shown_path);

  if (outcome.failure) {
    if (outcome.work_directory_created) {
      steps.print_stderr({messages::payload_left_before, shown_path, messages::payload_left_after});
    }
    steps.print_stderr({messages::failure_before, *outcome.failure, messages::line_end});
    steps.print_stdout({messages::press_enter});
    steps.flush_stdout();
    steps.read_stdin_line();
    return 1;
  }

  const bool home_window_opened = steps.launch_home_window();
  steps.print_stdout({messages::done});
  steps.print_stdout({home_window_opened ? messages::home_window_open : messages::open_from_start_menu});
  steps.print_stdout({messages::closes_soon});
  steps.flush_stdout();
  steps.sleep_for_seconds(close_out_seconds);
  return 0;
}

}  // namespace setup
