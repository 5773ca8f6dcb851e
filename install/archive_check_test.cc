#include "install/archive_check.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "install/installer.h"

#include "tests/support/test_log.h"
#include "tests/support/test_paths.h"

namespace installer {
namespace {

struct ArchiveCase {
  const wchar_t* file;  // in the build's stand-in folder; "missing.exe" is not copied
  bool held;            // the download's write lock is kept and converted
  ArchiveCheck check;
};

TEST(LockAndVerifyArchiveTest, OnlyThePublishersArchivePassesAndItStaysLocked) {
  const ArchiveCase cases[] = {
      {L"good.exe", false, ArchiveCheck::kVerified},
      {L"good.exe", true, ArchiveCheck::kVerified},
      {L"unsigned.exe", false, ArchiveCheck::kNotVerified},
      {L"tampered.exe", true, ArchiveCheck::kNotVerified},
      {L"no_trusted_json.exe", false, ArchiveCheck::kNotVerified},
      {L"missing.exe", false, ArchiveCheck::kNotLocked},
  };
  for (const ArchiveCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.file << " held " << c.held);
    test_support::ScopedTempDir dir;
    std::wstring archive = dir.File(L"archive.tmp");
    std::wstring source = test_support::BuildFile(std::wstring(L"stand_in\\") + c.file);
    if (std::wstring(c.file) != L"missing.exe") {
      ASSERT_TRUE(CopyFileW(source.c_str(), archive.c_str(), FALSE));
    }
    test_support::ScopedTestLog log;
    Installer installer({});
    std::unique_ptr<ArchiveLock> held;
    if (c.held) held = std::make_unique<ArchiveLock>(archive, true);
    platform::ScopedKernelHandle lock;
    EXPECT_EQ(c.check, LockAndVerifyArchive(&installer, archive, held.get(), &lock, "Tag"));
    EXPECT_EQ(c.check == ArchiveCheck::kVerified && !c.held, lock.is_valid());
    EXPECT_EQ(c.check == ArchiveCheck::kNotLocked ? 1 : 0,
              log.CountLines(L"ERROR: Tag (")) << log.Text();
    if (c.check == ArchiveCheck::kVerified) {
      // Nobody can change the archive between the check and the setup run; reading is fine.
      HANDLE writer = CreateFileW(archive.c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                  nullptr);
      EXPECT_EQ(INVALID_HANDLE_VALUE, writer);
      if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
      EXPECT_FALSE(test_support::ReadFileBytes(archive).empty());
    }
  }
}

}  // namespace
}  // namespace installer
