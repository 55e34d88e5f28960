// The standard-output line buffer against a plain model: no byte lost, duplicated or reordered;
// after every print nothing up to its last line end is held, and never more than the buffer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/console/line_buffer.hpp"

namespace {

// A handle that accepts as much of each write as the fuzzer says (at least one byte).
class ChoppyHandle final : public platform::RawWriter {
 public:
  ChoppyHandle(const std::uint8_t* limits, std::size_t count) : limits_(limits), count_(count) {}
  platform::Result<std::size_t> write(std::string_view bytes) override {
    std::size_t take = bytes.size();
    if (count_ > 0) {
      take = std::min<std::size_t>(take, 1 + limits_[next_++ % count_] * 8);
    }
    received.append(bytes.substr(0, take));
    return take;
  }
  std::string received;

 private:
  const std::uint8_t* limits_;
  std::size_t count_;
  std::size_t next_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  // The first byte says how many of the following bytes steer the handle; the rest is printed,
  // one piece per 0xFF-separated run (so pieces of every size, with and without line ends).
  const std::size_t steering = std::min<std::size_t>(data[0], size - 1);
  ChoppyHandle handle(data + 1, steering);
  platform::LineBuffer buffer;
  std::string printed;
  std::string piece;
  auto print = [&](const std::string& text) {
    if (!buffer.write(text, handle)) std::abort();
    printed += text;
    const std::string_view held = buffer.held();
    if (held.size() > platform::LineBuffer::capacity) std::abort();
    if (handle.received + std::string(held) != printed) std::abort();
    if (held.find('\n') != std::string_view::npos) std::abort();
  };
  for (std::size_t i = 1 + steering; i < size; ++i) {
    if (data[i] == 0xFF) {
      print(piece);
      piece.clear();
    } else {
      piece += static_cast<char>(data[i] == 0xFE ? '\n' : data[i]);
    }
  }
  print(piece);
  if (!buffer.write_out(handle) || !buffer.held().empty() || handle.received != printed) std::abort();
  return 0;
}
