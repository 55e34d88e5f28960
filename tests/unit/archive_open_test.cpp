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
  const std::pair<std::string_view, Zip> cases[] = {
      {"plain", build_zip(entries())},
      {"with a comment", build_zip(entries(), {.comment = "comment"})},
      {"with bytes after the end record", build_zip(entries(), {.after_end = "trailing bytes after the end record"})},
      {"ZIP64", build_zip(entries(), {.zip64 = true})},
      {"no entries", build_zip({})},
      {"AES, a NUL in a name, bzip2", build_zip({aes_encrypted, nul_name, bzip2})},
  };
  for (const auto& [name, zip] : cases) {
    SCOPED_TRACE(name);
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
  const std::pair<std::string_view, Zip> cases[] = {
      {"a program", Zip{.bytes = "MZ this is a program, not an archive, and it is long enough to search"}},
      {"no bytes", Zip{.bytes = ""}},
      {"a damaged directory", broken_directory},
      {"a damaged local header", broken_local},
      {"a local header offset into the directory", local_in_directory},
      {"a directory running into the end record", directory_into_end},
      {"an extra field past its block", build_zip({bad_extra})},
      {"the last 3 bytes cut", Zip{.bytes = good.bytes.substr(0, good.bytes.size() - 3)}},
      {"the first 10 bytes cut", Zip{.bytes = good.bytes.substr(10)}},
      {"more entries declared than listed", build_zip(entries(), {.entries_on_disk = 5, .entries_total = 5})},
  };
  for (const auto& [name, zip] : cases) {
    SCOPED_TRACE(name);
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

// Local entries back to back, then one directory per list of entry indices, each followed by its
// end record: an archive with as many readings as it has directories.
std::string with_directories(const std::vector<ZipEntry>& entries, const std::vector<std::vector<std::size_t>>& directories) {
  std::string bytes;
  std::vector<std::uint32_t> offsets;
  for (const ZipEntry& e : entries) {
    offsets.push_back(static_cast<std::uint32_t>(bytes.size()));
    bytes += test_support::local_entry(e);
  }
  for (const auto& listed : directories) {
    const auto at = static_cast<std::uint32_t>(bytes.size());
    for (const std::size_t i : listed) bytes += test_support::central_record(entries[i], offsets[i]);
    bytes += test_support::end_record(static_cast<std::uint16_t>(listed.size()),
                                      static_cast<std::uint32_t>(bytes.size() - at), at);
  }
  return bytes;
}

// Two directories list install.ps1 with the same size and CRC-32 but point at two different local
// entries: tools that take one reading and the setup that took the other would run different
// scripts. The last directory decides, and the bytes it leaves to no entry (the other entry, the
// other directory) make it unsound, like damage.
TEST(OpenArchive, TwoDirectoriesLeadingToDifferentEntriesAreRefused) {
  ZipEntry seen{.name = "install.ps1", .data = "Write-Host seen\r\n", .method = 0};
  ZipEntry other = seen;
  other.data = "Write-Host HIDE\r\n";
  other.crc32 = test_support::crc32_of(seen.data);  // as if forged to match
  EXPECT_EQ(open_failure(Zip{.bytes = with_directories({seen, other}, {{0}, {1}})}),
            "invalid Zip archive: Could not find EOCD");
  EXPECT_EQ(open_failure(Zip{.bytes = with_directories({seen, other}, {{1}, {0}})}),
            "invalid Zip archive: Could not find EOCD");
  // A second directory that lists only part of the first is another reading too.
  EXPECT_EQ(open_failure(Zip{.bytes = with_directories(entries(), {{0, 1}, {0}})}),
            "invalid Zip archive: Could not find EOCD");
}

// An empty directory declared by stray bytes after a real one is a second, different reading.
TEST(OpenArchive, AnEmptyDirectoryBesideARealOneIsAmbiguous) {
  const std::string empty_end = test_support::end_record(0, 0, 0);
  EXPECT_EQ(open_failure(build_zip(entries(), {.after_end = empty_end})), "invalid Zip archive: Ambiguous central directory");
  EXPECT_EQ(open_failure(Zip{.bytes = empty_end + empty_end}), "opened");  // two empty ones are one reading
}

// However many end records declare the one directory (in its last record's comment), it is one
// reading, read once. After it, they would leave bytes between the directory and the last one.
TEST(OpenArchive, EndRecordsThatDeclareTheSameDirectoryAreOneReading) {
  for (const int copies : {1, 100, 2900}) {
    SCOPED_TRACE(copies);
    auto archive = payload::open_archive(Zip{.bytes = test_support::with_end_record_copies(entries(), copies)}.span());
    EXPECT_TRUE(archive.has_value()) << (archive ? "" : archive.error().reason_text());
  }
  const Zip once = build_zip(entries());
  EXPECT_EQ(open_failure(Zip{.bytes = once.bytes + once.bytes.substr(once.end_offset)}),
            "invalid Zip archive: Could not find EOCD");
}

// Bytes that merely look like an end record before the last one lead to no sound directory: in
// stored data they are that entry's data, anywhere else they are passed over, up to a bound on the
// different directories read to tell.
TEST(OpenArchive, StrayEndRecordsBeforeTheLastArePassedOverUpToABound) {
  const Zip nested = build_zip(entries());
  ZipEntry stored_zip{.name = "inner.zip", .data = nested.bytes, .method = 0};
  ZipEntry signature{.name = "sig.bin", .data = std::string("PK\x05\x06", 4) + std::string(40, '\x01'), .method = 0};
  EXPECT_EQ(open_failure(build_zip({stored_zip, signature})), "opened");

  // In the comment of the directory's last record, each declares a directory that begins with the
  // archive's first record but holds one entry in more bytes than one entry takes: each is read,
  // found unsound and passed over, up to the bound.
  const Zip good = build_zip(entries());
  const auto size = static_cast<std::uint32_t>(good.end_offset - good.directory_offset);
  const auto with_stray_records = [&](std::uint32_t count) {
    auto listed = entries();
    for (std::uint32_t more = 0; more < count; ++more) {
      listed.back().comment += test_support::end_record(1, size + more, static_cast<std::uint32_t>(good.directory_offset));
    }
    return build_zip(listed);
  };
  EXPECT_EQ(open_failure(with_stray_records(7)), "opened");
  EXPECT_EQ(open_failure(with_stray_records(8)), "invalid Zip archive: Too many end records");
}

// The last end record decides, as it does for every common reader: an unsound directory there is
// refused, and never traded for an earlier end record's.
TEST(OpenArchive, TheLastEndRecordDecides) {
  const Zip good = build_zip(entries());
  const auto size = static_cast<std::uint32_t>(good.end_offset - good.directory_offset);
  const auto directory = static_cast<std::uint32_t>(good.directory_offset);
  const std::pair<std::string_view, std::string> after[] = {
      {"an unsound directory", test_support::end_record(1, size + 1, directory)},
      {"a stray signature", std::string("PK\x05\x06", 4) + std::string(30, '\xEE')},
      // Declaring the archive's own directory, with a comment cut short.
      {"a cut comment", test_support::end_record(2, size, directory, "comment").substr(0, 24)},
  };
  for (const auto& [what, bytes] : after) {
    SCOPED_TRACE(what);
    EXPECT_EQ(open_failure(build_zip(entries(), {.after_end = bytes})), "invalid Zip archive: Could not find EOCD");
  }
}

// A local header is part of its entry: one that disagrees with the central record makes the
// directory unsound, as a damaged record does.
TEST(OpenArchive, ALocalHeaderThatDisagreesWithItsRecordIsDamage) {
  const auto with = [](auto change) {
    ZipEntry e{.name = "install.ps1", .data = "Write-Host hi\r\n", .method = 0};
    change(e);
    return build_zip({e});
  };
  const std::pair<std::string_view, Zip> cases[] = {
      {"name", with([](ZipEntry& e) { e.local_name = "install.ps2"; })},
      {"method", with([](ZipEntry& e) { e.local_method = 8; })},
      {"encryption flag", with([](ZipEntry& e) { e.local_flags = 1 << 0; })},
      {"data descriptor flag", with([](ZipEntry& e) { e.local_flags = 1 << 3; })},
      {"CRC-32", with([](ZipEntry& e) { e.local_crc32 = 7; })},
      {"compressed size", with([](ZipEntry& e) { e.local_compressed_size = 3; })},
      {"uncompressed size", with([](ZipEntry& e) { e.local_uncompressed_size = 3; })},
      // neither zero nor equal
      {"CRC-32 with a data descriptor", with([](ZipEntry& e) { e.flags = 1 << 3, e.local_crc32 = 7; })},
  };
  for (const auto& [field, zip] : cases) {
    SCOPED_TRACE(field);
    EXPECT_EQ(open_failure(zip), "invalid Zip archive: Could not find EOCD");
  }
  // With a data descriptor after the data the local header may leave its CRC-32 and sizes at zero;
  // compression options and the name's encoding may differ.
  EXPECT_EQ(open_failure(with([](ZipEntry& e) {
              e.flags = 1 << 3;
              e.local_crc32 = e.local_compressed_size = e.local_uncompressed_size = 0;
            })),
            "opened");
  EXPECT_EQ(open_failure(with([](ZipEntry& e) { e.flags = 1 << 1, e.local_flags = (1 << 2) | (1 << 11); })), "opened");
}

// The library would refuse these for the whole archive; each entry is judged by itself instead,
// when it is extracted.
TEST(OpenArchive, EntriesTheLibraryWouldRefuseDoNotStopTheOpen) {
  ZipEntry bad_name{.name = "bad\xFF.txt", .data = "x", .flags = 1 << 11};
  ZipEntry bad_comment{.name = "c.txt", .data = "x", .flags = 1 << 11};
  bad_comment.comment = "\xC0\xAF";
  ZipEntry aes_missing{.name = "m.bin", .data = "x", .method = 99};
  ZipEntry aes_unknown{.name = "u.bin", .data = "x", .method = 99, .flags = 1};
  aes_unknown.extra = test_support::extra_field(0x9901, std::string("\x03\x00" "XY" "\x09\x08\x00", 7));
  ZipEntry aes_short{.name = "s.bin", .data = "x", .method = 99};
  aes_short.extra = test_support::extra_field(0x9901, "AE");
  EXPECT_EQ(open_failure(build_zip({entries()[0], bad_name, bad_comment, aes_missing, aes_unknown, aes_short})), "opened");
}

// The library reads a ZIP64 field's extra values strictly, for the whole archive; the setup reports
// its text. The as-built payload has no ZIP64 fields.
TEST(OpenArchive, AZip64FieldLongerThanItsValuesIsTheLibrarysInconsistency) {
  ZipEntry e{.name = "x", .data = "x", .method = 0};
  e.uncompressed_size = 0xFFFFFFFF;
  std::string values(8, '\0');
  values[0] = 1;  // the real size, then eight more bytes than the saturated fields need
  e.extra = test_support::extra_field(0x0001, values + std::string(8, '\0'));
  e.local_uncompressed_size = 1;
  EXPECT_EQ(open_failure(build_zip({e})), "invalid Zip archive: Zip archive inconsistent");
}

// A directory of more entries than the classic end record counts is shown to the library through
// a ZIP64 end record of our own.
TEST(OpenArchive, ADirectoryOfMoreThan65535EntriesOpens) {
  std::vector<ZipEntry> many;
  for (int i = 0; i < 70000; ++i) many.push_back({.name = std::to_string(i), .data = "", .method = 0});
  auto archive = payload::open_archive(build_zip(many, {.zip64 = true}).span());
  EXPECT_TRUE(archive.has_value()) << (archive ? "" : archive.error().reason_text());
}

}  // namespace
