#include "payload/library_view.hpp"

#include <algorithm>
#include <cstring>

#include "payload/zip_format.hpp"

namespace payload {

namespace {

namespace central = zip_format::central_header;
namespace end = zip_format::end_record;
namespace locator = zip_format::zip64_locator;
namespace end64 = zip_format::zip64_end_record;

// The library searches this much of the end for end records; zeros fill it, up to ours.
constexpr std::uint64_t library_search_window = end::max_comment + end::size + locator::size;

class Writer {
 public:
  explicit Writer(std::byte* out) : out_(out) {}
  void u16(std::uint64_t value) { put(value, 2); }
  void u32(std::uint64_t value) { put(value, 4); }
  void u64(std::uint64_t value) { put(value, 8); }
  std::size_t written() const { return written_; }

 private:
  void put(std::uint64_t value, int width) {
    for (int i = 0; i < width; ++i) out_[written_++] = static_cast<std::byte>((value >> (8 * i)) & 0xFF);
  }
  std::byte* out_;
  std::size_t written_ = 0;
};

std::array<std::byte, 2> bytes16(std::uint16_t value) {
  return {static_cast<std::byte>(value & 0xFF), static_cast<std::byte>(value >> 8)};
}

}  // namespace

std::uint16_t LibraryView::shown_method(std::uint16_t method) {
  return method == method_aes ? hidden_method : method;
}

LibraryView::LibraryView(std::span<const std::byte> archive, const CentralDirectory& directory)
    : prefix_(archive.first(static_cast<std::size_t>(directory.offset + directory.size))),
      tail_at_(prefix_.size() + library_search_window) {
  zip_error_init(&error_);
  const std::uint64_t entries = directory.records.size();
  Writer out(tail_.data());
  if (entries >= zip_format::saturated16 || directory.size >= zip_format::saturated32 ||
      directory.offset >= zip_format::saturated32) {
    out.u32(end64::signature);
    out.u64(end64::size - 12);  // the record's size after this field
    out.u16(45);                // made by and needed: version 4.5, ZIP64
    out.u16(45);
    out.u32(0);  // this disk and the directory's
    out.u32(0);
    out.u64(entries);
    out.u64(entries);
    out.u64(directory.size);
    out.u64(directory.offset);
    out.u32(locator::signature);
    out.u32(0);
    out.u64(tail_at_);
    out.u32(1);  // disks in all
    out.u32(end::signature);
    out.u16(0);
    out.u16(0);
    out.u16(zip_format::saturated16);
    out.u16(zip_format::saturated16);
    out.u32(zip_format::saturated32);
    out.u32(zip_format::saturated32);
    out.u16(0);
  } else {
    out.u32(end::signature);
    out.u16(0);
    out.u16(0);
    out.u16(entries);
    out.u16(entries);
    out.u32(directory.size);
    out.u32(directory.offset);
    out.u16(0);  // no comment
  }
  tail_size_ = out.written();

  for (const CentralRecord& record : directory.records) {
    if (record.flags & flag_utf8) {
      patches_.push_back({record.offset + central::flags, bytes16(record.flags & ~flag_utf8)});
    }
    if (record.method != shown_method(record.method)) {
      patches_.push_back({record.offset + central::method, bytes16(shown_method(record.method))});
    }
    const std::uint64_t extra_at = record.offset + central::size + record.name.size();
    for_each_extra_field(record.extra, [&](std::uint16_t id, std::string_view data) {
      if (id != extra_unicode_path) return;
      const auto field_at = static_cast<std::uint64_t>(data.data() - record.extra.data()) - 4;
      patches_.push_back({extra_at + field_at, bytes16(hidden_extra_field)});
    });
  }
}

LibraryView::~LibraryView() { zip_error_fini(&error_); }

zip_source_t* LibraryView::make_source(zip_error_t* error) { return zip_source_function_create(callback, this, error); }

std::uint64_t LibraryView::size() const { return tail_at_ + tail_size_; }

std::uint64_t LibraryView::read(std::byte* into, std::uint64_t length) {
  const std::uint64_t from = position_;
  const std::uint64_t to = from + std::min(length, size() - std::min(from, size()));
  if (to > from && !first_read_) first_read_ = from;
  for (std::uint64_t at = from; at < to;) {
    std::uint64_t next;
    if (at < prefix_.size()) {
      next = std::min<std::uint64_t>(to, prefix_.size());
      std::memcpy(into + (at - from), prefix_.data() + at, next - at);
    } else if (at < tail_at_) {
      next = std::min(to, tail_at_);
      std::memset(into + (at - from), 0, next - at);
    } else {
      next = to;
      std::memcpy(into + (at - from), tail_.data() + (at - tail_at_), next - at);
    }
    at = next;
  }
  // Patches are two bytes long; one may straddle either end of the read.
  auto patch = std::ranges::lower_bound(patches_, from > 0 ? from - 1 : 0, {}, &Patch::at);
  for (; patch != patches_.end() && patch->at < to; ++patch) {
    for (std::uint64_t k = 0; k < 2; ++k) {
      if (patch->at + k >= from && patch->at + k < to) into[patch->at + k - from] = patch->bytes[k];
    }
  }
  position_ = to;
  return to - from;
}

zip_int64_t LibraryView::callback(void* self, void* data, zip_uint64_t length, zip_source_cmd_t command) {
  LibraryView& view = *static_cast<LibraryView*>(self);
  switch (command) {
    case ZIP_SOURCE_OPEN:
      view.position_ = 0;
      return 0;
    case ZIP_SOURCE_READ:
      return static_cast<zip_int64_t>(view.read(static_cast<std::byte*>(data), length));
    case ZIP_SOURCE_CLOSE:
    case ZIP_SOURCE_FREE:
      return 0;
    case ZIP_SOURCE_STAT: {
      auto* stat = static_cast<zip_stat_t*>(data);
      zip_stat_init(stat);
      stat->size = view.size();
      stat->valid |= ZIP_STAT_SIZE;
      return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_ERROR:
      return zip_error_to_data(&view.error_, data, length);
    case ZIP_SOURCE_SEEK: {
      const zip_int64_t to = zip_source_seek_compute_offset(view.position_, view.size(), data, length, &view.error_);
      if (to < 0) return -1;
      view.position_ = static_cast<std::uint64_t>(to);
      return 0;
    }
    case ZIP_SOURCE_TELL:
      return static_cast<zip_int64_t>(view.position_);
    case ZIP_SOURCE_SUPPORTS:
      return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                            ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL,
                                            ZIP_SOURCE_SUPPORTS, -1);
    default:
      zip_error_set(&view.error_, ZIP_ER_OPNOTSUPP, 0);
      return -1;
  }
}

}  // namespace payload
