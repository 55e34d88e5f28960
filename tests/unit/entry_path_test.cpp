// The path rule that turns an entry name (or a link target) into components below the base.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "payload/entry_path.hpp"

namespace {

using payload::denotes_directory;
using payload::simplified_components;
using Components = std::vector<std::string>;

TEST(EntryPath, BothSeparatorsSplitAndEmptyPiecesVanish) {
  EXPECT_EQ(simplified_components("bin\\zarvo.exe"), Components({"bin", "zarvo.exe"}));
  EXPECT_EQ(simplified_components("bin/zarvo.exe"), Components({"bin", "zarvo.exe"}));
  EXPECT_EQ(simplified_components("skills\\status/SKILL.md"), Components({"skills", "status", "SKILL.md"}));
  EXPECT_EQ(simplified_components("a//b\\\\c/"), Components({"a", "b", "c"}));
  EXPECT_EQ(simplified_components("install.ps1"), Components({"install.ps1"}));
}

TEST(EntryPath, DotIsDroppedAndDotDotPopsWhileBelowTheTop) {
  EXPECT_EQ(simplified_components("a\\..\\b"), Components({"b"}));
  EXPECT_EQ(simplified_components("./a/./b/."), Components({"a", "b"}));
  EXPECT_EQ(simplified_components("a/b/../../c/d/.."), Components({"c"}));
  // Dots that begin a name are part of it.
  EXPECT_EQ(simplified_components(".x\\..x/x.y"), Components({".x", "..x", "x.y"}));
}

TEST(EntryPath, NamesReducingToNothingDenoteTheStart) {
  EXPECT_EQ(simplified_components(""), Components());
  EXPECT_EQ(simplified_components("."), Components());
  EXPECT_EQ(simplified_components("./"), Components());
  EXPECT_EQ(simplified_components("a/.."), Components());
}

TEST(EntryPath, RootedUncDeviceDriveNulAndClimbingNamesHaveNone) {
  for (const std::string& name : std::vector<std::string>{
           "\\x", "/x", "/", "\\", "\\\\server\\share\\x", "//server/share/x", "\\\\?\\C:\\x", "\\\\.\\COM1",
           "\\??\\C:\\x", "C:x", "c:\\x", "z:/x", "C:", std::string("a\0b", 3), std::string("\0", 1), "..",
           "..\\x", "a/../../x", "./../x", "a\\b\\..\\..\\..", "/etc/passwd"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(simplified_components(name), std::nullopt);
  }
}

// A colon anywhere makes a drive or a stream on Windows: the Windows join would take "C:x" as a
// path of its own, and "f:s" writes a stream of "f" (through a link at "f", its target's).
TEST(EntryPath, AColonInAnyComponentHasNone) {
  for (const std::string& name : std::vector<std::string>{
           "a\\C:escape.txt", "a/C:escape.txt", "./D:/x/y.dll", ".\\d:\\x", "x/C:", "x\\c:\\", "a/b/Z:", "1:x",
           "docs:x", "f::$DATA", "bin\\zarvo.exe:Zone.Identifier", "a/../C:x", "C:x/..", "\xC3\xBC" "ber:x", ":"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(simplified_components(name), std::nullopt);
  }
}

// Names that Win32 rewrites: written below the verbatim base as they stand, they would be files
// that neither Explorer nor PowerShell can open or delete.
TEST(EntryPath, NamesWin32ReadsAsSomethingElseHaveNone) {
  for (const std::string& name : std::vector<std::string>{
           "CON", "docs/aux.txt", "nul", "Prn.log", "COM1", "lpt9.txt", "COM\xC2\xB9", "con .txt", "x.", "x/y./z",
           "docs /a.txt", "...", "a\\.. .\\b", "CON/.."}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(simplified_components(name), std::nullopt);
  }
  EXPECT_EQ(simplified_components("CONSOLE/COM10.txt"), Components({"CONSOLE", "COM10.txt"}));
}

TEST(EntryPath, TrailingSeparatorMarksADirectory) {
  EXPECT_TRUE(denotes_directory("a/"));
  EXPECT_TRUE(denotes_directory("a\\b\\"));
  EXPECT_TRUE(denotes_directory("./"));
  EXPECT_FALSE(denotes_directory("a"));
  EXPECT_FALSE(denotes_directory("a/b"));
  EXPECT_FALSE(denotes_directory("."));
  EXPECT_FALSE(denotes_directory(""));
}

}  // namespace
