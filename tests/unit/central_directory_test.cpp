// The raw walk of the central directory: the records as stored, and which end record is used.
#include <gtest/gtest.h>

#include "payload/central_directory.hpp"
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

TEST(CentralDirectory, EndRecordIsFoundPastCommentsTrailingBytesAndStraySignatures) {
  const std::pair<std::string_view, ZipLayout> cases[] = {
      {"a comment", ZipLayout{.comment = "an archive comment"}},
      {"trailing bytes", ZipLayout{.after_end = std::string(1000, '\x07')}},
      // A stray end signature in the trailing bytes leads nowhere and is passed over.
      {"a stray end signature", ZipLayout{.after_end = std::string("PK\x05\x06", 4) + std::string(30, '\xEE')}},
  };
  for (const auto& [name, layout] : cases) {
    SCOPED_TRACE(name);
    const auto directory = read_central_directory(build_zip(two_entries(), layout).span());
    ASSERT_TRUE(directory.has_value());
    EXPECT_EQ(directory->records.size(), 2u);
  }
}

TEST(CentralDirectory, ExtraFieldsAreFoundById) {
  const std::string extra = test_support::extra_field(0x5455, "abc") + test_support::extra_field(0x9901, "xy");
  EXPECT_EQ(payload::find_extra_field(extra, 0x9901), "xy");
  EXPECT_EQ(payload::find_extra_field(extra, 0x5455), "abc");
  EXPECT_EQ(payload::find_extra_field(extra, 0x7075), std::nullopt);
  EXPECT_EQ(payload::find_extra_field("", 0x9901), std::nullopt);
}

}  // namespace
