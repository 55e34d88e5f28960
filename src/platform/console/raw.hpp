// The backend's part of the standard streams: one raw write or read on the current standard
// handle. The streams (console.cpp) own the locks, the buffers and the carries and hand the
// carries in; a backend without a UTF-16 console ignores them.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "platform/console/utf16_reader.hpp"
#include "platform/console/utf8_writer.hpp"
#include "platform/error.hpp"

namespace platform::raw {

enum class OutputStream { Stdout, Stderr };

// Writes a beginning of `bytes` (never empty) and gives its length.
[[nodiscard]] Result<std::size_t> write(OutputStream stream, std::string_view bytes, ConsoleUtf8Writer& console);
// Reads into `out` (never empty); 0 is the end of input.
[[nodiscard]] Result<std::size_t> read_stdin(std::span<char> out, ConsoleUtf16Reader& console);
// When standard input is a console: drops what is waiting in it and switches line input, echo and
// Ctrl+C processing on. Failures are ignored: the read that follows still works.
void discard_typed_ahead();

}  // namespace platform::raw
