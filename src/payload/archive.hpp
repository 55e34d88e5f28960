// Opening the payload archive in place and extracting it safely below a destination.
#pragma once

#include <cstddef>
#include <expected>
#include <memory>
#include <span>
#include <string_view>

#include "payload/archive_error.hpp"

namespace payload {

struct ArchiveState;  // the ZIP library's part, which stays inside this layer
struct Entry;

// An open archive over a borrowed byte span; the span must outlive it.
class Archive {
 public:
  Archive(Archive&&) noexcept;
  Archive& operator=(Archive&&) noexcept;
  ~Archive();

 private:
  friend std::expected<Archive, ArchiveError> open_archive(std::span<const std::byte> bytes);
  friend std::expected<void, ArchiveError> extract_all(Archive& archive, std::string_view destination);
  friend std::span<const Entry> archive_entries(const Archive& archive);
  explicit Archive(std::unique_ptr<ArchiveState> state);
  std::unique_ptr<ArchiveState> state_;
};

[[nodiscard]] std::expected<Archive, ArchiveError> open_archive(std::span<const std::byte> bytes);
[[nodiscard]] std::expected<void, ArchiveError> extract_all(Archive& archive, std::string_view destination);
// What the archive lists, in central-directory order, as the extraction reads it.
std::span<const Entry> archive_entries(const Archive& archive);

}  // namespace payload
