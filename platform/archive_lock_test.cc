#include "platform/archive_lock.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/support/test_paths.h"

namespace installer {
namespace {

// The lock on XP, whose kernel32 lacks ReOpenFile, opens the archive again by its path: it
// must take only the file it holds. A relative path, resolved against another current folder
// at the reopen, names another file with the same name, size and contents.
TEST(ArchiveLockTest, WithoutReOpenFileOnlyTheSameFileIsTaken) {
  struct Case {
    const char* name;
    bool other_folder_at_reopen;
    bool converted;
  } cases[] = {
      {"same file", false, true},
      {"another file under the same path", true, false},
  };
  wchar_t previous[MAX_PATH];
  ASSERT_NE(0u, GetCurrentDirectoryW(MAX_PATH, previous));
  SetReOpenFileMissingForTesting(true);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test_support::ScopedTempDir first;
    test_support::ScopedTempDir second;
    ASSERT_TRUE(test_support::WriteFileBytes(second.File(L"setup.arc"), "archive"));
    ASSERT_TRUE(SetCurrentDirectoryW(first.path().c_str()));
    {
      ArchiveLock lock(L"setup.arc");
      ASSERT_TRUE(lock.IsValid());
      DWORD written = 0;
      ASSERT_TRUE(WriteFile(lock.handle(), "archive", 7, &written, nullptr));
      if (c.other_folder_at_reopen) SetCurrentDirectoryW(second.path().c_str());
      EXPECT_EQ(c.converted, lock.ConvertToReadExecute());
      if (!c.converted) EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_INVALID), GetLastError());
      SetCurrentDirectoryW(previous);
    }
  }
  SetReOpenFileMissingForTesting(false);
}

// What the reopen by path relies on: while the lock holds the archive, before and after the
// conversion, nobody can rename, replace or delete it.
TEST(ArchiveLockTest, LockedArchiveCannotBeRenamedReplacedOrDeleted) {
  test_support::ScopedTempDir dir;
  const std::wstring path = dir.File(L"setup.arc");
  const std::wstring other = dir.File(L"other.arc");
  ASSERT_TRUE(test_support::WriteFileBytes(other, "other"));
  ArchiveLock lock(path);
  ASSERT_TRUE(lock.IsValid());
  for (bool converted : {false, true}) {
    SCOPED_TRACE(converted ? "read and execute" : "while written");
    if (converted) ASSERT_TRUE(lock.ConvertToReadExecute());
    EXPECT_FALSE(MoveFileExW(path.c_str(), dir.File(L"moved.arc").c_str(), 0));
    EXPECT_FALSE(MoveFileExW(other.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_FALSE(DeleteFileW(path.c_str()));
  }
}

}  // namespace
}  // namespace installer
