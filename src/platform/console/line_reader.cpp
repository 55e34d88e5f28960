#include "platform/console/line_reader.hpp"

#include <algorithm>
#include <string_view>

#include "platform/utf8.hpp"

namespace platform {

Result<std::size_t> LineReader::read_line(std::string& line, RawReader& raw) {
  const std::size_t start = line.size();
  Result<void> status;
  for (;;) {
    if (begin_ == end_) {
      auto read = raw.read(buffer_);
      if (!read) {
        status = std::unexpected(read.error());
        break;
      }
      begin_ = 0;
      end_ = std::min(*read, buffer_.size());
      if (end_ == 0) break;
    }
    const std::string_view available(buffer_.data() + begin_, end_ - begin_);
    const auto line_end = available.find('\n');
    if (line_end != std::string_view::npos) {
      line.append(available.substr(0, line_end + 1));
      begin_ += line_end + 1;
      break;
    }
    line.append(available);
    begin_ = end_;
  }

  const std::size_t count = line.size() - start;
  if (!utf8::is_valid(std::string_view(line).substr(start))) {
    line.resize(start);
    if (!status) return std::unexpected(status.error());
    return std::unexpected(PlatformError::message(ErrorKind::InvalidData, invalid_utf8_input_message));
  }
  if (!status) return std::unexpected(status.error());
  return count;
}

}  // namespace platform
