// Extraction into real folders under the temporary directory: what is written where, what is
// refused with which text, and that nothing lands outside the destination or behind a link.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "payload/archive.hpp"
#include "platform/error.hpp"
#include "platform/fs.hpp"
#include "support/zip_builder.hpp"

namespace {

namespace fs = std::filesystem;
using payload::ArchiveError;
using test_support::build_zip;
using test_support::Zip;
using test_support::ZipEntry;

fs::path u8path(std::string_view s) { return fs::path(std::u8string(s.begin(), s.end())); }
std::string utf8(const fs::path& p) {
  const std::u8string u = p.u8string();
  return std::string(u.begin(), u.end());
}

std::string read_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_text(const fs::path& p, std::string_view text) {
  std::ofstream out(p, std::ios::binary);
  out << text;
}

// Everything below a folder: "<dir>" for folders, "-> target" for links, the content for files.
using Tree = std::map<std::string, std::string>;
Tree snapshot(const fs::path& root) {
  Tree tree;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    std::string key = utf8(it->path().lexically_relative(root).generic_u8string());
    if (it->is_symlink()) {
      tree[key] = "-> " + utf8(fs::read_symlink(it->path()));
    } else if (it->is_directory()) {
      tree[key] = "<dir>";
    } else {
      tree[key] = read_file(it->path());
    }
  }
  return tree;
}

// A fresh folder under the temporary directory, removed afterwards (links in it are not followed).
class Scratch {
 public:
  Scratch() {
    std::random_device random;
    root_ = fs::temp_directory_path() / u8path("zarvo extract \xC3\xA9 " + std::to_string(random()));
    fs::create_directories(root_);
  }
  ~Scratch() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  const fs::path& root() const { return root_; }
  fs::path dest() const { return root_ / "dest"; }

 private:
  fs::path root_;
};

class Extract : public ::testing::Test {
 protected:
  // Opens the archive (which must succeed) and extracts it into the scratch destination.
  std::expected<void, ArchiveError> extract(const Zip& zip) {
    auto archive = payload::open_archive(zip.span());
    if (!archive) {
      ADD_FAILURE() << "open failed: " << archive.error().reason_text();
      return std::unexpected(archive.error());
    }
    return payload::extract_all(*archive, utf8(scratch.dest()));
  }
  std::expected<void, ArchiveError> extract(const std::vector<ZipEntry>& entries) {
    return extract(build_zip(entries));
  }
  Tree tree() const { return snapshot(scratch.root()); }

  // What the system itself says when a file is created at `path`, for errors whose text is the
  // system's own.
  static ArchiveError create_file_error(const fs::path& path) {
    auto file = platform::create_file(utf8(path));
    EXPECT_FALSE(file.has_value());
    return file ? ArchiveError::io("") : ArchiveError::io(platform::error_text(file.error()));
  }

  Scratch scratch;
};

ZipEntry file(std::string name, std::string data) { return ZipEntry{.name = std::move(name), .data = std::move(data)}; }
ZipEntry directory(std::string name) { return ZipEntry{.name = std::move(name), .method = 0}; }

TEST_F(Extract, AsBuiltLayoutGivesItsFilesWithFoldersMadeOnTheWay) {
  std::vector<std::string> names;
  for (const char* exe : {"zarvo", "zarvod", "zarvo-hud", "zarvo-agent", "zarvo-cli2", "zarvo-sync", "zarvo-net",
                          "zarvo-shell", "zarvo-log", "zarvo-probe", "zarvo-relay", "zarvo-update"}) {
    names.push_back(std::string("bin\\") + exe + ".exe");
  }
  names.push_back("config\\release-signers");
  names.push_back("skills\\README.md");
  for (int i = 0; i < 28; ++i) names.push_back("skills\\skill-" + std::to_string(i) + "\\SKILL.md");
  for (const char* top : {"zarvo.ico", "install.ps1", "LICENSE.md", "manifest.json", "README.md"}) names.push_back(top);
  ASSERT_EQ(names.size(), 47u);

  std::vector<ZipEntry> entries;
  Tree expected{{"dest", "<dir>"}, {"dest/bin", "<dir>"}, {"dest/config", "<dir>"}, {"dest/skills", "<dir>"}};
  for (const std::string& name : names) {
    std::string data;
    for (int k = 0; k < static_cast<int>(name.size()) * 50; ++k) data += name + " line " + std::to_string(k) + "\r\n";
    entries.push_back(file(name, data));
    std::string key = name;
    std::replace(key.begin(), key.end(), '\\', '/');
    expected["dest/" + key] = data;
    if (const auto slash = key.rfind('/'); slash != std::string::npos) expected["dest/" + key.substr(0, slash)] = "<dir>";
  }
  EXPECT_EQ(expected.size(), 47u + 1 + 3 + 28);

  ASSERT_TRUE(extract(entries).has_value());
  EXPECT_EQ(tree(), expected);
}

TEST_F(Extract, BackslashAndSlashGiveTheSamePath) {
  ASSERT_TRUE(extract({file("a\\b/one.txt", "1"), file("a/b\\two.txt", "2"), directory("c\\d/")}).has_value());
  EXPECT_EQ(tree(), (Tree{{"dest", "<dir>"},
                          {"dest/a", "<dir>"},
                          {"dest/a/b", "<dir>"},
                          {"dest/a/b/one.txt", "1"},
                          {"dest/a/b/two.txt", "2"},
                          {"dest/c", "<dir>"},
                          {"dest/c/d", "<dir>"}}));
}

TEST_F(Extract, NamesWithoutASimplifiedPathAreRefusedBeforeAnythingIsWritten) {
  for (const std::string& bad : std::vector<std::string>{"\\x\\evil.txt", "/x/evil.txt", "C:evil.txt", "c:\\evil.txt", "..\\evil.txt",
                                "a/../../evil.txt", "a\\..\\..\\x\\", std::string("a\0b.txt", 7)}) {
    SCOPED_TRACE(bad);
    const auto result = extract({file("ok.txt", "fine"), file(bad, "evil")});
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().reason_text(), "invalid Zip archive: Invalid file path");
    EXPECT_EQ(tree(), (Tree{{"dest", "<dir>"}, {"dest/ok.txt", "fine"}}));
  }
}

TEST_F(Extract, DotDotThatStaysBelowTheTopIsAccepted) {
  ASSERT_TRUE(extract({file("a\\..\\b", "bee"), file("c/./d/../e", "e")}).has_value());
  EXPECT_EQ(tree(), (Tree{{"dest", "<dir>"}, {"dest/b", "bee"}, {"dest/c", "<dir>"}, {"dest/c/e", "e"}}));
}

TEST_F(Extract, NameReducingToNothingIsTheBaseItself) {
  ASSERT_TRUE(extract({directory("./"), directory(".\\")}).has_value());
  EXPECT_EQ(tree(), (Tree{{"dest", "<dir>"}}));

  const auto result = extract({file(".", "data")});
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error(), create_file_error(scratch.dest()));
  EXPECT_EQ(tree(), (Tree{{"dest", "<dir>"}}));
}

TEST_F(Extract, ExistingFileIsEmptiedAndOverwritten) {
  fs::create_directories(scratch.dest() / "sub");
  write_text(scratch.dest() / "sub" / "f.txt", "a much longer old content that must vanish");
  ASSERT_TRUE(extract({file("sub/f.txt", "new")}).has_value());
  EXPECT_EQ(tree(), (Tree{{"dest", "<dir>"}, {"dest/sub", "<dir>"}, {"dest/sub/f.txt", "new"}}));
}

TEST_F(Extract, DirectoryAtAFileEntrysPathIsAnIoError) {
  fs::create_directories(scratch.dest() / "taken" / "inner");
  const auto result = extract({file("taken", "data"), file("after.txt", "never")});
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error(), create_file_error(scratch.dest() / "taken"));
  EXPECT_EQ(tree(), (Tree{{"dest", "<dir>"}, {"dest/taken", "<dir>"}, {"dest/taken/inner", "<dir>"}}));
}

TEST_F(Extract, FileInTheWayOfAFolderIsAnIoError) {
  fs::create_directories(scratch.dest());
  std::ofstream(scratch.dest() / "plain") << "x";
  const auto result = extract({file("plain/inside.txt", "y")});
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().kind, payload::ArchiveErrorKind::Io);
  EXPECT_EQ(tree(), (Tree{{"dest", "<dir>"}, {"dest/plain", "x"}}));
}

TEST_F(Extract, AFolderEntryWhereAFileIsIsAnIoError) {
  fs::create_directories(scratch.dest());
  std::ofstream(scratch.dest() / "x") << "data";
  const auto result = extract({directory("x/"), file("after.txt", "never")});
  ASSERT_FALSE(result.has_value());
  const auto made = platform::create_directory_all(utf8(scratch.dest() / "x"));
  ASSERT_FALSE(made.has_value());
  EXPECT_EQ(result.error(), ArchiveError::io(platform::error_text(made.error())));
  EXPECT_EQ(tree(), (Tree{{"dest", "<dir>"}, {"dest/x", "data"}}));
}

TEST_F(Extract, ADestinationBelowAFileIsAnIoErrorBeforeAnythingIsWritten) {
  write_text(scratch.root() / "file", "kept");
  const fs::path destination = scratch.root() / "file" / "dest";
  const Zip zip = build_zip({file("x", "y")});  // the archive borrows these bytes
  auto archive = payload::open_archive(zip.span());
  ASSERT_TRUE(archive.has_value());
  const auto result = payload::extract_all(*archive, utf8(destination));
  ASSERT_FALSE(result.has_value());
  const auto made = platform::create_directory_all(utf8(destination));
  ASSERT_FALSE(made.has_value());
  EXPECT_EQ(result.error(), ArchiveError::io(platform::error_text(made.error())));
  EXPECT_EQ(tree(), (Tree{{"file", "kept"}}));
}

TEST_F(Extract, WrongCrcLeavesTheFileWrittenInFullAndStops) {
  const std::string data(3 * 1024 * 1024 + 17, 'q');
  for (const std::uint16_t method : {0, 8}) {
    SCOPED_TRACE(method);
    ZipEntry bad = file("bad.bin", data);
    bad.method = method;
    bad.crc32 = test_support::crc32_of(data) ^ 1;
    const auto result = extract({file("first.txt", "1"), bad, file("after.txt", "never")});
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().reason_text(), "i/o error: Invalid checksum");
    EXPECT_EQ(tree(), (Tree{{"dest", "<dir>"}, {"dest/first.txt", "1"}, {"dest/bad.bin", data}}));
    fs::remove_all(scratch.dest());
  }
}

// A stored install.ps1 whose record says 58 bytes with their CRC-32, but whose data is cut to
// nothing: the file is made, left empty, and the checksum fails (the CRC-32 of nothing is 0).
TEST_F(Extract, StoredEntryCutToNothingFailsItsChecksumAndStaysEmpty) {
  const std::string script(58, 's');
  ZipEntry cut = file("install.ps1", script);
  cut.method = 0;
  cut.compressed = "";
  const auto result = extract({file("first.txt", "1"), cut, file("after.txt", "never")});
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().reason_text(), "i/o error: Invalid checksum");
  EXPECT_EQ(tree(), (Tree{{"dest", "<dir>"}, {"dest/first.txt", "1"}, {"dest/install.ps1", ""}}));
}

// The data must be as long as the record says, whatever its CRC-32: shorter data with a matching
// CRC-32 fails at its end; longer data fails as soon as it shows, and nothing past the declared
// size is written.
TEST_F(Extract, DataOfAnotherSizeThanDeclaredFailsItsChecksum) {
  const std::string data(300 * 1024, 'w');
  ZipEntry shorter = file("short.txt", "five!");
  shorter.method = 0;
  shorter.uncompressed_size = 6;
  ZipEntry longer = file("long.bin", data);  // inflates to 300 KiB, declared as 1000 bytes
  longer.uncompressed_size = 1000;
  ZipEntry stored_longer = longer;
  stored_longer.method = 0;
  for (const ZipEntry& entry : {shorter, longer, stored_longer}) {
    SCOPED_TRACE(entry.name + " method " + std::to_string(entry.method));
    const auto result = extract({entry});
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().reason_text(), "i/o error: Invalid checksum");
    const Tree found = tree();
    ASSERT_EQ(found.size(), 2u);
    EXPECT_LE(found.rbegin()->second.size(), 1000u);
    EXPECT_EQ(found.rbegin()->second, entry.data.substr(0, found.rbegin()->second.size()));
    fs::remove_all(scratch.dest());
  }
}

// Entries of method 99 are judged one by one, after the entries before them were written: with
// flag bit 0 a password would be needed; without it the method is not one the setup reads, whatever
// the AES field holds.
TEST_F(Extract, Method99EntriesAreRefusedOneByOne) {
  const auto aes = [](std::uint16_t flags, std::string field) {
    ZipEntry e{.name = "sub/secret.bin", .data = "x", .method = 99, .flags = flags};
    e.compressed = std::string(30, '\x5A');
    e.extra = std::move(field);
    return e;
  };
  const std::string unknown_version = test_support::extra_field(0x9901, std::string("\x03\x00" "AE" "\x03\x08\x00", 7));
  const std::string unknown_vendor = test_support::extra_field(0x9901, std::string("\x02\x00" "XY" "\x03\x08\x00", 7));
  const std::string unknown_strength = test_support::extra_field(0x9901, std::string("\x02\x00" "AE" "\x07\x08\x00", 7));
  const std::string too_short = test_support::extra_field(0x9901, "AE");
  const auto password = "unsupported Zip archive: Password required to decrypt file";
  const auto method = "unsupported Zip archive: Compression method not supported";
  const std::vector<std::pair<ZipEntry, std::string>> cases{
      {aes(0, ""), method},          {aes(1, ""), password},          {aes(0, unknown_version), method},
      {aes(1, unknown_vendor), password}, {aes(0, unknown_strength), method}, {aes(1, too_short), password},
  };
  for (const auto& [entry, text] : cases) {
    SCOPED_TRACE(text + " " + std::to_string(entry.extra.size()));
    const auto result = extract({file("ok.txt", "fine"), entry});
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().reason_text(), text);
    EXPECT_EQ(tree(), (Tree{{"dest", "<dir>"}, {"dest/ok.txt", "fine"}}));
  }
}

// Flagged as UTF-8 but not: each invalid sequence becomes U+FFFD; a comment like it changes nothing.
TEST_F(Extract, NamesFlaggedUtf8ThatAreNotGetReplacementCharacters) {
  ZipEntry bad_name = file("bad\xFF.txt", "name");
  bad_name.flags = 1 << 11;
  ZipEntry bad_comment = file("comment.txt", "comment");
  bad_comment.flags = 1 << 11;
  bad_comment.comment = "\xC0\xAF";
  ASSERT_TRUE(extract({bad_name, bad_comment}).has_value());
  EXPECT_EQ(tree(), (Tree{{"dest", "<dir>"}, {"dest/bad\xEF\xBF\xBD.txt", "name"}, {"dest/comment.txt", "comment"}}));
}

TEST_F(Extract, CorruptDeflateStreamIsNamedAsSuch) {
  ZipEntry bad = file("bad.bin", "irrelevant");
  bad.compressed = std::string("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 8);  // reserved block type
  const auto result = extract({bad});
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().reason_text(), "i/o error: corrupt deflate stream");
}

TEST_F(Extract, DeflateStreamCutShortEndsTheDataAndFailsTheCrc) {
  std::string data;
  for (int i = 0; i < 20000; ++i) data += std::to_string(i * 7919 % 10007) + ",";
  const std::string whole = test_support::raw_deflate(data);
  ZipEntry cut = file("cut.txt", data);
  cut.compressed = whole.substr(0, whole.size() / 2);
  const auto result = extract({cut});
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().reason_text(), "i/o error: Invalid checksum");
  const std::string written = read_file(scratch.dest() / "cut.txt");
  EXPECT_LT(written.size(), data.size());
  EXPECT_EQ(written, data.substr(0, written.size()));
}

// Cut after all of its data, before its last block: what it held is written, and the entry fails
// although its size and CRC-32 match what came out.
TEST_F(Extract, DeflateStreamWithoutItsLastBlockFailsWhateverCameOut) {
  const std::string data = "all of it, in a stored block not marked last";
  ZipEntry cut = file("cut.txt", data);
  const auto n = static_cast<std::uint16_t>(data.size());
  cut.compressed = std::string{'\0', char(n & 0xFF), char(n >> 8), char(~n & 0xFF), char(~n >> 8 & 0xFF)} + data;
  const auto result = extract({cut});
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().reason_text(), "i/o error: Invalid checksum");
  EXPECT_EQ(tree(), (Tree{{"dest", "<dir>"}, {"dest/cut.txt", data}}));
}

TEST_F(Extract, LargeFilesArriveWholeInBothMethods) {
  // More than two copy chunks, not a multiple of any power of two.
  std::string data(2 * 1024 * 1024 + 512 * 1024 + 3, '\0');
  std::minstd_rand random(42);
  for (char& c : data) c = static_cast<char>('a' + random() % 16);
  ZipEntry stored = file("stored.bin", data);
  stored.method = 0;
  ASSERT_TRUE(extract({stored, file("deflated.bin", data)}).has_value());
  EXPECT_EQ(read_file(scratch.dest() / "stored.bin"), data);
  EXPECT_EQ(read_file(scratch.dest() / "deflated.bin"), data);
}

TEST_F(Extract, EncryptionMethodAndAesAreRefusedBeforeTheEntryIsTouched) {
  ZipEntry encrypted = file("sub/secret.txt", "x");
  encrypted.flags = 1;
  ZipEntry encrypted_dir = directory("sub/");
  encrypted_dir.flags = 1;
  ZipEntry bzip2 = file("sub/b.txt", "x");
  bzip2.method = 12;
  ZipEntry bzip2_dir = directory("sub/");
  bzip2_dir.method = 12;
  ZipEntry aes_unflagged = file("sub/aes.txt", "x");
  aes_unflagged.extra = test_support::aes_field();
  ZipEntry aes_encrypted = file("sub/aes.txt", "x");
  aes_encrypted.flags = 1;
  aes_encrypted.method = 99;
  aes_encrypted.compressed = std::string(30, '\x5A');
  aes_encrypted.extra = test_support::aes_field();

  const auto password = "unsupported Zip archive: Password required to decrypt file";
  const auto method = "unsupported Zip archive: Compression method not supported";
  const std::vector<std::pair<ZipEntry, std::string>> cases{
      {encrypted, password},
      {encrypted_dir, password},
      {bzip2, method},
      {bzip2_dir, method},
      {aes_unflagged, "The password provided is incorrect"},
      {aes_encrypted, password},
  };
  for (const auto& [entry, text] : cases) {
    SCOPED_TRACE(entry.name + " " + text);
    const auto result = extract({file("ok.txt", "fine"), entry});
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().reason_text(), text);
    EXPECT_EQ(tree(), (Tree{{"dest", "<dir>"}, {"dest/ok.txt", "fine"}}));
  }
}

TEST_F(Extract, TrailingBytesDoNotStopTheArchiveAndAnEmptyOneWritesNothing) {
  ASSERT_TRUE(extract(build_zip({file("a.txt", "a")}, {.after_end = std::string(4096, '\0')})).has_value());
  EXPECT_EQ(tree(), (Tree{{"dest", "<dir>"}, {"dest/a.txt", "a"}}));

  fs::remove_all(scratch.dest());
  ASSERT_TRUE(extract(build_zip({})).has_value());
  EXPECT_EQ(tree(), (Tree{{"dest", "<dir>"}}));
}

TEST_F(Extract, NamesAreDecodedAsCp437Utf8OrFromTheUnicodePathField) {
  ZipEntry utf8_name = file("d\xC3\xA9j\xC3\xA0/\xE6\x97\xA5\xE6\x9C\xAC.txt", "utf8");
  utf8_name.flags = 1 << 11;
  ZipEntry field_name = file("caf\x82.txt", "field");  // café in CP437, and the field's own name
  field_name.extra = test_support::unicode_path_field("caf\x82.txt", "\xE2\x82\xAC.txt");
  ASSERT_TRUE(extract({file("\x81" "ber.txt", "cp437"), utf8_name, field_name}).has_value());
  EXPECT_EQ(tree(), (Tree{{"dest", "<dir>"},
                          {"dest/\xC3\xBC" "ber.txt", "cp437"},
                          {"dest/d\xC3\xA9j\xC3\xA0", "<dir>"},
                          {"dest/d\xC3\xA9j\xC3\xA0/\xE6\x97\xA5\xE6\x9C\xAC.txt", "utf8"},
                          {"dest/\xE2\x82\xAC.txt", "field"}}));
}

TEST_F(Extract, DataIsReadFromTheArchiveBytesInPlace) {
  ZipEntry stored = file("a.txt", "hello");
  stored.method = 0;
  Zip zip = build_zip({stored});
  auto archive = payload::open_archive(zip.span());
  ASSERT_TRUE(archive.has_value());
  zip.bytes[30 + 5] = 'j';  // the first data byte, after the local header and the name
  const auto result = payload::extract_all(*archive, utf8(scratch.dest()));
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().reason_text(), "i/o error: Invalid checksum");
  EXPECT_EQ(tree(), (Tree{{"dest", "<dir>"}, {"dest/a.txt", "jello"}}));
}

TEST_F(Extract, DestinationIsCreatedWithItsParents) {
  const fs::path deep = scratch.root() / "one" / "two" / "dest";
  const Zip zip = build_zip({file("x", "y")});  // the archive borrows these bytes
  auto archive = payload::open_archive(zip.span());
  ASSERT_TRUE(archive.has_value());
  const auto result = payload::extract_all(*archive, utf8(deep));
  ASSERT_TRUE(result.has_value()) << result.error().reason_text();
  EXPECT_EQ(tree(), (Tree{{"one", "<dir>"}, {"one/two", "<dir>"}, {"one/two/dest", "<dir>"}, {"one/two/dest/x", "y"}}));
}

TEST_F(Extract, StoredTimesAndAttributesAreNotApplied) {
  ZipEntry read_only_dos = file("dos.txt", "d");
  read_only_dos.external_attributes = 0x01;  // FILE_ATTRIBUTE_READONLY
  ZipEntry read_only_unix = file("unix.txt", "u");
  read_only_unix.version_made_by = (3 << 8) | 30;
  read_only_unix.external_attributes = 0100444u << 16;
  const auto before = fs::file_time_type::clock::now() - std::chrono::minutes(1);
  ASSERT_TRUE(extract({read_only_dos, read_only_unix}).has_value());
  for (const char* name : {"dos.txt", "unix.txt"}) {
    SCOPED_TRACE(name);
    const fs::path p = scratch.dest() / name;
    EXPECT_GT(fs::last_write_time(p), before);  // not the stored 1999 date
    EXPECT_NE(fs::status(p).permissions() & fs::perms::owner_write, fs::perms::none);
  }
}

// Both fail before a link is made, so they need no system that makes links.
TEST_F(Extract, LinkEntryTargetMustBeUtf8AndMatchItsCrc) {
  ZipEntry bad_crc = test_support::unix_link("l", "target");
  bad_crc.crc32 = 1;
  const std::vector<std::pair<ZipEntry, std::string>> cases{
      {test_support::unix_link("l", "bad\xFF"), "invalid Zip archive: Invalid UTF-8 as symlink target"},
      {bad_crc, "i/o error: Invalid checksum"},
      {test_support::unix_link("l", std::string(64 * 1024 + 1, 'a')), "invalid Zip archive: Symlink target too long"},
  };
  for (const auto& [entry, text] : cases) {
    SCOPED_TRACE(text);
    const auto result = extract({entry});
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().reason_text(), text);
    EXPECT_EQ(tree(), (Tree{{"dest", "<dir>"}}));
  }
}

TEST_F(Extract, UnixModeFromAnotherHostIsAPlainFile) {
  ZipEntry not_a_link = test_support::unix_link("l", "target");
  not_a_link.version_made_by = 20;
  ASSERT_TRUE(extract({not_a_link}).has_value());
  EXPECT_EQ(read_file(scratch.dest() / "l"), "target");
  EXPECT_FALSE(fs::is_symlink(fs::symlink_status(scratch.dest() / "l")));
}

// ---- links (Wine creates none, so these need a system that does) --------------------------------

class ExtractLinks : public Extract {
 protected:
  void SetUp() override {
    const fs::path probe = scratch.root() / "probe";
    std::error_code error;
    fs::create_symlink("target", probe, error);
    const bool made = !error && fs::is_symlink(fs::symlink_status(probe));
    fs::remove(probe, error);
    if (!made) GTEST_SKIP() << "this system creates no symbolic links here (Wine 8 reports success and creates none)";
    fs::create_directories(scratch.dest());
    fs::create_directories(scratch.root() / "outside");
    write_text(scratch.root() / "outside" / "keep.txt", "untouched");
  }
  Tree outside_only() const {
    return Tree{{"outside", "<dir>"}, {"outside/keep.txt", "untouched"}};
  }
};

TEST_F(ExtractLinks, LinkOnTheWayWithAnAbsoluteTargetIsRefused) {
  fs::create_directory_symlink(scratch.root() / "outside", scratch.dest() / "out");
  write_text(scratch.root() / "outside" / "f.txt", "untouched");
  for (const std::string& name : std::vector<std::string>{"out/evil.txt", "out\\new\\evil.txt", "out/", "out", "out/f.txt"}) {
    SCOPED_TRACE(name);
    const auto result = extract({name.back() == '/' ? directory(name) : file(name, "evil")});
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().reason_text(), "invalid Zip archive: Invalid symlink target path");
    Tree expected = outside_only();
    expected["outside/f.txt"] = "untouched";
    expected["dest"] = "<dir>";
    expected["dest/out"] = "-> " + utf8(scratch.root() / "outside");
    EXPECT_EQ(tree(), expected);
  }
}

TEST_F(ExtractLinks, LinkOnTheWayWithAClimbingTargetIsRefused) {
  fs::create_directory_symlink("../outside", scratch.dest() / "up");
  const auto result = extract({file("up/evil.txt", "evil")});
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().reason_text(), "invalid Zip archive: Invalid symlink target path");
  Tree expected = outside_only();
  expected["dest"] = "<dir>";
  expected["dest/up"] = "-> ../outside";
  EXPECT_EQ(tree(), expected);
}

TEST_F(ExtractLinks, LinkOnTheWayWithATargetBelowIsRefusedAsWell) {
  fs::create_directories(scratch.dest() / "real");
  fs::create_directory_symlink("real", scratch.dest() / "alias");
  fs::create_symlink("real/none", scratch.dest() / "dangling");
  for (const std::string& name : std::vector<std::string>{"alias/x.txt", "alias", "dangling"}) {
    SCOPED_TRACE(name);
    const auto result = extract({file(name, "x")});
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().reason_text(), "invalid Zip archive: Invalid base path");
    Tree expected = outside_only();
    expected["dest"] = "<dir>";
    expected["dest/real"] = "<dir>";
    expected["dest/alias"] = "-> real";
    expected["dest/dangling"] = "-> real/none";
    EXPECT_EQ(tree(), expected);
  }
}

// A link entry is made with its target unchanged. An entry on its way is another reading of its
// path (a folder of the link's name): the archive does not open, and nothing is written.
TEST_F(ExtractLinks, LinkEntriesAreMadeWithTheirTargetUnchangedAndNeverWalkedThrough) {
  const std::string outside = utf8(scratch.root() / "outside");
  const auto through = payload::open_archive(
      build_zip({test_support::unix_link("esc", outside), file("esc/evil.txt", "evil")}).span());
  ASSERT_FALSE(through.has_value());
  EXPECT_EQ(through.error().reason_text(), "invalid Zip archive: Duplicate file path");

  ASSERT_TRUE(extract({test_support::unix_link("docs", "real\\docs"), test_support::unix_link("esc", outside)}));
  Tree expected = outside_only();
  expected["dest"] = "<dir>";
  expected["dest/docs"] = "-> real\\docs";
  expected["dest/esc"] = "-> " + outside;
  EXPECT_EQ(tree(), expected);
}

}  // namespace
