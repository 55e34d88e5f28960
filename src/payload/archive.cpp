#include "payload/archive.hpp"

#include "payload/archive_state.hpp"
#include "payload/central_directory.hpp"

namespace payload {

Archive::Archive(std::unique_ptr<State> state) : state_(std::move(state)) {}
Archive::Archive(Archive&&) noexcept = default;
Archive& Archive::operator=(Archive&&) noexcept = default;
Archive::~Archive() = default;

namespace {

// The library read the same directory as our own walk: same count, same CRC-32 and sizes. Two
// readings of one archive that disagree mean an ambiguous archive, which is refused.
bool same_directory(zip_t* zip, const std::vector<CentralRecord>& records) {
  if (zip_get_num_entries(zip, 0) != static_cast<zip_int64_t>(records.size())) return false;
  for (std::size_t i = 0; i < records.size(); ++i) {
    zip_stat_t st;
    if (zip_stat_index(zip, i, 0, &st) != 0) return false;
    // The library leaves the CRC-32 of AES entries (AE-2) unset.
    constexpr auto needed = ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE;
    if ((st.valid & needed) != needed || st.size != records[i].uncompressed_size ||
        st.comp_size != records[i].compressed_size ||
        ((st.valid & ZIP_STAT_CRC) != 0 && st.crc != records[i].crc32)) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::expected<Archive, ArchiveError> open_archive(std::span<const std::byte> bytes) {
  auto records = read_central_directory(bytes);
  if (!records) {
    return std::unexpected(records.error() == DirectoryFault::MultiDisk
                               ? ArchiveError::invalid("Multi-disk ZIP files are not supported")
                               : ArchiveError::invalid("Could not find EOCD"));
  }

  zip_error_t error;
  zip_error_init(&error);
  // The library reads the bytes where they lie: no copy, no temporary file.
  zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
  if (source == nullptr) {
    auto failure = archive_error_from(&error);
    zip_error_fini(&error);
    return std::unexpected(std::move(failure));
  }
  // Without ZIP_CHECKCONS: the walk above already verified the local headers, and the library's
  // stricter check would refuse bytes after the end record's comment (and two records of one name).
  zip_t* zip = zip_open_from_source(source, ZIP_RDONLY, &error);
  if (zip == nullptr) {
    zip_source_free(source);
    auto failure = archive_error_from(&error);
    zip_error_fini(&error);
    return std::unexpected(std::move(failure));
  }
  zip_error_fini(&error);

  auto state = std::make_unique<Archive::State>();
  state->zip.reset(zip);
  if (!same_directory(zip, *records)) return std::unexpected(archive_error_from_libzip(ZIP_ER_INCONS, 0));
  state->entries.reserve(records->size());
  for (const CentralRecord& record : *records) state->entries.push_back(describe_entry(record));
  return Archive(std::move(state));
}

}  // namespace payload
