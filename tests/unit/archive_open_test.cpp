// Opening the archive in place: which archives open, and the reason texts of those that do not.
#include <gtest/gtest.h>

#include "payload/archive.hpp"
#include "support/zip_builder.hpp"

namespace {

using test_support::build_zip;
using test_support::Zip;
using test_support::ZipEntry;
using test_support::ZipLayout;

std::vector<ZipEntry> entries() {
  return {ZipEntry{.name = "bin\\zarvo.exe", .data = std::string(3000, 'z')},
          ZipEntry{.name = "install.ps1", .data = "Write-Host hi\r\n", .method = 0}};
}

std::string open_failure(const Zip& zip) {
  auto archive = payload::open_archive(zip.span());
  return archive ? "opened" : archive.error().reason_text();
}

TEST(OpenArchive, SoundArchivesOpen) {
  ZipEntry aes_encrypted{.name = "secret", .data = "x", .method = 99, .flags = 1};
  aes_encrypted.compressed = std::string(30, 'A');
  aes_encrypted.extra = test_support::aes_field();
  ZipEntry nul_name{.name = std::string("a\0b", 3), .data = "x"};
  ZipEntry bzip2{.name = "b", .data = "x", .method = 12};
  for (const Zip& zip : {
           build_zip(entries()),
           build_zip(entries(), {.comment = "comment"}),
           build_zip(entries(), {.after_end = "trailing bytes after the end record"}),
           build_zip(entries(), {.zip64 = true}),
           build_zip({}),
           build_zip({aes_encrypted, nul_name, bzip2}),
       }) {
    EXPECT_EQ(open_failure(zip), "opened");
  }
}

void put32(std::string& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

TEST(OpenArchive, NoUsableEndRecordAndDamagedDirectoriesAreOneFailure) {
  const Zip good = build_zip(entries());
  Zip broken_directory = good;
  broken_directory.bytes[good.directory_offset + 1] = 'Q';
  Zip broken_local = good;
  broken_local.bytes[2] = 'Q';
  Zip local_in_directory = good;  // the second record's local header offset points into the directory
  put32(local_in_directory.bytes, good.directory_offset + 46 + 13 + 42, static_cast<std::uint32_t>(good.directory_offset));
  Zip directory_into_end = good;  // a directory that runs into the end record
  put32(directory_into_end.bytes, good.end_offset + 12, static_cast<std::uint32_t>(good.end_offset));
  ZipEntry bad_extra{.name = "x", .data = "x", .extra = std::string("\x01\x02\x40\x00", 4)};  // runs past its block
  for (const Zip& zip : {
           Zip{.bytes = "MZ this is a program, not an archive, and it is long enough to search"},
           Zip{.bytes = ""},
           broken_directory,
           broken_local,
           local_in_directory,
           directory_into_end,
           build_zip({bad_extra}),
           Zip{.bytes = good.bytes.substr(0, good.bytes.size() - 3)},
           Zip{.bytes = good.bytes.substr(10)},
           build_zip(entries(), {.entries_on_disk = 5, .entries_total = 5}),
       }) {
    EXPECT_EQ(open_failure(zip), "invalid Zip archive: Could not find EOCD");
  }
}

TEST(OpenArchive, MultiDiskArchivesAreRefusedByName) {
  EXPECT_EQ(open_failure(build_zip(entries(), {.this_disk = 1, .directory_disk = 1})),
            "invalid Zip archive: Multi-disk ZIP files are not supported");
  EXPECT_EQ(open_failure(build_zip(entries(), {.directory_disk = 2})),
            "invalid Zip archive: Multi-disk ZIP files are not supported");
  EXPECT_EQ(open_failure(build_zip(entries(), {.entries_on_disk = 1})),
            "invalid Zip archive: Multi-disk ZIP files are not supported");
  EXPECT_EQ(open_failure(build_zip(entries(), {.this_disk = 2, .directory_disk = 0, .zip64 = true})),
            "invalid Zip archive: Multi-disk ZIP files are not supported");
}

// The ZIP library refuses a name flagged as UTF-8 that is not, for the whole archive; the setup
// reports that as the library's own fault text instead of extracting with replacement characters.
TEST(OpenArchive, NameFlaggedUtf8ThatIsNotFailsWithTheLibrarysText) {
  ZipEntry bad{.name = "bad\xFF.txt", .data = "x", .flags = 1 << 11};
  EXPECT_EQ(open_failure(build_zip({bad})), "invalid Zip archive: Zip archive inconsistent");
}

}  // namespace
