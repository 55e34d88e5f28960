// Every text the setup prints itself. Line ends are bare line feeds; the long dash is U+2014.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace setup::messages {

inline constexpr std::string_view banner = "zarvo-setup \u2014 installing zarvo\n";
inline constexpr std::string_view payload_size_before = "payload: ";
inline constexpr std::string_view payload_size_after = " bytes, embedded and signed with this installer\n\n";
inline constexpr std::string_view extracting_to = "extracting to ";
inline constexpr std::string_view running_installer = "running the payload's installer\n\n";
inline constexpr std::string_view installed =
    "\nzarvo is installed. A NEW terminal (the PATH change needs one) has: zarvo status\n";
inline constexpr std::string_view done =
    "\nDone. zarvo and zarvod are installed; zarvod starts at every logon on its own.\n";
inline constexpr std::string_view open_from_start_menu =
    "Open Zarvo from the Start menu to see what was installed and what to do next.\n";
inline constexpr std::string_view home_window_open =
    "The Zarvo window is open on Home - it lists what was installed and what to do next.\n";
inline constexpr std::string_view closes_soon = "This window closes in 15 seconds.\n";
inline constexpr std::string_view payload_left_before = "(payload left at ";
inline constexpr std::string_view payload_left_after = " for inspection)\n";
inline constexpr std::string_view failure_before = "\nzarvo-setup: ";
inline constexpr std::string_view line_end = "\n";
inline constexpr std::string_view press_enter = "\nPress Enter to close.";

// The failure messages, each without a line end.
std::string temp_dir_failed(std::string_view work_directory, std::string_view error);
std::string payload_unreadable(std::string_view reason);
std::string extraction_failed(std::string_view reason);
std::string no_installer_script();
std::string powershell_failed(std::string_view error);
std::string installer_exited(std::uint32_t exit_code);

// A 32-bit exit code read as signed: 4294967295 is "-1", 0x80000000 is "-2147483648".
std::string signed_exit_code(std::uint32_t exit_code);

}  // namespace setup::messages
