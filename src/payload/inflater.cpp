#include "payload/inflater.hpp"

#include <isa-l/igzip_lib.h>
#include <zip.h>

#include <algorithm>
#include <limits>

#include "payload/libzip_error.hpp"

namespace payload {

namespace {
constexpr std::size_t max_output = std::numeric_limits<std::uint32_t>::max();  // ISA-L counts in 32 bits
}  // namespace

struct Inflater::State {
  inflate_state isal;
};

Inflater::Inflater(std::span<const std::byte> input, std::size_t input_step)
    : state_(std::make_unique<State>()), rest_(input), input_step_(std::max<std::size_t>(1, input_step)) {
  isal_inflate_init(&state_->isal);
  state_->isal.crc_flag = ISAL_GZIP_NO_HDR;  // raw DEFLATE, the CRC-32 of the output kept in `crc`
}
Inflater::Inflater(Inflater&&) noexcept = default;
Inflater& Inflater::operator=(Inflater&&) noexcept = default;
Inflater::~Inflater() = default;

std::expected<std::size_t, ArchiveError> Inflater::inflate(std::span<std::byte> out) {
  inflate_state& s = state_->isal;
  s.next_out = reinterpret_cast<std::uint8_t*>(out.data());
  s.avail_out = static_cast<std::uint32_t>(std::min(out.size(), max_output));
  while (s.avail_out > 0 && !ended_) {
    if (s.avail_in == 0 && !rest_.empty()) {
      const std::size_t step = std::min(rest_.size(), input_step_);
      s.next_in = const_cast<std::uint8_t*>(reinterpret_cast<const std::uint8_t*>(rest_.data()));
      s.avail_in = static_cast<std::uint32_t>(step);
      rest_ = rest_.subspan(step);
    }
    const std::uint32_t out_before = s.avail_out;
    const std::uint32_t in_before = s.avail_in;
    if (isal_inflate(&s) < 0) return std::unexpected(archive_error_from_libzip(ZIP_ER_COMPRESSED_DATA, 0));
    // ISA-L says nothing when its input runs out before the last block: a call that has room for
    // output and neither takes input nor gives output has nothing more to give.
    ended_ = s.block_state == ISAL_BLOCK_FINISH || (s.avail_out == out_before && s.avail_in == in_before);
  }
  return static_cast<std::size_t>(reinterpret_cast<std::byte*>(s.next_out) - out.data());
}

bool Inflater::complete() const {
  // ISA-L keeps up to eight bytes read ahead in its bit buffer: whole bytes there were not used.
  const inflate_state& s = state_->isal;
  return s.block_state == ISAL_BLOCK_FINISH && s.avail_in == 0 && rest_.empty() && s.read_in_length < 8;
}

std::uint32_t Inflater::crc32() const { return state_->isal.crc; }

}  // namespace payload
