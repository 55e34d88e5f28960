// Extraction when the disk refuses a write: the run stops at that entry with the system's text,
// keeps what was written before it, and writes nothing after it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "faults/windows/fault_fixture.hpp"
#include "payload/archive.hpp"
#include "support/zip_builder.hpp"

namespace {

using faults::Hook;
using faults::NtWriteFile_import;
using payload::ArchiveError;
using test_support::ZipEntry;

using ExtractFault = fs_test::TempTree;

constexpr NTSTATUS status_disk_full = static_cast<NTSTATUS>(0xC000007F);

TEST_F(ExtractFault, AFullDiskStopsAtTheEntryBeingWrittenAndKeepsWhatCameBefore) {
  const std::string big(300 * 1024, 'z');  // more than one write's worth
  const auto zip = test_support::build_zip({
      ZipEntry{.name = "a.txt", .data = "alpha"},
      ZipEntry{.name = "sub\\big.bin", .data = big},
      ZipEntry{.name = "c.txt", .data = "gamma"},
  });
  auto archive = payload::open_archive(zip.span());
  ASSERT_TRUE(archive) << archive.error().reason_text();
  int writes = 0;
  {
    // a.txt's one write goes through; big.bin's first write finds the disk full.
    Hook<NtWriteFile_import> full(faults::ntdll, "NtWriteFile",
                                  [&](HANDLE handle, HANDLE event, PIO_APC_ROUTINE apc, PVOID context,
                                      PIO_STATUS_BLOCK io, PVOID buffer, ULONG length, PLARGE_INTEGER offset,
                                      PULONG key) -> NTSTATUS {
                                    if (++writes > 1) return status_disk_full;
                                    return NtWriteFile_import::original(handle, event, apc, context, io, buffer,
                                                                        length, offset, key);
                                  });
    ASSERT_HOOKED(full);
    const auto extracted = payload::extract_all(*archive, at({"dest"}));
    ASSERT_FALSE(extracted);
    EXPECT_EQ(extracted.error(), ArchiveError::io(platform::os_error_message(ERROR_DISK_FULL) + " (os error 112)"));
  }
  EXPECT_EQ(writes, 2);  // c.txt is never reached
  EXPECT_EQ(faults::tree(root_), (std::vector<std::string>{"dest/", "dest/a.txt", "dest/sub/", "dest/sub/big.bin"}));
  EXPECT_EQ(fs_test::read_text(at({"dest", "a.txt"})), "alpha");
  EXPECT_EQ(fs_test::read_text(at({"dest", "sub", "big.bin"})), "");
}

}  // namespace
