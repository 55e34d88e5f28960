// The three standard streams: standard output line-buffered, standard error unbuffered,
// standard input read a line at a time. A failed print is a fatal stop.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

#include "platform/error.hpp"

namespace platform {

// Each piece goes to the stream in turn: the literal parts of a message and its values.
void print_stdout(std::initializer_list<std::string_view> pieces);
void print_stderr(std::initializer_list<std::string_view> pieces);
inline void print_stdout(std::string_view text) { print_stdout({text}); }
inline void print_stderr(std::string_view text) { print_stderr({text}); }

[[nodiscard]] Result<void> flush_stdout();
// Appends one line (with its line end) to `line`; gives the bytes read, 0 at the end of input.
[[nodiscard]] Result<std::size_t> read_stdin_line(std::string& line);
// Right before a question whose answer is the next line typed: when standard input is a console
// (a terminal), keys pressed before it was asked are dropped, and line input, echo and Ctrl+C are
// switched back on in case a child program left them off. Redirected input is left alone.
void discard_typed_ahead();

// Used by exit_process: writes out the buffer once, if no print holds the stream, and makes
// standard output unbuffered from then on.
void finish_stdout();

}  // namespace platform
