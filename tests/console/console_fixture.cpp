// A small program around the standard streams, started by the console tests with its streams
// redirected, closed or on a console. The first argument names what it does.
#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <cstdint>
#include <cstdio>
#include <source_location>
#include <string>
#include <string_view>

#include "platform/console/console.hpp"
#include "platform/fatal.hpp"
#include "platform/runtime.hpp"
#include "process/child.hpp"

namespace {

std::string_view mode;
std::string_view argument;  // what follows the mode

// The line as text a test can compare: printable ASCII as is, every other byte as \xNN.
std::string shown(std::string_view bytes) {
  std::string out;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x20 && b < 0x7F && b != '\\') {
      out += c;
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", b);
      out += hex;
    }
  }
  return out;
}

void report_read() {
  std::string line = "pre:";
  const auto read = platform::read_stdin_line(line);
  if (read) {
    platform::print_stdout({"read ", std::to_string(*read), " bytes, line \"", shown(line), "\"\n"});
  } else {
    platform::print_stdout({"read failed: ", platform::error_text(read.error()), ", line \"", shown(line), "\"\n"});
  }
}

// Ends the process without the exit's flush: whatever is still buffered is lost.
[[noreturn]] void end_without_flush() {
#if defined(_WIN32)
  ::TerminateProcess(::GetCurrentProcess(), 3);
#endif
  ::_exit(3);
}

std::uint32_t run() {
  if (mode == "messages") {
    // The shape of a failed run: lines built from pieces, the failure on standard error, the
    // prompt, the flush.
    platform::print_stdout({"Setup \xE2\x80\x94 payload of ", "1234", " bytes\n"});
    platform::print_stderr({"Setup failed \xE2\x80\x94 ", "see above", "\n"});
    platform::print_stdout("\nPress Enter to close.");
    (void)platform::flush_stdout();
    return 1;
  }
  if (mode == "unflushed") {
    platform::print_stdout({"line\n", "tail without line end"});
    return 7;
  }
  if (mode == "abandon") {
    platform::print_stdout("first line\n");
    platform::print_stdout({std::string(3000, 'x'), "\n"});
    platform::print_stdout("\nPress Enter to close.");
    end_without_flush();
  }
  if (mode == "read") {
    report_read();
    report_read();
    return 0;
  }
  if (mode == "prompt") {
    platform::print_stdout({"Setup \xE2\x80\x94 ", "console", "\n"});
    // One character reaching the console in two writes: its first byte, then the other two.
    platform::print_stderr({"\xE2", "\x80\x94", " split\n"});
    platform::print_stdout("\nPress Enter to close.");
    (void)platform::flush_stdout();
    report_read();
    return 1;
  }
  if (mode == "fatal") {
    // A fatal stop whose report is longer than one piece of the console road, with a character
    // across the end of the first piece (its second byte at offset 512): padding before the
    // dashes puts it there, whatever the lengths of the thread id and the location.
    const auto where = std::source_location::current();
    const std::size_t before = platform::fatal_report(platform::detail::current_thread_id(), where, "").size() - 1;
    const std::string padding((511 - before) % 3, '.');
    std::string dashes;
    for (int i = 0; i < 200; ++i) dashes += "\xE2\x80\x94";
    platform::fatal_stop(padding + dashes, where);
  }
#if defined(_WIN32)
  if (mode == "interrupted") {
    // The child (the argument) sends Ctrl+C and Ctrl+Break to the whole console while this waits
    // for it; well after the wait, Ctrl+C ends this as usual.
    (void)process::run_child(process::ChildCommand{std::string(argument), {}});
    platform::print_stdout("waited for the child\n");
    ::Sleep(3000);
    ::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
    ::Sleep(2000);
    platform::print_stdout("Ctrl+C after the wait was ignored\n");
    return 3;
  }
  if (mode == "console-info") {
    // Whether standard output is a console, and which output code page it has.
    DWORD console_mode = 0;
    const bool console = ::GetConsoleMode(::GetStdHandle(STD_OUTPUT_HANDLE), &console_mode) != 0;
    platform::print_stdout({console ? "console" : "no console", " ", std::to_string(::GetConsoleOutputCP()), "\n"});
    return 0;
  }
#endif
  platform::print_stderr({"console_fixture: unknown mode \"", mode, "\"\n"});
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  mode = argc > 1 ? argv[1] : "";
  argument = argc > 2 ? argv[2] : "";
  platform::start(run);
}
