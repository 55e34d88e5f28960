// The ZIP records the setup reads or writes itself: signatures, sizes and field offsets.
#pragma once

#include <cstddef>
#include <cstdint>

namespace payload::zip_format {

namespace local_header {
inline constexpr std::uint32_t signature = 0x04034b50;
inline constexpr std::size_t size = 30;
inline constexpr std::size_t flags = 6, method = 8, crc32 = 14, compressed_size = 18, uncompressed_size = 22,
                             name_length = 26, extra_length = 28;
}  // namespace local_header

namespace central_header {
inline constexpr std::uint32_t signature = 0x02014b50;
inline constexpr std::size_t size = 46;
inline constexpr std::size_t version_made_by = 4, flags = 8, method = 10, crc32 = 16, compressed_size = 20,
                             uncompressed_size = 24, name_length = 28, extra_length = 30, comment_length = 32,
                             external_attributes = 38, local_header_offset = 42;
}  // namespace central_header

namespace end_record {
inline constexpr std::uint32_t signature = 0x06054b50;
inline constexpr std::size_t size = 22;
inline constexpr std::size_t disk = 4, directory_disk = 6, entries_on_disk = 8, entries = 10, directory_size = 12,
                             directory_offset = 16, comment_length = 20;
inline constexpr std::size_t max_comment = 0xFFFF;
}  // namespace end_record

namespace zip64_locator {
inline constexpr std::uint32_t signature = 0x07064b50;
inline constexpr std::size_t size = 20;
inline constexpr std::size_t end_disk = 4, end_offset = 8, disks = 16;
}  // namespace zip64_locator

namespace zip64_end_record {
inline constexpr std::uint32_t signature = 0x06064b50;
inline constexpr std::size_t size = 56;
inline constexpr std::size_t record_size = 4, version_made_by = 12, version_needed = 14, disk = 16,
                             directory_disk = 20, entries_on_disk = 24, entries = 32, directory_size = 40,
                             directory_offset = 48;
}  // namespace zip64_end_record

// A 32-bit size or offset of this value, or a 16-bit count of 0xFFFF, is found in the ZIP64 record.
inline constexpr std::uint32_t saturated32 = 0xFFFFFFFF;
inline constexpr std::uint16_t saturated16 = 0xFFFF;

}  // namespace payload::zip_format
