// The texts of PlatformError, the kind table of the backend's codes, and the system-message
// fallbacks.
#include "platform/error.hpp"

#include <gtest/gtest.h>

#include <cerrno>

#include "platform/system_message.hpp"

namespace {

using platform::ErrorKind;
using platform::PlatformError;

TEST(ErrorText, EachFormShowsItsOwnText) {
  EXPECT_EQ(platform::error_text(platform::nul_in_data_error()), "nul byte found in provided data");
  EXPECT_EQ(platform::error_text(PlatformError::os(5)), platform::os_error_message(5) + " (os error 5)");
}

TEST(ErrorText, CodesFrom0x80000000AreShownAsNegativeDecimals) {
  // The system's wording is not predictable; the suffix and the source of the message are.
  EXPECT_EQ(platform::error_text(PlatformError::os(0x80000000)),
            platform::os_error_message(0x80000000) + " (os error -2147483648)");
  EXPECT_EQ(platform::error_text(PlatformError::os(0x80070005)),
            platform::os_error_message(0x80070005) + " (os error -2147024891)");
  EXPECT_EQ(platform::error_text(PlatformError::os(0xFFFFFFFF)),
            platform::os_error_message(0xFFFFFFFF) + " (os error -1)");
}

TEST(ErrorDetail, NamesTheFormItsFieldsAndTheKind) {
  EXPECT_EQ(platform::error_detail(PlatformError::os(2)),
            "Os { code: 2, kind: NotFound, message: \"" + platform::os_error_message(2) + "\" }");
  EXPECT_EQ(platform::error_detail(platform::nul_in_data_error()),
            "Error { kind: InvalidInput, message: \"nul byte found in provided data\" }");
}

TEST(OsErrorKind, FollowsTheBackendsTable) {
#ifdef _WIN32
  const std::pair<std::uint32_t, ErrorKind> cases[] = {
      {2, ErrorKind::NotFound},          {3, ErrorKind::NotFound},
      {15, ErrorKind::NotFound},         {53, ErrorKind::NotFound},
      {67, ErrorKind::NotFound},         {5, ErrorKind::PermissionDenied},
      {10013, ErrorKind::PermissionDenied}, {109, ErrorKind::BrokenPipe},
      {232, ErrorKind::BrokenPipe},      {10058, ErrorKind::BrokenPipe},
      {80, ErrorKind::AlreadyExists},    {183, ErrorKind::AlreadyExists},
      {87, ErrorKind::InvalidInput},     {10022, ErrorKind::InvalidInput},
      {0, ErrorKind::Uncategorized},     {32, ErrorKind::Uncategorized},
      {267, ErrorKind::Uncategorized},   {0x80000000, ErrorKind::Uncategorized},
  };
#else
  const std::pair<std::uint32_t, ErrorKind> cases[] = {
      {ENOENT, ErrorKind::NotFound},      {EACCES, ErrorKind::PermissionDenied},
      {EPERM, ErrorKind::PermissionDenied}, {EPIPE, ErrorKind::BrokenPipe},
      {EEXIST, ErrorKind::AlreadyExists}, {EINVAL, ErrorKind::InvalidInput},
      {EINTR, ErrorKind::Interrupted},    {ENOTDIR, ErrorKind::Uncategorized},
      {0, ErrorKind::Uncategorized},      {0x80000000, ErrorKind::Uncategorized},
  };
#endif
  for (const auto& [code, kind] : cases) {
    SCOPED_TRACE(code);
    EXPECT_EQ(PlatformError::os(code).kind(), kind);
  }
}

#ifdef _WIN32
TEST(OsErrorMessage, ACodeWithoutATextFallsBackToItsNumberAndFormatMessagesError) {
  // 317 is ERROR_MR_MID_NOT_FOUND: no message for that number.
  EXPECT_EQ(platform::os_error_message(0xE0000000), "OS Error -536870912 (FormatMessageW() returned error 317)");
  // With the NT facility bit the number is looked up in ntdll's table (and shown) without it.
  EXPECT_EQ(platform::os_error_message(0x1FFFFFFF), "OS Error 268435455 (FormatMessageW() returned error 317)");
  EXPECT_EQ(platform::os_error_message(0xFFFFFFFF), "OS Error -268435457 (FormatMessageW() returned error 317)");
}
#else
TEST(OsErrorMessage, IsTheCLibrarysText) {
  EXPECT_EQ(platform::os_error_message(ENOENT), "No such file or directory");
  EXPECT_EQ(platform::error_text(PlatformError::os(EACCES)), "Permission denied (os error 13)");
}
#endif

TEST(SystemMessageText, TrailingAsciiWhiteSpaceIsRemovedAndInnerTextKept) {
  EXPECT_EQ(platform::system_message_text<char16_t>(5, u"Access denied.\r\n", 0), "Access denied.");
  EXPECT_EQ(platform::system_message_text<char16_t>(5, u"Two\r\nlines \t\f\n", 0), "Two\r\nlines");
  EXPECT_EQ(platform::system_message_text<char16_t>(5, u" \r\n", 0), "");
  EXPECT_EQ(platform::system_message_text<char16_t>(5, u"Acc\u00E8s refus\u00E9. \U0001F600\r\n", 0),
            "Acc\xC3\xA8s refus\xC3\xA9. \xF0\x9F\x98\x80");
}

TEST(SystemMessageText, FailuresAndInvalidUtf16GiveTheFallbackTextsWithSignedNumbers) {
  EXPECT_EQ(platform::system_message_text<char16_t>(0x80000000, std::nullopt, 317),
            "OS Error -2147483648 (FormatMessageW() returned error 317)");
  EXPECT_EQ(platform::system_message_text<char16_t>(4390, std::nullopt, 0xFFFFFFFE),
            "OS Error 4390 (FormatMessageW() returned error -2)");
  EXPECT_EQ(platform::system_message_text<char16_t>(5, u"bad \xDC00 text", 0),
            "OS Error 5 (FormatMessageW() returned invalid UTF-16)");
  EXPECT_EQ(platform::system_message_text<char16_t>(0xC0000005, u"cut \xD800", 0),
            "OS Error -1073741819 (FormatMessageW() returned invalid UTF-16)");
}

}  // namespace
