#include "platform/file.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/support/test_paths.h"

namespace platform {
namespace {

using test_support::ScopedTempDir;

TEST(FileTest, FlagsMapOntoCreateFileArguments) {
  struct Case {
    uint32_t flags;
    DWORD disposition;
    DWORD access;
    DWORD sharing;
    DWORD flags_and_attributes;
  };
  const DWORD kReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;
  const Case cases[] = {
      {0x0, 0, 0, kReadWrite, 0},
      {0x1, OPEN_EXISTING, 0, kReadWrite, 0},
      {0x2, CREATE_NEW, 0, kReadWrite, 0},
      {0x4, OPEN_ALWAYS, 0, kReadWrite, 0},
      {0x8, CREATE_ALWAYS, 0, kReadWrite, 0},
      {0x10, TRUNCATE_EXISTING, 0, kReadWrite, 0},
      // The highest disposition bit wins.
      {0x1F, TRUNCATE_EXISTING, 0, kReadWrite, 0},
      {0x0F, CREATE_ALWAYS, 0, kReadWrite, 0},
      {0x07, OPEN_ALWAYS, 0, kReadWrite, 0},
      {0x03, CREATE_NEW, 0, kReadWrite, 0},
      {0x1 | 0x20, OPEN_EXISTING, GENERIC_READ, kReadWrite, 0},
      {0x1 | 0x40, OPEN_EXISTING, GENERIC_WRITE, kReadWrite, 0},
      {0x1 | 0x80, OPEN_EXISTING, FILE_APPEND_DATA, kReadWrite, 0},
      {0x1 | 0x40 | 0x80, OPEN_EXISTING, FILE_APPEND_DATA, kReadWrite, 0},
      {0x1 | 0x100, OPEN_EXISTING, 0, FILE_SHARE_WRITE, 0},
      {0x1 | 0x200, OPEN_EXISTING, 0, FILE_SHARE_READ, 0},
      {0x1 | 0x300, OPEN_EXISTING, 0, 0, 0},
      {0x1 | 0x400, OPEN_EXISTING, 0, kReadWrite, FILE_FLAG_OVERLAPPED},
      {0x1 | 0x800, OPEN_EXISTING, 0, kReadWrite, FILE_ATTRIBUTE_TEMPORARY},
      {0x1 | 0x1000, OPEN_EXISTING, 0, kReadWrite, FILE_ATTRIBUTE_HIDDEN},
      {0x1 | 0x2000, OPEN_EXISTING, 0, kReadWrite, FILE_FLAG_DELETE_ON_CLOSE},
      {0x1 | 0x4000, OPEN_EXISTING, FILE_WRITE_ATTRIBUTES, kReadWrite, 0},
      {0x1 | 0x8000, OPEN_EXISTING, 0, kReadWrite | FILE_SHARE_DELETE, 0},
      {0x1 | 0x20000, OPEN_EXISTING, 0, kReadWrite, FILE_FLAG_BACKUP_SEMANTICS},
      {0x1 | 0x40000, OPEN_EXISTING, GENERIC_EXECUTE, kReadWrite, 0},
      {0x1 | 0x80000, OPEN_EXISTING, 0, kReadWrite, FILE_FLAG_SEQUENTIAL_SCAN},
      {0x1 | 0x100000, OPEN_EXISTING, DELETE, kReadWrite, 0},
      // The setup archive lock: open existing, read, execute, no write sharing.
      {0x40221, OPEN_EXISTING, GENERIC_READ | GENERIC_EXECUTE, FILE_SHARE_READ, 0},
  };
  for (const Case& c : cases) {
    File::CreateArguments args = File::ArgumentsForFlags(c.flags);
    EXPECT_EQ(c.disposition, args.disposition) << std::hex << c.flags;
    EXPECT_EQ(c.access, args.access) << std::hex << c.flags;
    EXPECT_EQ(c.sharing, args.sharing) << std::hex << c.flags;
    EXPECT_EQ(c.flags_and_attributes, args.flags_and_attributes) << std::hex << c.flags;
  }
}

TEST(FileTest, WindowsErrorsTranslate) {
  struct Case {
    DWORD windows_error;
    File::Error error;
  };
  const Case cases[] = {
      {ERROR_SUCCESS, File::Error::kOk},
      {ERROR_FILE_NOT_FOUND, File::Error::kNotFound},
      {ERROR_PATH_NOT_FOUND, File::Error::kNotFound},
      {ERROR_FILE_EXISTS, File::Error::kExists},
      {ERROR_ALREADY_EXISTS, File::Error::kExists},
      {ERROR_ACCESS_DENIED, File::Error::kAccessDenied},
      {ERROR_SHARING_VIOLATION, File::Error::kInUse},
      {ERROR_LOCK_VIOLATION, File::Error::kInUse},
      {ERROR_TOO_MANY_OPEN_FILES, File::Error::kTooManyOpened},
      {ERROR_NOT_ENOUGH_MEMORY, File::Error::kNoMemory},
      {ERROR_DISK_FULL, File::Error::kNoSpace},
      {ERROR_INVALID_PARAMETER, File::Error::kInvalidOperation},
      {ERROR_GEN_FAILURE, File::Error::kFailed},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.error, File::ErrorFromWindowsError(c.windows_error)) << c.windows_error;
  }
}

TEST(FileTest, DispositionsOpenAndCreateAsWindowsDoes) {
  struct Case {
    uint32_t flags;
    bool file_exists;
    bool ok;
    bool created;
    File::Error error;
    const char* contents_after;  // null: no file afterwards
  };
  const uint32_t kRw = File::kFlagRead | File::kFlagWrite;
  const Case cases[] = {
      {File::kFlagOpen | kRw, false, false, false, File::Error::kNotFound, nullptr},
      {File::kFlagOpen | kRw, true, true, false, File::Error::kOk, "old"},
      {File::kFlagCreate | kRw, false, true, true, File::Error::kOk, ""},
      {File::kFlagCreate | kRw, true, false, false, File::Error::kExists, "old"},
      {File::kFlagOpenAlways | kRw, false, true, true, File::Error::kOk, ""},
      {File::kFlagOpenAlways | kRw, true, true, false, File::Error::kOk, "old"},
      {File::kFlagCreateAlways | kRw, false, true, true, File::Error::kOk, ""},
      {File::kFlagCreateAlways | kRw, true, true, true, File::Error::kOk, ""},
      {File::kFlagOpenTruncated | kRw, true, true, false, File::Error::kOk, ""},
      {File::kFlagOpenTruncated | kRw, false, false, false, File::Error::kNotFound, nullptr},
      // Open plus create-new: create-new wins and finds the file.
      {File::kFlagOpen | File::kFlagCreate | kRw, true, false, false, File::Error::kExists, "old"},
      {File::kFlagRead, true, false, false, File::Error::kInvalidOperation, "old"},
  };
  int index = 0;
  for (const Case& c : cases) {
    ScopedTempDir dir;
    std::wstring path = dir.File(L"file.bin");
    if (c.file_exists) {
      ASSERT_TRUE(test_support::WriteFileBytes(path, "old"));
    }
    File file;
    EXPECT_EQ(c.ok, file.Initialize(FilePath(path), c.flags)) << index;
    EXPECT_EQ(c.ok, file.IsValid()) << index;
    EXPECT_EQ(c.created, file.created()) << index;
    EXPECT_EQ(c.error, file.error()) << index;
    if (!c.ok) {
      EXPECT_EQ(nullptr, file.handle()) << index;
    }
    file.Close();
    EXPECT_FALSE(file.IsValid());
    bool exists = GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    EXPECT_EQ(c.contents_after != nullptr, exists) << index;
    if (c.contents_after) {
      EXPECT_EQ(c.contents_after, test_support::ReadFileBytes(path)) << index;
    }
    ++index;
  }
}

TEST(FileTest, FailureKeepsTheLastErrorOfCreateFile) {
  ScopedTempDir dir;
  File file;
  EXPECT_FALSE(file.Initialize(FilePath(dir.File(L"missing\\file")), File::kFlagOpen));
  EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), GetLastError());
  EXPECT_FALSE(file.Initialize(FilePath(dir.File(L"file")), File::kFlagRead));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
}

TEST(FileTest, ArchiveLockKeepsWritersOutButLetsReadersIn) {
  ScopedTempDir dir;
  std::wstring path = dir.File(L"setup.exe");
  ASSERT_TRUE(test_support::WriteFileBytes(path, "MZ"));
  File lock;
  ASSERT_TRUE(lock.Initialize(FilePath(path), 0x40221));
  EXPECT_FALSE(lock.created());

  File writer;
  EXPECT_FALSE(writer.Initialize(FilePath(path), File::kFlagOpen | File::kFlagWrite));
  EXPECT_EQ(File::Error::kInUse, writer.error());
  File reader;
  EXPECT_TRUE(reader.Initialize(FilePath(path), File::kFlagOpen | File::kFlagRead));
  // Deleting needs delete sharing, which the lock does not grant.
  EXPECT_FALSE(DeleteFileW(path.c_str()));

  lock.Close();
  reader.Close();
  EXPECT_TRUE(writer.Initialize(FilePath(path), File::kFlagOpen | File::kFlagWrite));
}

TEST(FileTest, ExclusiveReadRefusesOtherReaders) {
  ScopedTempDir dir;
  std::wstring path = dir.File(L"data");
  ASSERT_TRUE(test_support::WriteFileBytes(path, "x"));
  File first;
  ASSERT_TRUE(first.Initialize(FilePath(path),
                               File::kFlagOpen | File::kFlagRead | File::kFlagExclusiveRead));
  File second;
  EXPECT_FALSE(second.Initialize(FilePath(path), File::kFlagOpen | File::kFlagRead));
  EXPECT_EQ(File::Error::kInUse, second.error());
}

TEST(FileTest, AttributesAndFlagsReachTheFile) {
  ScopedTempDir dir;
  std::wstring hidden = dir.File(L"hidden");
  File file;
  ASSERT_TRUE(file.Initialize(FilePath(hidden),
                              File::kFlagCreate | File::kFlagWrite | File::kFlagHidden |
                                  File::kFlagAsync));
  EXPECT_TRUE(file.async());
  EXPECT_TRUE(file.created());
  file.Close();
  EXPECT_FALSE(file.async());
  DWORD attributes = GetFileAttributesW(hidden.c_str());
  ASSERT_NE(INVALID_FILE_ATTRIBUTES, attributes);
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_HIDDEN);

  std::wstring temporary = dir.File(L"temporary");
  ASSERT_TRUE(file.Initialize(FilePath(temporary), File::kFlagCreate | File::kFlagWrite |
                                                       File::kFlagDeleteOnClose));
  EXPECT_FALSE(file.async());
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(temporary.c_str()));
  file.Close();
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(temporary.c_str()));
}

TEST(FileTest, AppendWritesAtTheEnd) {
  ScopedTempDir dir;
  std::wstring path = dir.File(L"log");
  ASSERT_TRUE(test_support::WriteFileBytes(path, "abc"));
  File file;
  ASSERT_TRUE(file.Initialize(FilePath(path), File::kFlagOpen | File::kFlagAppend));
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(file.handle(), "def", 3, &written, nullptr));
  file.Close();
  EXPECT_EQ("abcdef", test_support::ReadFileBytes(path));
}

TEST(FileTest, InitializeAgainReplacesTheOpenFile) {
  ScopedTempDir dir;
  File file;
  ASSERT_TRUE(file.Initialize(FilePath(dir.File(L"a")), File::kFlagCreate | File::kFlagWrite |
                                                            File::kFlagExclusiveWrite));
  ASSERT_TRUE(file.Initialize(FilePath(dir.File(L"b")), File::kFlagOpenAlways | File::kFlagWrite));
  EXPECT_TRUE(file.created());
  // The first file is no longer held.
  File again;
  EXPECT_TRUE(again.Initialize(FilePath(dir.File(L"a")), File::kFlagOpen | File::kFlagWrite));
  // A failing Initialize leaves nothing open.
  EXPECT_FALSE(file.Initialize(FilePath(dir.File(L"missing")), File::kFlagOpen));
  EXPECT_FALSE(file.IsValid());
  EXPECT_FALSE(file.created());
}

size_t PageSize() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwPageSize;
}

TEST(MappedFileTest, LengthIsTheMappedRegionInWholePages) {
  ASSERT_EQ(4096u, PageSize());
  struct Case {
    size_t file_size;
    size_t length;
  };
  const Case cases[] = {{1, 4096}, {4096, 4096}, {4097, 8192}, {5000, 8192}, {20000, 20480}};
  for (const Case& c : cases) {
    ScopedTempDir dir;
    std::string bytes(c.file_size, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>('a' + i % 26);
    std::wstring path = dir.File(L"image.exe");
    ASSERT_TRUE(test_support::WriteFileBytes(path, bytes));
    MappedFile mapped;
    ASSERT_TRUE(mapped.Open(FilePath(path))) << c.file_size;
    ASSERT_TRUE(mapped.IsValid());
    EXPECT_EQ(c.length, mapped.length()) << c.file_size;
    ASSERT_NE(nullptr, mapped.data());
    EXPECT_EQ(bytes, std::string(reinterpret_cast<const char*>(mapped.data()), c.file_size));
    // The rest of the last page reads as zero.
    for (size_t i = c.file_size; i < mapped.length(); ++i) {
      ASSERT_EQ(0, mapped.data()[i]) << i;
    }
  }
}

TEST(MappedFileTest, OpenFailsForMissingAndEmptyFiles) {
  ScopedTempDir dir;
  MappedFile missing;
  EXPECT_FALSE(missing.Open(FilePath(dir.File(L"missing"))));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
  EXPECT_FALSE(missing.IsValid());
  EXPECT_EQ(nullptr, missing.data());
  EXPECT_EQ(0u, missing.length());

  std::wstring empty = dir.File(L"empty");
  ASSERT_TRUE(test_support::WriteFileBytes(empty, ""));
  MappedFile mapped_empty;
  EXPECT_FALSE(mapped_empty.Open(FilePath(empty)));
  EXPECT_EQ(0u, mapped_empty.length());
}

TEST(MappedFileTest, SharesReadingButNotWriting) {
  ScopedTempDir dir;
  std::wstring path = dir.File(L"image.exe");
  ASSERT_TRUE(test_support::WriteFileBytes(path, "contents"));
  MappedFile mapped;
  ASSERT_TRUE(mapped.Open(FilePath(path)));
  EXPECT_EQ("contents", test_support::ReadFileBytes(path));
  File writer;
  EXPECT_FALSE(writer.Initialize(FilePath(path), File::kFlagOpen | File::kFlagWrite));
  // A second Open on the same object keeps the first mapping.
  std::wstring other = dir.File(L"other");
  ASSERT_TRUE(test_support::WriteFileBytes(other, "other"));
  EXPECT_FALSE(mapped.Open(FilePath(other)));
  EXPECT_EQ("contents", std::string(reinterpret_cast<const char*>(mapped.data()), 8));
}

}  // namespace
}  // namespace platform
