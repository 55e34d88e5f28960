#include "platform/console/console.hpp"

#include <atomic>
#include <mutex>

#include "platform/console/raw.hpp"
#include "platform/runtime.hpp"
#include "platform/console/std_handle.hpp"
#include "platform/console/line_reader.hpp"
#include "platform/console/line_buffer.hpp"

namespace platform {

namespace {

struct OutputStreamState {
  std::recursive_mutex lock;
  LineBuffer buffer;
  ConsoleUtf8Writer console;
};

struct ErrorStreamState {
  std::recursive_mutex lock;
  ConsoleUtf8Writer console;
};

struct InputStreamState {
  std::mutex lock;
  LineReader buffer;
  ConsoleUtf16Reader console;
};

class StreamWriter final : public RawWriter {
 public:
  StreamWriter(raw::OutputStream stream, ConsoleUtf8Writer& console) : stream_(stream), console_(console) {}
  Result<std::size_t> write(std::string_view bytes) override {
    if (bytes.empty()) return 0;
    return count_missing_as_written(raw::write(stream_, bytes, console_), bytes.size());
  }

 private:
  raw::OutputStream stream_;
  ConsoleUtf8Writer& console_;
};

class StdinReader final : public RawReader {
 public:
  explicit StdinReader(ConsoleUtf16Reader& console) : console_(console) {}
  Result<std::size_t> read(std::span<char> out) override {
    if (out.empty()) return 0;
    return count_missing_as_end(raw::read_stdin(out, console_));
  }

 private:
  ConsoleUtf16Reader& console_;
};

// The streams are set up on first use and never torn down: prints may come from the very end
// of the process, after static destructors would have run.
std::atomic<OutputStreamState*> stdout_set_up{nullptr};

OutputStreamState& stdout_state() {
  static OutputStreamState* const state = [] {
    auto* created = new OutputStreamState;
    stdout_set_up.store(created);
    return created;
  }();
  return *state;
}

ErrorStreamState& stderr_state() {
  static ErrorStreamState* const state = new ErrorStreamState;
  return *state;
}

InputStreamState& stdin_state() {
  static InputStreamState* const state = new InputStreamState;
  return *state;
}

}  // namespace

void print_stdout(std::initializer_list<std::string_view> pieces) {
  auto& stream = stdout_state();
  Result<void> result;
  {
    std::lock_guard guard(stream.lock);
    StreamWriter writer(raw::OutputStream::Stdout, stream.console);
    for (const auto piece : pieces) {
      result = stream.buffer.write(piece, writer);
      if (!result) break;
    }
  }
  // Stopped outside the lock, so that the exit's flush can take it.
  if (!result) fatal_stop("failed printing to stdout: " + error_text(result.error()));
}

void print_stderr(std::initializer_list<std::string_view> pieces) {
  auto& stream = stderr_state();
  Result<void> result;
  {
    std::lock_guard guard(stream.lock);
    StreamWriter writer(raw::OutputStream::Stderr, stream.console);
    for (const auto piece : pieces) {
      result = write_all(writer, piece);
      if (!result) break;
    }
  }
  if (!result) fatal_stop("failed printing to stderr: " + error_text(result.error()));
}

Result<void> flush_stdout() {
  auto& stream = stdout_state();
  std::lock_guard guard(stream.lock);
  StreamWriter writer(raw::OutputStream::Stdout, stream.console);
  return stream.buffer.write_out(writer);
}

Result<std::size_t> read_stdin_line(std::string& line) {
  auto& stream = stdin_state();
  std::lock_guard guard(stream.lock);
  StdinReader reader(stream.console);
  return stream.buffer.read_line(line, reader);
}

void discard_typed_ahead() {
  // The setup reads nothing before its question, so its own read buffer holds nothing typed.
  std::lock_guard guard(stdin_state().lock);
  raw::discard_typed_ahead();
}

void finish_stdout() {
  static std::atomic<bool> finished{false};
  if (finished.exchange(true)) return;
  auto* stream = stdout_set_up.load();
  if (stream == nullptr) return;
  // A thread in the middle of a print keeps its text: nothing is written then.
  std::unique_lock guard(stream->lock, std::try_to_lock);
  if (!guard.owns_lock()) return;
  StreamWriter writer(raw::OutputStream::Stdout, stream->console);
  (void)stream->buffer.write_out(writer);
  stream->buffer.make_unbuffered();
}

}  // namespace platform
