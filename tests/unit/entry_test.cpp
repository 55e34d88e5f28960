// The per-entry decisions: the refusals that come first, the entry's kind, the link's kind.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <tuple>
#include <vector>

#include "payload/entry.hpp"
#include "payload/libzip_error.hpp"

namespace {

using payload::ArchiveError;
using payload::Entry;
using payload::entry_kind;
using payload::entry_refusal;
using payload::EntryKind;

TEST(Entry, RefusalsComeInOrderEncryptionMethodAes) {
  const auto password = ArchiveError::unsupported("Password required to decrypt file");
  const auto method = ArchiveError::unsupported("Compression method not supported");
  EXPECT_EQ(entry_refusal({.encrypted = true, .method = 99, .aes = true}), password);
  EXPECT_EQ(entry_refusal({.encrypted = true, .method = 8}), password);
  EXPECT_EQ(entry_refusal({.method = 12, .aes = true}), method);
  EXPECT_EQ(entry_refusal({.method = 14}), method);
  EXPECT_EQ(entry_refusal({.method = 8, .aes = true}), ArchiveError::wrong_password());
  EXPECT_EQ(entry_refusal({.name = "d/", .encrypted = true, .method = 0}), password);
  EXPECT_EQ(entry_refusal({.method = 0}), std::nullopt);
  EXPECT_EQ(entry_refusal({.method = 8}), std::nullopt);
  EXPECT_EQ(ArchiveError::wrong_password().reason_text(), "The password provided is incorrect");
}

// A link is the whole Unix file type 0xA000, as every other reader takes it: 0xB000, 0xE000 and
// 0xF000 hold both of its bits but are no link to zipfile, unzip, bsdtar or 7-Zip, and a link there
// would hide install.ps1 from the script search. Where the attributes say another kind than the
// name, or a device or pipe, other readers make what the attributes say: no one reading.
TEST(Entry, KindByUnixModeMsDosAttributeAndName) {
  const std::tuple<std::string, std::uint8_t, std::uint32_t, EntryKind, bool> cases[] = {
      {"l", 3, 0120777u << 16, EntryKind::Link, false},
      {"l/", 3, 0xA0000000, EntryKind::Link, false},
      {"install.ps1", 3, 0xB1FF0000, EntryKind::File, true},
      {"install.ps1", 3, 0xE1FF0000, EntryKind::File, true},
      {"install.ps1", 3, 0xF1FF0000, EntryKind::File, true},
      {"fifo", 3, 0010644u << 16, EntryKind::File, true},
      {"l", 3, 0100644u << 16, EntryKind::File, false},
      {"l", 0, 0xA1FF0000, EntryKind::File, false},  // a Unix mode from another host is no mode
      {"d\\", 3, (040755u << 16) | 0x10, EntryKind::Directory, false},
      {"d/", 0, 0x10, EntryKind::Directory, false},
      {"./", 0, 0, EntryKind::Directory, false},
      {".", 0, 0, EntryKind::File, false},
      {"install.ps1", 3, 040755u << 16, EntryKind::File, true},
      {"install.ps1", 0, 0x10, EntryKind::File, true},
      {"install.ps1", 3, 0x10, EntryKind::File, true},  // no mode, the MS-DOS attribute alone
      {"d/", 3, 0100644u << 16, EntryKind::Directory, true},
      {"f", 3, (0100644u << 16) | 0x10, EntryKind::File, true},
      {"f.txt", 0, 0x20, EntryKind::File, false},
      {"install.ps1", 0, 0x28, EntryKind::File, true},  // a volume label, which unzip skips
  };
  for (const auto& [name, host, attributes, kind, ambiguous] : cases) {
    SCOPED_TRACE(name + " " + std::to_string(attributes));
    const Entry entry{.name = name, .host_system = host, .external_attributes = attributes};
    EXPECT_EQ(entry_kind(entry), kind);
    EXPECT_EQ(payload::kind_is_ambiguous(entry), ambiguous);
  }
}

TEST(Entry, LinkIsOfDirectoryKindForADirectoryEntryOfThatNameOrAnExistingDirectory) {
  const std::vector<Entry> listed{{.name = "docs/"}, {.name = "notes"}, {.name = "file/"}};
  const auto entries = payload::directory_entry_names(listed);
  std::vector<std::string> asked;
  auto existing = [&](std::string_view t) {
    asked.emplace_back(t);
    return t == "C:\\Windows";
  };
  EXPECT_TRUE(payload::link_is_directory("docs/", entries, existing));
  EXPECT_TRUE(payload::link_is_directory("C:\\Windows", entries, existing));
  EXPECT_FALSE(payload::link_is_directory("docs", entries, existing));   // not exactly the name
  EXPECT_FALSE(payload::link_is_directory("notes", entries, existing));  // a file entry
  EXPECT_EQ(asked, (std::vector<std::string>{"C:\\Windows", "docs", "notes"}));

  // Asking about these would reach another machine or open a device: they are file links unasked.
  asked.clear();
  for (const char* remote : {"\\\\server\\share\\dir", "//server/share/dir", "\\\\?\\UNC\\server\\share",
                             "\\\\.\\PhysicalDrive0", "\\??\\UNC\\server\\share", "\\/server\\share"}) {
    SCOPED_TRACE(remote);
    EXPECT_FALSE(payload::link_is_directory(remote, entries, existing)) << remote;
  }
  EXPECT_EQ(asked, std::vector<std::string>{});
}

// Two entries that Windows writes to one file, or a file on another entry's way as a folder, are
// two readings of the archive; a folder named again is one.
TEST(Entry, TwoEntriesReachingOnePathAreFound) {
  const std::pair<std::vector<std::string>, bool> cases[] = {
      {{"pkg/install.ps1", "pkg\\install.ps1"}, true},
      {{"install.ps1", "INSTALL.PS1"}, true},
      {{"a/b/../install.ps1", "A/./install.ps1"}, true},
      {{"docs", "docs/a.txt"}, true},
      {{"docs/a.txt", "Docs"}, true},
      {{"docs/a.txt", "docs/a.txt/"}, true},
      {{"notes", "notes."}, true},
      {{"notes", "notes . "}, true},
      {{"\xC3\x84.txt", "\xC3\xA4.txt"}, true},                // Ä, ä
      {{"\xCE\xA3", "\xCF\x83"}, true},                        // Σ, σ: beyond Latin letters
      {{"\xE1\xBE\xB3", "\xE1\xBE\xBC"}, true},                // ᾳ and its simple upper case ᾼ
      {{"docs/", "DOCS\\", "docs/a.txt", "Docs/b.txt"}, false},  // one folder, named again
      {{"stra\xC3\x9F" "e", "STRASSE"}, false},                  // ß has no simple upper case
      {{"\xF0\x90\x90\xA8", "\xF0\x90\x90\x80"}, false},     // beyond 16 bits: not folded
      {{"a", "b", "../c", "C:x"}, false},                       // names without a path are left out
  };
  for (const auto& [names, twice] : cases) {
    SCOPED_TRACE(names.front() + " " + names.back());
    std::vector<Entry> entries;
    for (const std::string& name : names) entries.push_back({.name = name});
    EXPECT_EQ(payload::reach_one_path_twice(entries), twice);
  }
}

TEST(LibzipError, CodesMapToTheFixedTextsOrKeepTheLibrarysOwn) {
  using payload::archive_error_from_libzip;
  EXPECT_EQ(archive_error_from_libzip(19, 0).reason_text(), "invalid Zip archive: Could not find EOCD");
  EXPECT_EQ(archive_error_from_libzip(1, 0).reason_text(),
            "invalid Zip archive: Multi-disk ZIP files are not supported");
  EXPECT_EQ(archive_error_from_libzip(7, 0).reason_text(), "i/o error: Invalid checksum");
  EXPECT_EQ(archive_error_from_libzip(13, -3).reason_text(), "i/o error: corrupt deflate stream");
  EXPECT_EQ(archive_error_from_libzip(26, 0), ArchiveError::unsupported("Password required to decrypt file"));
  EXPECT_EQ(archive_error_from_libzip(16, 0), ArchiveError::unsupported("Compression method not supported"));
  EXPECT_EQ(archive_error_from_libzip(27, 0), ArchiveError::wrong_password());
  EXPECT_EQ(archive_error_from_libzip(21, 0), ArchiveError::invalid("Zip archive inconsistent"));
  EXPECT_EQ(archive_error_from_libzip(14, 0), ArchiveError::io("Malloc failure"));
  EXPECT_EQ(archive_error_from_libzip(5, 5), ArchiveError::io(std::string("Read error: ") + std::strerror(5)));
}

}  // namespace
