#include "payload/entry.hpp"

#include "payload/entry_name.hpp"
#include "payload/entry_path.hpp"
#include <unordered_map>

#include "platform/path_chars.hpp"
#include "platform/windows_rules.hpp"

namespace payload {

namespace {
constexpr std::uint8_t host_unix = 3;
constexpr std::uint32_t unix_link_type = 0xA000;
}  // namespace

std::expected<Entry, ArchiveError> describe_entry(const CentralRecord& record) {
  Entry entry;
  auto name = decode_entry_name(record.name, (record.flags & flag_utf8) != 0, record.extra);
  if (!name) return std::unexpected(ArchiveError::invalid("Ambiguous file name"));
  entry.name = std::move(*name);
  entry.encrypted = (record.flags & flag_encrypted) != 0;
  entry.method = record.method;
  entry.aes = find_extra_field(record.extra, extra_aes).has_value();
  entry.crc32 = record.crc32;
  entry.compressed_size = record.compressed_size;
  entry.uncompressed_size = record.uncompressed_size;
  entry.data_offset = record.data_offset;
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

bool reach_one_path_twice(std::span<const Entry> entries) {
  // Every path reached so far, by key: whether it is a folder (true) or a file or link (false).
  std::unordered_map<std::string, bool> reached;
  for (const Entry& entry : entries) {
    const auto components = simplified_components(entry.name, Win32Names::Kept);
    if (!components) continue;
    const bool directory = entry_kind(entry) == EntryKind::Directory;
    std::string key;
    for (std::size_t k = 0; k < components->size(); ++k) {
      if (k > 0) key += '/';
      key += platform::windows_rules::file_name_key((*components)[k]);
      const bool folder = directory || k + 1 < components->size();
      const auto [at, inserted] = reached.try_emplace(key, folder);
      if (!inserted && !(folder && at->second)) return true;
    }
  }
  return false;
}

std::unordered_set<std::string_view> directory_entry_names(std::span<const Entry> entries) {
  std::unordered_set<std::string_view> names;
  for (const Entry& e : entries) {
    if (entry_kind(e) == EntryKind::Directory) names.insert(e.name);
  }
  return names;
}

bool link_is_directory(std::string_view target, const std::unordered_set<std::string_view>& directory_names,
                       const std::function<bool(std::string_view)>& is_directory) {
  if (directory_names.contains(target)) return true;
  // A UNC, device, verbatim or NT path is never looked up: the lookup alone would reach out to
  // another machine (offering it the user's credentials) or open a device.
  const bool separator_pair = target.size() >= 2 && platform::is_separator(target[0]) && platform::is_separator(target[1]);
  if (separator_pair || target.starts_with("\\??\\")) return false;
  return is_directory(target);
}

}  // namespace payload
