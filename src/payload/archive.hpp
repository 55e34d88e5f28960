// Opening the payload archive in place and extracting it safely below a destination.
#pragma once

#include <cstddef>
#include <expected>
#include <memory>
#include <span>
#include <string_view>

#include "payload/archive_error.hpp"

namespace payload {

// An open archive over a borrowed byte span; the span must outlive it.
class Archive {
 public:
  Archive(Archive&&) noexcept;
  Archive& operator=(Archive&&) noexcept;
  ~Archive();
  struct State;
  explicit Archive(std::unique_ptr<State> state);
  State& state() { return *state_; }

 private:
  std::unique_ptr<State> state_;
};

std::expected<Archive, ArchiveError> open_archive(std::span<const std::byte> bytes);
std::expected<void, ArchiveError> extract_all(Archive& archive, std::string_view destination);

}  // namespace payload
