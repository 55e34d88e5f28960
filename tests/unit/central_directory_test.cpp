// The raw walk of the central directory: the records as stored, and which end record is used.
#include <gtest/gtest.h>

#include "payload/central_directory.hpp"

#include <tuple>

#include "payload/zip_format.hpp"
#include "support/zip_builder.hpp"

namespace {

using payload::read_central_directory;
using test_support::build_zip;
using test_support::Zip;
using test_support::ZipEntry;
using test_support::ZipLayout;

std::vector<ZipEntry> two_entries() {
  ZipEntry a{.name = "bin\\zarvo.exe", .data = std::string(5000, 'x')};
  ZipEntry b{.name = "README.md", .data = "read me\n", .method = 0};
  return {a, b};
}

TEST(CentralDirectory, ReadsEveryRecordAsStored) {
  ZipEntry link = test_support::unix_link("l", "target");
  link.extra = test_support::aes_field();
  auto entries = two_entries();
  entries.push_back(link);
  const Zip zip = build_zip(entries);
  const auto directory = read_central_directory(zip.span());
  ASSERT_TRUE(directory.has_value());
  ASSERT_EQ(directory->records.size(), 3u);
  const auto& r = directory->records[0];
  EXPECT_EQ(r.name, "bin\\zarvo.exe");
  EXPECT_EQ(r.method, 8);
  EXPECT_EQ(r.flags, 0);
  EXPECT_EQ(r.version_made_by, 20);
  EXPECT_EQ(r.crc32, test_support::crc32_of(std::string(5000, 'x')));
  EXPECT_EQ(r.compressed_size, test_support::raw_deflate(std::string(5000, 'x')).size());
  EXPECT_EQ(r.uncompressed_size, 5000u);
  EXPECT_EQ(r.local_header_offset, 0u);
  EXPECT_EQ(r.external_attributes, 0u);
  EXPECT_EQ(r.extra, "");
  EXPECT_EQ(directory->records[1].name, "README.md");
  EXPECT_EQ(directory->records[1].method, 0);
  EXPECT_EQ(directory->records[2].version_made_by, (3 << 8) | 30);
  EXPECT_EQ(directory->records[2].external_attributes, 0120777u << 16);
  EXPECT_EQ(directory->records[2].extra, test_support::aes_field());
}

TEST(CentralDirectory, NameBytesComeUnchangedNulIncluded) {
  const Zip zip = build_zip({ZipEntry{.name = std::string("a\0b.txt", 7), .data = "x"}});
  const auto directory = read_central_directory(zip.span());
  ASSERT_TRUE(directory.has_value());
  EXPECT_EQ(directory->records[0].name, std::string("a\0b.txt", 7));
}

TEST(CentralDirectory, EndRecordIsFoundPastCommentsAndTrailingBytes) {
  const std::pair<std::string_view, ZipLayout> cases[] = {
      {"a comment", ZipLayout{.comment = "an archive comment"}},
      {"trailing bytes", ZipLayout{.after_end = std::string(1000, '\x07')}},
  };
  for (const auto& [name, layout] : cases) {
    SCOPED_TRACE(name);
    const auto directory = read_central_directory(build_zip(two_entries(), layout).span());
    ASSERT_TRUE(directory.has_value());
    EXPECT_EQ(directory->records.size(), 2u);
  }
}

std::string le(std::uint64_t value, int width);

// Entries lie back to back from the first byte to the directory; between them only the data
// descriptor that flag bit 3 announces, in any of its four forms, saying the record's values.
TEST(CentralDirectory, NothingButDataDescriptorsLiesBetweenEntries) {
  ZipEntry a{.name = "a.txt", .data = "streamed", .method = 0, .flags = 1 << 3};
  const std::string crc = le(test_support::crc32_of(a.data), 4), size = le(a.data.size(), 4);
  const std::string wide = le(a.data.size(), 8), signature = le(0x08074b50, 4);
  const std::pair<std::optional<std::string>, bool> cases[] = {
      {signature + crc + size + size, true},
      {crc + size + size, true},
      {signature + crc + wide + wide, true},
      {crc + wide + wide, true},
      {"", false},                                   // announced, missing
      {signature + le(7, 4) + size + size, false},   // another CRC-32
      {signature + crc + size + size + "x", false},  // a byte no entry owns
  };
  for (const auto& [descriptor, sound] : cases) {
    SCOPED_TRACE(descriptor->size());
    a.descriptor = descriptor;
    const ZipEntry b{.name = "b.txt", .data = "after", .method = 0};
    EXPECT_EQ(read_central_directory(build_zip({a, b}).span()).has_value(), sound);
  }
  ZipEntry plain{.name = "a.txt", .data = "x", .method = 0, .descriptor = "PK"};  // no flag: nothing after
  EXPECT_FALSE(read_central_directory(build_zip({plain}).span()).has_value());
}

TEST(CentralDirectory, ExtraFieldsAreFoundById) {
  const std::string extra = test_support::extra_field(0x5455, "abc") + test_support::extra_field(0x9901, "xy");
  EXPECT_EQ(payload::find_extra_field(extra, 0x9901), "xy");
  EXPECT_EQ(payload::find_extra_field(extra, 0x5455), "abc");
  EXPECT_EQ(payload::find_extra_field(extra, 0x7075), std::nullopt);
  EXPECT_EQ(payload::find_extra_field("", 0x9901), std::nullopt);
}

// ---- ZIP64 ----------------------------------------------------------------------------------------

std::string le(std::uint64_t value, int width) {
  std::string out;
  for (int i = 0; i < width; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
  return out;
}

void overwrite(std::string& bytes, std::size_t at, std::uint64_t value, int width) {
  bytes.replace(at, static_cast<std::size_t>(width), le(value, width));
}

// One stored entry of five bytes whose sizes and local header offset are all saturated in its
// central record and whose local header's sizes are saturated too: `zip64_values` is the ZIP64
// extra field's data, in both headers (the central record reads up to three values, uncompressed
// size, compressed size and offset, as far as its saturated fields need; the local header the
// first two).
Zip saturated_entry(const std::string& zip64_values, const ZipLayout& layout = {}) {
  namespace central = payload::zip_format::central_header;
  ZipEntry entry{.name = "a.txt", .data = "hello", .method = 0};
  entry.extra = test_support::extra_field(payload::extra_zip64, zip64_values);
  entry.uncompressed_size = 0xFFFFFFFF;
  entry.local_compressed_size = 0xFFFFFFFF;
  entry.local_uncompressed_size = 0xFFFFFFFF;
  Zip zip = build_zip({entry}, layout);
  overwrite(zip.bytes, zip.directory_offset + central::compressed_size, 0xFFFFFFFF, 4);
  overwrite(zip.bytes, zip.directory_offset + central::local_header_offset, 0xFFFFFFFF, 4);
  return zip;
}

TEST(CentralDirectory, SaturatedFieldsTakeTheirValuesFromTheZip64Field) {
  const Zip zip = saturated_entry(le(5, 8) + le(5, 8) + le(0, 8));
  const auto directory = read_central_directory(zip.span());
  ASSERT_TRUE(directory.has_value());
  ASSERT_EQ(directory->records.size(), 1u);
  const auto& r = directory->records[0];
  EXPECT_EQ(r.uncompressed_size, 5u);
  EXPECT_EQ(r.compressed_size, 5u);
  EXPECT_EQ(r.local_header_offset, 0u);
  EXPECT_EQ(r.data_offset, 30u + 5u + 4u + 24u);
  EXPECT_EQ(zip.bytes.substr(r.data_offset, 5), "hello");
}

TEST(CentralDirectory, Zip64ValuesThatAreMissingOrTooFewLeaveNoDirectory) {
  const std::pair<std::string_view, std::string> cases[] = {
      // The central record needs three values, the local header two.
      {"no values", ""},
      {"one value", le(5, 8)},
      {"two values", le(5, 8) + le(5, 8)},
      {"an offset that is no local header", le(5, 8) + le(5, 8) + le(1, 8)},
  };
  for (const auto& [what, values] : cases) {
    SCOPED_TRACE(what);
    EXPECT_EQ(read_central_directory(saturated_entry(values).span()),
              std::unexpected(payload::DirectoryFault::NoEndRecord));
  }
  // Saturated fields with no ZIP64 field at all.
  ZipEntry plain{.name = "a.txt", .data = "hello", .method = 0, .uncompressed_size = 0xFFFFFFFF};
  EXPECT_EQ(read_central_directory(build_zip({plain}).span()), std::unexpected(payload::DirectoryFault::NoEndRecord));
  // One value is all the central record needs, but the local header needs two.
  ZipEntry local_short{.name = "a.txt", .data = "hello", .method = 0,
                       .extra = test_support::extra_field(payload::extra_zip64, le(5, 8)),
                       .uncompressed_size = 0xFFFFFFFF, .local_compressed_size = 0xFFFFFFFF};
  EXPECT_EQ(read_central_directory(build_zip({local_short}).span()),
            std::unexpected(payload::DirectoryFault::NoEndRecord));
  // Local sizes saturated without a ZIP64 field in the local header: the central record is plain.
  ZipEntry local_only{.name = "a.txt", .data = "hello", .method = 0, .local_compressed_size = 0xFFFFFFFF};
  EXPECT_EQ(read_central_directory(build_zip({local_only}).span()),
            std::unexpected(payload::DirectoryFault::NoEndRecord));
}

TEST(CentralDirectory, AZip64EndRecordTheLocatorMissesIsNoEndRecord) {
  namespace locator = payload::zip_format::zip64_locator;
  namespace end64 = payload::zip_format::zip64_end_record;
  const Zip good = build_zip(two_entries(), {.zip64 = true});
  ASSERT_TRUE(read_central_directory(good.span()).has_value());
  const std::size_t locator_at = good.end_offset - locator::size;
  const std::size_t end64_at = locator_at - end64::size;
  const std::pair<std::string_view, std::pair<std::size_t, std::uint64_t>> cases[] = {
      {"past the locator", {locator_at + locator::end_offset, locator_at + 1}},
      {"overlapping the locator", {locator_at + locator::end_offset, end64_at + 1}},
      {"past the archive", {locator_at + locator::end_offset, std::uint64_t{1} << 40}},
      {"at something else", {locator_at + locator::end_offset, 0}},
  };
  for (const auto& [what, patch] : cases) {
    SCOPED_TRACE(what);
    Zip zip = good;
    overwrite(zip.bytes, patch.first, patch.second, 8);
    EXPECT_EQ(read_central_directory(zip.span()), std::unexpected(payload::DirectoryFault::NoEndRecord));
  }
}

TEST(CentralDirectory, EveryZip64FieldThatSpeaksOfDisksMakesTheArchiveMultiDisk) {
  namespace locator = payload::zip_format::zip64_locator;
  namespace end64 = payload::zip_format::zip64_end_record;
  const Zip good = build_zip(two_entries(), {.zip64 = true});
  const std::size_t locator_at = good.end_offset - locator::size;
  const std::size_t end64_at = locator_at - end64::size;
  const std::tuple<std::string_view, std::size_t, int> fields[] = {
      {"the locator's disk of the end record", locator_at + locator::end_disk, 4},
      {"the locator's number of disks", locator_at + locator::disks, 4},
      {"the record's own disk", end64_at + end64::disk, 4},
      {"the record's directory disk", end64_at + end64::directory_disk, 4},
      {"the record's entries on this disk", end64_at + end64::entries_on_disk, 8},
  };
  for (const auto& [what, at, width] : fields) {
    SCOPED_TRACE(what);
    Zip zip = good;
    overwrite(zip.bytes, at, 3, width);
    EXPECT_EQ(read_central_directory(zip.span()), std::unexpected(payload::DirectoryFault::MultiDisk));
  }
}

TEST(CentralDirectory, ExtraFieldsMustFillTheirSpaceExactlyOrEndInZeros) {
  const std::string field = test_support::extra_field(0x5455, "abc");
  EXPECT_TRUE(payload::for_each_extra_field(field + std::string(3, '\0'), [](std::uint16_t, std::string_view) {}));
  EXPECT_FALSE(payload::for_each_extra_field(field + "\x01", [](std::uint16_t, std::string_view) {}));
  // A field whose declared length runs past the end.
  EXPECT_FALSE(payload::for_each_extra_field(field.substr(0, field.size() - 1), [](std::uint16_t, std::string_view) {}));
  // A record with such a field is no record.
  ZipEntry entry{.name = "a.txt", .data = "x", .extra = field.substr(0, field.size() - 1)};
  EXPECT_EQ(read_central_directory(build_zip({entry}).span()), std::unexpected(payload::DirectoryFault::NoEndRecord));
}

}  // namespace
