// Extraction when the disk refuses a write: the run stops at that entry with the system's text,
// keeps what was written before it, and writes nothing after it.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "faults/posix/fault_support.hpp"
#include "faults/posix/libc_faults.hpp"
#include "payload/archive.hpp"
#include "support/zip_builder.hpp"

namespace {

using faults::Armed;
using faults::Call;
using fault_test::open_descriptors;
using fault_test::tree;
using payload::ArchiveError;
using test_support::ZipEntry;

using ExtractFaults = fs_test::TempTree;

TEST_F(ExtractFaults, AFullDiskStopsAtTheEntryBeingWrittenAndKeepsWhatCameBefore) {
  const std::string big(300 * 1024, 'z');  // more than one write's worth
  const auto zip = test_support::build_zip({
      ZipEntry{.name = "a.txt", .data = "alpha"},
      ZipEntry{.name = "sub\\big.bin", .data = big},
      ZipEntry{.name = "c.txt", .data = "gamma"},
  });
  auto archive = payload::open_archive(zip.span());
  ASSERT_TRUE(archive) << archive.error().reason_text();
  const auto before = open_descriptors();
  {
    // a.txt's one write goes through; big.bin's first and every later write finds the disk full.
    Armed fault({.call = Call::write, .error = ENOSPC, .after = 1, .times = faults::every});
    const auto extracted = payload::extract_all(*archive, at({"dest"}));
    ASSERT_FALSE(extracted);
    EXPECT_EQ(extracted.error(), ArchiveError::io("No space left on device (os error 28)"));
    EXPECT_EQ(extracted.error().reason_text(), "i/o error: No space left on device (os error 28)");
    EXPECT_EQ(fault.calls(), 2);  // no write is retried after ENOSPC, and c.txt is never reached
    EXPECT_EQ(fault.taken(), 1);
  }
  EXPECT_EQ(tree(root_), (std::vector<std::string>{"d dest/", "d dest/sub/", "f dest/a.txt: alpha", "f dest/sub/big.bin: "}));
  EXPECT_EQ(open_descriptors(), before);
}

}  // namespace
