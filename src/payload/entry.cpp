#include "payload/entry.hpp"

#include <unordered_map>

#include "payload/entry_name.hpp"
#include "payload/entry_path.hpp"
#include "platform/path_chars.hpp"
#include "platform/utf8.hpp"
#include "platform/windows_rules.hpp"

namespace payload {

namespace {

constexpr std::uint8_t host_unix = 3;
// The file type in a Unix mode, and the MS-DOS directory attribute.
constexpr std::uint32_t unix_type_mask = 0xF000, unix_directory = 0x4000, unix_file = 0x8000, unix_link = 0xA000;
constexpr std::uint32_t dos_directory = 0x10, dos_volume_label = 0x08;

std::uint32_t unix_type(const Entry& entry) {
  return entry.host_system == host_unix ? (entry.external_attributes >> 16) & unix_type_mask : 0;
}

// Whether the local header names the entry otherwise: readers that take the name from the local
// header (bsdtar) read its Unicode-path field there, whatever the central record holds.
bool named_otherwise_locally(std::string_view local_extra, std::string_view name) {
  const auto field = find_extra_field(local_extra, extra_unicode_path);
  return field && (field->size() < 5 || platform::utf8::decode_lossy(field->substr(5)) != name);
}

}  // namespace

std::expected<Entry, ArchiveError> describe_entry(const CentralRecord& record) {
  Entry entry;
  auto name = decode_entry_name(record.name, (record.flags & flag_utf8) != 0, record.extra);
  if (!name || named_otherwise_locally(record.local_extra, *name)) {
    return std::unexpected(ArchiveError::invalid("Ambiguous file name"));
  }
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
  if (unix_type(entry) == unix_link) return EntryKind::Link;
  return denotes_directory(entry.name) ? EntryKind::Directory : EntryKind::File;
}

bool kind_is_ambiguous(const Entry& entry) {
  const bool named_directory = denotes_directory(entry.name);
  const bool dos_says_directory = (entry.external_attributes & dos_directory) != 0;
  if ((entry.external_attributes & dos_volume_label) != 0) return true;  // unzip skips a volume label
  switch (unix_type(entry)) {
    case unix_link: return false;
    case unix_directory: return !named_directory;
    case unix_file: return named_directory || dos_says_directory;
    case 0: return !named_directory && dos_says_directory;
    default: return true;  // a device, a pipe...
  }
}

bool reach_one_path_twice(std::span<const Entry> entries) {
  // Every path reached so far, one node each, found by its parent's node and its own key: whether
  // it is a folder, or a file or link. Keys are per component, so the work is linear in the names.
  struct Node {
    std::size_t id;
    bool folder;
  };
  std::unordered_map<std::string, Node> reached;
  for (const Entry& entry : entries) {
    const auto components = simplified_components(entry.name, Win32Names::Kept);
    if (!components) continue;
    const bool directory = entry_kind(entry) == EntryKind::Directory;
    std::size_t parent = 0;  // the base
    for (std::size_t k = 0; k < components->size(); ++k) {
      const bool folder = directory || k + 1 < components->size();
      std::string key = std::to_string(parent) + '/' + platform::windows_rules::file_name_key((*components)[k]);
      const auto [at, inserted] = reached.try_emplace(std::move(key), Node{reached.size() + 1, folder});
      if (!inserted && !(folder && at->second.folder)) return true;
      parent = at->second.id;
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
