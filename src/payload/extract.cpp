#include <memory>
#include <optional>
#include <string>
#include <unordered_set>

#include "payload/archive.hpp"
#include "payload/archive_state.hpp"
#include "payload/entry_path.hpp"
#include "platform/fs.hpp"
#include "platform/path.hpp"
#include "platform/utf8.hpp"

namespace payload {

namespace {

// Large enough that the per-call costs of inflating and writing vanish, small enough that the
// chunk is still in the cache when the system copies it out (measured: 1 MiB and more cost up
// to twice the system time of 256 KiB). A file is never held whole.
constexpr std::size_t chunk_size = 256 * 1024;
// The payload holds no links; a target longer than any the system can store is refused as soon
// as it passes this bound, so a crafted entry cannot fill memory.
constexpr std::size_t max_link_target = 64 * 1024;

ArchiveError io(const platform::PlatformError& error) { return ArchiveError::io(platform::error_text(error)); }

// A link met on the way is never followed or written through; its target only decides the text.
ArchiveError refuse_link(const std::string& path) {
  const auto target = platform::read_link(path);
  if (!target) return io(target.error());
  return simplified_components(*target) ? ArchiveError::invalid("Invalid base path")
                                        : ArchiveError::invalid("Invalid symlink target path");
}

// Walks the components from the base, creating missing folders on the way (not the last
// component), and gives the output path. Every path on the way must lie below the base before
// anything is asked or made of it: the name rule already sees to that, and this check keeps it
// so whatever the system's join would make of a component.
std::expected<std::string, ArchiveError> walk(const std::string& base, const std::vector<std::string>& components) {
  std::string path = base;
  for (std::size_t k = 0; k < components.size(); ++k) {
    path = platform::join_path(path, components[k]);
    if (!platform::lies_below(base, path)) return std::unexpected(ArchiveError::invalid("Invalid file path"));
    const auto status = platform::link_status(path);
    if (!status) {
      if (status.error().kind() != platform::ErrorKind::NotFound) return std::unexpected(io(status.error()));
      if (k + 1 < components.size()) {
        if (auto made = platform::create_directory_all(path); !made) return std::unexpected(io(made.error()));
      }
      continue;
    }
    if (status->kind == platform::FileKind::Link) return std::unexpected(refuse_link(path));
  }
  return path;
}

std::expected<void, ArchiveError> extract_file(const ArchiveState& archive, std::size_t index,
                                               const std::string& path, std::span<std::byte> chunk) {
  auto file = platform::create_file(path);
  if (!file) return std::unexpected(io(file.error()));
  auto reader = EntryReader::open(archive, index);
  for (;;) {
    const auto n = reader.read(chunk);
    if (!n) return std::unexpected(n.error());
    if (*n == 0) break;
    if (auto written = platform::write_file(*file, chunk.first(*n)); !written) {
      return std::unexpected(io(written.error()));
    }
  }
  platform::close_file(std::move(*file));
  return {};
}

std::expected<std::string, ArchiveError> read_link_target(const ArchiveState& archive, std::size_t index) {
  auto reader = EntryReader::open(archive, index);
  std::string target;
  std::byte piece[4096];
  for (;;) {
    const auto n = reader.read(piece);
    if (!n) return std::unexpected(n.error());
    if (*n == 0) return target;
    if (target.size() + *n > max_link_target) return std::unexpected(ArchiveError::invalid("Symlink target too long"));
    target.append(reinterpret_cast<const char*>(piece), *n);
  }
}

std::expected<void, ArchiveError> extract_link(const ArchiveState& archive, std::size_t index,
                                               const std::string& path,
                                               const std::unordered_set<std::string_view>& directory_names) {
  const auto target = read_link_target(archive, index);
  if (!target) return std::unexpected(target.error());
  if (!platform::utf8::is_valid(*target)) return std::unexpected(ArchiveError::invalid("Invalid UTF-8 as symlink target"));
  const bool directory = link_is_directory(*target, directory_names, [](std::string_view t) {
    const auto status = platform::path_status(t);
    return status && status->kind == platform::FileKind::Directory;
  });
  if (auto made = platform::create_link(*target, path, directory); !made) return std::unexpected(io(made.error()));
  return {};
}

}  // namespace

std::expected<void, ArchiveError> extract_all(Archive& archive, std::string_view destination) {
  if (auto made = platform::create_directory_all(destination); !made) return std::unexpected(io(made.error()));
  const auto base = platform::resolve_path(destination);
  if (!base) return std::unexpected(io(base.error()));

  ArchiveState& state = *archive.state_;
  std::unique_ptr<std::byte[]> chunk;
  std::optional<std::unordered_set<std::string_view>> directory_names;  // made at the first link
  for (std::size_t i = 0; i < state.entries.size(); ++i) {
    const Entry& entry = state.entries[i];
    if (auto refusal = entry_refusal(entry)) return std::unexpected(*refusal);
    const auto components = simplified_components(entry.name);
    if (!components) return std::unexpected(ArchiveError::invalid("Invalid file path"));
    const auto output = walk(*base, *components);
    if (!output) return std::unexpected(output.error());

    switch (entry_kind(entry)) {
      case EntryKind::Link:
        if (!directory_names) directory_names = directory_entry_names(state.entries);
        if (auto done = extract_link(state, i, *output, *directory_names); !done) return done;
        break;
      case EntryKind::Directory:
        if (auto made = platform::create_directory_all(*output); !made) return std::unexpected(io(made.error()));
        break;
      case EntryKind::File:
        if (!chunk) chunk = std::make_unique_for_overwrite<std::byte[]>(chunk_size);
        if (auto done = extract_file(state, i, *output, {chunk.get(), chunk_size}); !done) return done;
        break;
    }
  }
  return {};
}

}  // namespace payload
