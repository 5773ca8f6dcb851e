#include "network/download_sink.h"

#include <gtest/gtest.h>

#include "tests/support/test_log.h"
#include "tests/support/test_paths.h"

namespace installer {
namespace {

TEST(FileSinkTest, WritesCountsAndResetTruncatesToZero) {
  test_support::ScopedTempDir dir;
  std::wstring path = dir.File(L"sink.bin");
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  {
    FileSink sink(file);
    EXPECT_EQ(0u, sink.bytes_written());
    EXPECT_TRUE(sink.Write("hello ", 6));
    EXPECT_TRUE(sink.Write("world", 5));
    EXPECT_TRUE(sink.Write("", 0));
    EXPECT_EQ(11u, sink.bytes_written());
    EXPECT_EQ("hello world", test_support::ReadFileBytes(path));
    EXPECT_TRUE(sink.Reset());
    EXPECT_EQ(0u, sink.bytes_written());
    EXPECT_EQ("", test_support::ReadFileBytes(path));
    EXPECT_TRUE(sink.Write("again", 5));
    EXPECT_EQ("again", test_support::ReadFileBytes(path));
  }
  // The sink borrows the handle: it is still open.
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(file, "!", 1, &written, nullptr));
  CloseHandle(file);
  EXPECT_EQ("again!", test_support::ReadFileBytes(path));
}

TEST(FileSinkTest, AFailedWriteCountsNothing) {
  test_support::ScopedTempDir dir;
  std::wstring path = dir.File(L"readonly.bin");
  ASSERT_TRUE(test_support::WriteFileBytes(path, "abc"));
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  FileSink sink(file);
  SetLastError(0);
  EXPECT_FALSE(sink.Write("xyz", 3));
  EXPECT_NE(0u, GetLastError());
  EXPECT_EQ(0u, sink.bytes_written());
  EXPECT_FALSE(sink.Reset());  // the truncation fails on a read-only handle
  EXPECT_EQ(0u, sink.bytes_written());
  CloseHandle(file);
  EXPECT_EQ("abc", test_support::ReadFileBytes(path));
}

TEST(StringSinkTest, AppendsAndResets) {
  StringSink sink(kMaxArchiveBytes);
  EXPECT_TRUE(sink.Write("ab\0c", 4));
  EXPECT_TRUE(sink.Write(nullptr, 0));
  EXPECT_EQ(std::string("ab\0c", 4), sink.data());
  EXPECT_EQ(4u, sink.bytes_written());
  EXPECT_TRUE(sink.Reset());
  EXPECT_EQ("", sink.data());
  EXPECT_EQ(0u, sink.bytes_written());
}

// A sink holds up to its cap and not a byte more; the refused write counts nothing.
TEST(StringSinkTest, RefusesWritesPastItsCap) {
  test_support::ScopedTestLog log;
  StringSink sink(5);
  EXPECT_TRUE(sink.Write("abc", 3));
  EXPECT_FALSE(sink.Write("def", 3));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_TOO_LARGE), GetLastError());
  EXPECT_TRUE(sink.Write("de", 2));
  EXPECT_FALSE(sink.Write("f", 1));
  EXPECT_EQ("abcde", sink.data());
  EXPECT_EQ(5u, sink.bytes_written());
  EXPECT_EQ(2, log.CountLines(L"larger than the 5 bytes expected"));
  EXPECT_TRUE(sink.Reset());
  EXPECT_TRUE(sink.Write("12345", 5));
}

}  // namespace
}  // namespace installer
