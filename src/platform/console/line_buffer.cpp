#include "platform/console/line_buffer.hpp"

#include <algorithm>
#include <cstring>

namespace platform {

Result<void> write_all(RawWriter& raw, std::string_view bytes) {
  while (!bytes.empty()) {
    auto written = raw.write(bytes);
    if (!written) return std::unexpected(written.error());
    if (*written == 0) {
      return std::unexpected(PlatformError::message(ErrorKind::WriteZero, "failed to write whole buffer"));
    }
    bytes.remove_prefix(std::min(*written, bytes.size()));
  }
  return {};
}

Result<void> LineBuffer::write(std::string_view piece, RawWriter& raw) {
  const auto last_line_end = piece.rfind('\n');
  if (last_line_end == std::string_view::npos) {
    // A completed line still held (its write-out failed earlier) goes first, so that it is not
    // joined by text of a line that has not ended yet.
    if (size_ > 0 && bytes_[size_ - 1] == '\n') {
      if (auto r = write_out(raw); !r) return r;
    }
    return add(piece, raw);
  }
  const auto lines = piece.substr(0, last_line_end + 1);
  const auto tail = piece.substr(last_line_end + 1);
  if (size_ == 0) {
    if (auto r = write_all(raw, lines); !r) return r;
  } else {
    if (auto r = add(lines, raw); !r) return r;
    if (auto r = write_out(raw); !r) return r;
  }
  return add(tail, raw);
}

Result<void> LineBuffer::add(std::string_view piece, RawWriter& raw) {
  const std::size_t free = limit_ - size_;
  if (piece.size() > free) {
    if (auto r = write_out(raw); !r) return r;
  }
  if (piece.size() >= limit_) return write_all(raw, piece);
  // Here the piece fits: it was shorter than the free space, as long as it, or the buffer is empty.
  std::memcpy(bytes_.data() + size_, piece.data(), piece.size());
  size_ += piece.size();
  return {};
}

Result<void> LineBuffer::write_out(RawWriter& raw) {
  std::size_t done = 0;
  Result<void> result;
  while (done < size_) {
    auto written = raw.write(held().substr(done));
    if (!written) {
      result = std::unexpected(written.error());
      break;
    }
    if (*written == 0) {
      result = std::unexpected(PlatformError::message(ErrorKind::WriteZero, "failed to write the buffered data"));
      break;
    }
    done += std::min(*written, size_ - done);
  }
  std::memmove(bytes_.data(), bytes_.data() + done, size_ - done);
  size_ -= done;
  return result;
}

void LineBuffer::make_unbuffered() {
  size_ = 0;
  limit_ = 0;
}

}  // namespace platform
