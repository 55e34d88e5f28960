#include "setup/messages.hpp"

namespace setup::messages {

std::string temp_dir_failed(std::string_view work_directory, std::string_view error) {
  return "temp dir " + std::string(work_directory) + ": " + std::string(error);
}

std::string payload_unreadable(std::string_view reason) {
  return "embedded payload is not a readable zip: " + std::string(reason);
}

std::string extraction_failed(std::string_view reason) { return "extracting payload: " + std::string(reason); }

std::string no_installer_script() {
  return "the payload carries no install.ps1 \u2014 this build is broken, not your machine";
}

std::string powershell_failed(std::string_view error) { return "starting powershell: " + std::string(error); }

std::string installer_exited(std::uint32_t exit_code) {
  return "the installer exited with " + signed_exit_code(exit_code) + " \u2014 its output above says why";
}

std::string signed_exit_code(std::uint32_t exit_code) {
  if (exit_code & 0x80000000u) {
    // The magnitude taken as unsigned, so the most negative value needs no special case.
    return "-" + std::to_string(0u - exit_code);
  }
  return std::to_string(exit_code);
}

}  // namespace setup::messages
