#include "payload/archive.hpp"

#include <algorithm>
#include <cstring>

#include "payload/archive_state.hpp"
#include "payload/central_directory.hpp"

namespace payload {

Archive::Archive(std::unique_ptr<ArchiveState> state) : state_(std::move(state)) {}
Archive::Archive(Archive&&) noexcept = default;
Archive& Archive::operator=(Archive&&) noexcept = default;
Archive::~Archive() = default;

std::span<const Entry> archive_entries(const Archive& archive) { return archive.state_->entries; }

namespace {

ArchiveError ambiguous() { return ArchiveError::invalid("Ambiguous central directory"); }

ArchiveError directory_error(DirectoryFault fault) {
  switch (fault) {
    case DirectoryFault::MultiDisk: return ArchiveError::invalid("Multi-disk ZIP files are not supported");
    case DirectoryFault::Ambiguous: return ambiguous();
    case DirectoryFault::TooManyEndRecords: return ArchiveError::invalid("Too many end records");
    case DirectoryFault::NoEndRecord: break;
  }
  return ArchiveError::invalid("Could not find EOCD");
}

int encryption_method(const CentralRecord& record) {
  if ((record.flags & flag_encrypted) == 0) return ZIP_EM_NONE;
  return (record.flags & flag_strong_encryption) != 0 ? ZIP_EM_UNKNOWN : ZIP_EM_TRAD_PKWARE;
}

// Whether the library read each record as the walk did: the same name bytes (the library shows a
// NUL as a space), method, encryption, sizes, CRC-32, host and attributes, and the same data: its
// first read of an entry's data must begin where the walk found that data, after the local header.
std::optional<ArchiveError> library_disagrees(zip_t* zip, LibraryView& view, const std::vector<CentralRecord>& records) {
  if (zip_get_num_entries(zip, 0) != static_cast<zip_int64_t>(records.size())) return ambiguous();
  for (std::size_t i = 0; i < records.size(); ++i) {
    const CentralRecord& record = records[i];
    zip_stat_t st;
    if (zip_stat_index(zip, i, ZIP_FL_ENC_RAW, &st) != 0) return archive_error_from(zip_get_error(zip));
    std::string name(record.name);
    std::ranges::replace(name, '\0', ' ');
    constexpr auto needed = ZIP_STAT_NAME | ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_CRC | ZIP_STAT_COMP_METHOD |
                            ZIP_STAT_ENCRYPTION_METHOD;
    if ((st.valid & needed) != needed || st.name != name || st.size != record.uncompressed_size ||
        st.comp_size != record.compressed_size || st.crc != record.crc32 ||
        st.comp_method != LibraryView::shown_method(record.method) ||
        st.encryption_method != encryption_method(record)) {
      return ambiguous();
    }
    zip_uint8_t host = 0;
    zip_uint32_t attributes = 0;
    if (zip_file_get_external_attributes(zip, i, 0, &host, &attributes) != 0) {
      return archive_error_from(zip_get_error(zip));
    }
    if (host != record.version_made_by >> 8 || attributes != record.external_attributes) return ambiguous();
    if (record.compressed_size == 0) continue;  // nothing of it is ever read
    zip_file_t* file = zip_fopen_index(zip, i, ZIP_FL_ENCRYPTED);
    if (file == nullptr) return archive_error_from(zip_get_error(zip));
    view.mark();
    std::byte first;
    const zip_int64_t read = zip_fread(file, &first, 1);
    zip_fclose(file);
    if (read != 1 || view.first_read_since_mark() != record.data_offset) return ambiguous();
  }
  return std::nullopt;
}

}  // namespace

std::expected<Archive, ArchiveError> open_archive(std::span<const std::byte> bytes) {
  const auto directory = read_central_directory(bytes);
  if (!directory) return std::unexpected(directory_error(directory.error()));

  auto state = std::make_unique<ArchiveState>();
  state->view = std::make_unique<LibraryView>(bytes, *directory);
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source = state->view->make_source(&error);
  zip_t* zip = source ? zip_open_from_source(source, ZIP_RDONLY, &error) : nullptr;
  if (zip == nullptr) {
    if (source) zip_source_free(source);
    auto failure = archive_error_from(&error);
    zip_error_fini(&error);
    return std::unexpected(std::move(failure));
  }
  zip_error_fini(&error);
  state->zip.reset(zip);

  if (auto disagreement = library_disagrees(zip, *state->view, directory->records)) {
    return std::unexpected(std::move(*disagreement));
  }
  state->entries.reserve(directory->records.size());
  state->data.reserve(directory->records.size());
  for (const CentralRecord& record : directory->records) {
    auto entry = describe_entry(record);
    if (!entry) return std::unexpected(std::move(entry.error()));
    if (kind_is_ambiguous(*entry)) return std::unexpected(ArchiveError::invalid("Ambiguous file type"));
    state->entries.push_back(std::move(*entry));
    state->data.push_back(bytes.subspan(record.data_offset, record.compressed_size));
  }
  // Readers keep the first, the last or both of two entries for one file: no one reading.
  if (reach_one_path_twice(state->entries)) return std::unexpected(ArchiveError::invalid("Duplicate file path"));
  return Archive(std::move(state));
}

}  // namespace payload
