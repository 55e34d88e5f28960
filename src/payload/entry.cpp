#include "payload/entry.hpp"

#include "payload/entry_name.hpp"
#include "payload/entry_path.hpp"
#include "platform/path_chars.hpp"

namespace payload {

namespace {
constexpr std::uint8_t host_unix = 3;
constexpr std::uint32_t unix_link_type = 0xA000;
}  // namespace

Entry describe_entry(const CentralRecord& record) {
  Entry entry;
  entry.name = decode_entry_name(record.name, (record.flags & flag_utf8) != 0, record.extra);
  entry.encrypted = (record.flags & flag_encrypted) != 0;
  entry.method = record.method;
  entry.aes = find_extra_field(record.extra, extra_aes).has_value();
  entry.crc32 = record.crc32;
  entry.compressed_size = record.compressed_size;
  entry.uncompressed_size = record.uncompressed_size;
  entry.host_system = static_cast<std::uint8_t>(record.version_made_by >> 8);
  entry.external_attributes = record.external_attributes;
  return entry;
}

std::optional<ArchiveError> entry_refusal(const Entry& entry) {
  if (entry.encrypted) return ArchiveError::unsupported("Password required to decrypt file");
  if (entry.method != method_stored && entry.method != method_deflate) {
    return ArchiveError::unsupported("Compression method not supported");
  }
  if (entry.aes) return ArchiveError::wrong_password();
  return std::nullopt;
}

EntryKind entry_kind(const Entry& entry) {
  const std::uint32_t mode = entry.external_attributes >> 16;
  if (entry.host_system == host_unix && entry.external_attributes != 0 &&
      (mode & unix_link_type) == unix_link_type) {
    return EntryKind::Link;
  }
  return denotes_directory(entry.name) ? EntryKind::Directory : EntryKind::File;
}

bool link_is_directory(std::string_view target, std::span<const Entry> entries,
                       const std::function<bool(std::string_view)>& is_directory) {
  for (const Entry& e : entries) {
    if (e.name == target && entry_kind(e) == EntryKind::Directory) return true;
  }
  // A UNC, device, verbatim or NT path is never looked up: the lookup alone would reach out to
  // another machine (offering it the user's credentials) or open a device.
  const bool separator_pair = target.size() >= 2 && platform::is_separator(target[0]) && platform::is_separator(target[1]);
  if (separator_pair || target.starts_with("\\??\\")) return false;
  return is_directory(target);
}

}  // namespace payload
