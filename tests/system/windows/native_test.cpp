// The Windows backend's shared helpers: native paths with the real GetFullPathNameW, the
// wide-string query and the handle owner.
#include "platform/windows/native.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace {

using platform::windows::UniqueHandle;

std::wstring current_directory() {
  return platform::windows::query_wide_string([](wchar_t* buffer, DWORD size) {
           return ::GetCurrentDirectoryW(size, buffer);
         }).value();
}

bool is_open(HANDLE handle) {
  DWORD flags = 0;
  return ::GetHandleInformation(handle, &flags) != 0;
}

TEST(NativePath, ARelativePathIsMadeAbsoluteAgainstTheCurrentDirectoryAndPrefixed) {
  std::wstring base = current_directory();
  if (base.back() != L'\\') base += L'\\';
  ASSERT_EQ(base.substr(1, 2), L":\\");
  EXPECT_EQ(platform::windows::native_path("Programs\\zarvo\\bin\\zarvo-hud.exe").value(),
            L"\\\\?\\" + base + L"Programs\\zarvo\\bin\\zarvo-hud.exe");
  EXPECT_EQ(platform::windows::native_path("a/./b/../c").value(), L"\\\\?\\" + base + L"a\\c");
}

TEST(NativePath, LongPathsGetThePrefixAndShortAbsoluteOnesPassAsTheyAre) {
  const std::string tail(292, 'a');
  EXPECT_EQ(platform::windows::native_path("C:\\Temp\\" + tail).value(),
            L"\\\\?\\C:\\Temp\\" + std::wstring(tail.begin(), tail.end()));
  EXPECT_EQ(platform::windows::native_path("C:\\Temp\\x\xC3\xA9").value(), L"C:\\Temp\\x\u00E9");
  EXPECT_EQ(platform::windows::native_path("").value(), L"");
}

TEST(NativePath, ANulIsRefusedBeforeAnySystemCall) {
  using namespace std::string_literals;
  const auto native = platform::windows::native_path("C:\\a\0b"s);
  ASSERT_FALSE(native.has_value());
  EXPECT_EQ(native.error(), platform::nul_in_data_error());
}

TEST(QueryWideString, GrowsTheBufferUntilTheValueFits) {
  const std::wstring value(2000, L'q');
  std::vector<DWORD> offered;
  const auto result = platform::windows::query_wide_string([&](wchar_t* buffer, DWORD size) -> DWORD {
    offered.push_back(size);
    if (size <= value.size()) return static_cast<DWORD>(value.size() + 1);  // size needed, NUL included
    value.copy(buffer, value.size());
    buffer[value.size()] = L'\0';
    return static_cast<DWORD>(value.size());
  });
  EXPECT_EQ(result.value(), value);
  EXPECT_EQ(offered, (std::vector<DWORD>{512, 2001}));
}

TEST(QueryWideString, ATruncatedResultDoublesTheBuffer) {
  // GetModuleFileNameW's way: the size itself, with ERROR_INSUFFICIENT_BUFFER.
  const std::wstring value(1500, L'm');
  std::vector<DWORD> offered;
  const auto result = platform::windows::query_wide_string([&](wchar_t* buffer, DWORD size) -> DWORD {
    offered.push_back(size);
    const std::size_t copied = value.size() < size ? value.size() : size - 1;
    value.copy(buffer, copied);
    buffer[copied] = L'\0';
    if (copied < value.size()) {
      ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return size;
    }
    return static_cast<DWORD>(copied);
  });
  EXPECT_EQ(result.value(), value);
  EXPECT_EQ(offered, (std::vector<DWORD>{512, 1024, 2048}));
}

TEST(QueryWideString, ZeroIsEmptyWhenNoErrorWasSetAndAnOsErrorOtherwise) {
  ::SetLastError(ERROR_FILE_NOT_FOUND);  // stale: must be cleared before the call
  EXPECT_EQ(platform::windows::query_wide_string([](wchar_t*, DWORD) -> DWORD { return 0; }).value(), L"");

  const auto failed = platform::windows::query_wide_string([](wchar_t*, DWORD) -> DWORD {
    ::SetLastError(ERROR_ENVVAR_NOT_FOUND);
    return 0;
  });
  ASSERT_FALSE(failed.has_value());
  EXPECT_EQ(failed.error(), platform::PlatformError::os(ERROR_ENVVAR_NOT_FOUND));
}

TEST(UniqueHandle, ClosesItsHandleOnceAndMovesOwnership) {
  HANDLE raw = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(raw, nullptr);
  {
    UniqueHandle first(raw);
    UniqueHandle second(std::move(first));
    EXPECT_FALSE(first);
    EXPECT_TRUE(second);
    EXPECT_EQ(second.get(), raw);
    UniqueHandle third;
    third = std::move(second);
    EXPECT_EQ(third.get(), raw);
    EXPECT_TRUE(is_open(raw));
  }
  EXPECT_FALSE(is_open(raw));

  HANDLE kept = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  {
    UniqueHandle owner(kept);
    EXPECT_EQ(owner.release(), kept);
  }
  EXPECT_TRUE(is_open(kept));
  UniqueHandle replaced(kept);
  replaced.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  EXPECT_FALSE(is_open(kept));

  // CreateFileW fails with INVALID_HANDLE_VALUE, other calls with NULL: both mean empty.
  EXPECT_FALSE(UniqueHandle(INVALID_HANDLE_VALUE));
  EXPECT_FALSE(UniqueHandle(nullptr));
}

}  // namespace
