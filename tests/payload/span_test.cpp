// The span embedded in the image is the archive file byte for byte: its length is the banner's
// constant, it begins with a local file header and ends with the end record.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "payload/span.hpp"
#include "payload_config.h"

namespace {

std::string read_file(const char* path) {
  std::string bytes;
  if (std::FILE* f = std::fopen(path, "rb")) {
    char chunk[65536];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) bytes.append(chunk, n);
    std::fclose(f);
  }
  return bytes;
}

TEST(PayloadSpan, IsTheArchiveFileByteForByte) {
  const auto span = payload::payload_span();
  const std::string archive = read_file(ZARVO_TEST_ARCHIVE);
  ASSERT_FALSE(archive.empty());
  EXPECT_EQ(payload::payload_length, archive.size());
  EXPECT_EQ(span.size(), archive.size());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(span.data()), span.size()), archive);
}

TEST(PayloadSpan, BeginsWithALocalFileHeaderAndEndsWithTheEndRecord) {
  const auto span = payload::payload_span();
  ASSERT_GE(span.size(), 22u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(span.data()), 4), "PK\x03\x04");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(span.data()) + span.size() - 22, 4), "PK\x05\x06");
}

}  // namespace
