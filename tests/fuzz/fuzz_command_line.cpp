// build_command_line against a reference reader of the Windows argument rules: every argument
// list must come back exactly as it went in.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/text.hpp"
#include "process/command_line.hpp"

namespace {

// The rules by which Windows programs split their command line (CommandLineToArgvW), for the
// arguments after the program name: 2n backslashes and a quote give n backslashes and toggle
// quoting; 2n+1 and a quote give n and a literal quote; other backslashes are literal; a space or
// tab outside quotes ends an argument.
std::vector<std::u16string> read_arguments(std::u16string_view line) {
  std::size_t i = 0;
  // The program name: up to the closing quote when it starts with one, else up to white space.
  if (i < line.size() && line[i] == u'"') {
    i = line.find(u'"', 1);
    i = i == std::u16string_view::npos ? line.size() : i + 1;
  } else {
    while (i < line.size() && line[i] != u' ' && line[i] != u'\t') ++i;
  }
  std::vector<std::u16string> args;
  for (;;) {
    while (i < line.size() && (line[i] == u' ' || line[i] == u'\t')) ++i;
    if (i >= line.size()) break;
    std::u16string arg;
    bool quoted = false;
    while (i < line.size()) {
      const char16_t c = line[i];
      if (c == u'\\') {
        std::size_t n = 0;
        while (i < line.size() && line[i] == u'\\') ++n, ++i;
        if (i < line.size() && line[i] == u'"') {
          arg.append(n / 2, u'\\');
          if (n % 2) {
            arg += u'"';
            ++i;
          }
        } else {
          arg.append(n, u'\\');
        }
      } else if (c == u'"') {
        quoted = !quoted;
        ++i;
      } else if (!quoted && (c == u' ' || c == u'\t')) {
        break;
      } else {
        arg += c;
        ++i;
      }
    }
    args.push_back(std::move(arg));
  }
  return args;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Arguments are the input's NUL-separated pieces (NUL itself is refused before any quoting).
  std::vector<std::string> args;
  std::string current;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.push_back(std::move(current));
      current.clear();
    } else {
      current += static_cast<char>(data[i]);
    }
  }
  if (size > 0) args.push_back(std::move(current));

  const auto line = process::build_command_line<char16_t>("powershell", args);
  if (!line) std::abort();
  std::u16string_view text(*line);
  if (!text.empty() && text.back() == u'\0') text.remove_suffix(1);
  const auto back = read_arguments(text);
  if (back.size() != args.size()) std::abort();
  for (std::size_t k = 0; k < args.size(); ++k) {
    if (back[k] != platform::to_utf16_unchecked(args[k])) std::abort();
  }
  return 0;
}
