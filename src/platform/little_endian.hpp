// Little-endian fields of binary records (ZIP records, reparse data), read with bounds checks that
// cannot be skipped: a record of known size is taken whole, with one check, and its fields are then
// read at offsets checked against that size when the program is compiled.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace platform::little_endian {

// One record of `Size` bytes. Only `Bytes::record` makes one, after checking that it fits.
template <std::size_t Size>
class Record {
 public:
  template <std::size_t At>
  std::uint8_t u8() const {
    return static_cast<std::uint8_t>(read<At, 1>());
  }
  template <std::size_t At>
  std::uint16_t u16() const {
    return static_cast<std::uint16_t>(read<At, 2>());
  }
  template <std::size_t At>
  std::uint32_t u32() const {
    return static_cast<std::uint32_t>(read<At, 4>());
  }
  template <std::size_t At>
  std::uint64_t u64() const {
    return read<At, 8>();
  }

 private:
  friend class Bytes;
  explicit Record(const std::byte* data) : data_(data) {}

  template <std::size_t At, std::size_t Width>
  std::uint64_t read() const {
    static_assert(At + Width <= Size, "field beyond the record");
    std::uint64_t value = 0;
    for (std::size_t i = Width; i-- > 0;) value = (value << 8) | std::to_integer<std::uint8_t>(data_[At + i]);
    return value;
  }

  const std::byte* data_;
};

// A view of bytes from which records and runs of bytes are taken by offset.
class Bytes {
 public:
  using Offset = std::uint64_t;
  explicit Bytes(std::span<const std::byte> bytes) : bytes_(bytes) {}
  explicit Bytes(std::string_view bytes) : bytes_(reinterpret_cast<const std::byte*>(bytes.data()), bytes.size()) {}

  Offset size() const { return bytes_.size(); }
  bool fits(Offset at, Offset length) const { return at <= size() && length <= size() - at; }

  // The record of `Size` bytes at `at`, or none when it does not fit.
  template <std::size_t Size>
  std::optional<Record<Size>> record(Offset at) const {
    if (!fits(at, Size)) return std::nullopt;
    return Record<Size>(bytes_.data() + at);
  }
  // The `length` bytes at `at` as text, or none when they do not fit.
  std::optional<std::string_view> text(Offset at, Offset length) const {
    if (!fits(at, length)) return std::nullopt;
    return std::string_view(reinterpret_cast<const char*>(bytes_.data()) + at, static_cast<std::size_t>(length));
  }

 private:
  std::span<const std::byte> bytes_;
};

}  // namespace platform::little_endian
