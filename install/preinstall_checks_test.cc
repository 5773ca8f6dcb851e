#include "install/preinstall_checks.h"

#include <windows.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/test_log.h"

namespace installer {
namespace {

constexpr wchar_t kShortage[] = L"There is not enough disk space to install browser";

class FakeDiskSpace : public DiskSpaceSource {
 public:
  bool GetFolder(int folder_id, std::wstring* folder) override {
    requested_folder_ids.push_back(folder_id);
    if (!folder_ok) return false;
    *folder = folder_id == kProgramFilesFolderId ? L"C:\\Program Files" : L"C:\\Users\\u\\Local";
    return true;
  }
  bool GetFreeBytes(const std::wstring& folder, uint64_t* free_bytes) override {
    measured_folders.push_back(folder);
    if (!free_ok) return false;
    *free_bytes = free;
    return true;
  }

  bool folder_ok = true;
  bool free_ok = true;
  uint64_t free = 0;
  std::vector<int> requested_folder_ids;
  std::vector<std::wstring> measured_folders;
};

TEST(DiskSpaceTest, FreeBytesAgainstRequirement) {
  struct Case {
    uint64_t free;
    uint64_t required;
    bool expected;
  };
  const Case cases[] = {
      {kRequiredDiskSpace, kRequiredDiskSpace, true},
      {kRequiredDiskSpace - 1, kRequiredDiskSpace, false},
      {kRequiredDiskSpace + 1, kRequiredDiskSpace, true},
      {0, kRequiredDiskSpace, false},
      {0, 0, true},
      // Above 4 GiB: the comparison must not be done in 32 bits.
      {0x100000000ull, 0x100000001ull, false},
      {0x100000000ull + kRequiredDiskSpace, kRequiredDiskSpace, true},
      {std::numeric_limits<uint64_t>::max(), std::numeric_limits<uint64_t>::max(), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "free " << c.free << " required " << c.required);
    test_support::ScopedTestLog log;
    FakeDiskSpace source;
    source.free = c.free;
    EXPECT_EQ(c.expected, HasEnoughDiskSpaceForTesting(&source, false, c.required));
    // A shortage is the only line; a pass writes nothing.
    EXPECT_EQ(c.expected ? 0 : 1, log.CountLines(L"INFO: HasEnoughDiskSpace ("));
    EXPECT_EQ(c.expected ? 0 : 1, log.CountLines(kShortage));
  }
}

TEST(DiskSpaceTest, SystemLevelMeasuresProgramFilesAndPerUserLocalAppData) {
  for (bool system_level : {true, false}) {
    FakeDiskSpace source;
    source.free = kRequiredDiskSpace;
    EXPECT_TRUE(HasEnoughDiskSpaceForTesting(&source, system_level, kRequiredDiskSpace));
    ASSERT_EQ(1u, source.requested_folder_ids.size());
    EXPECT_EQ(system_level ? 38 : 28, source.requested_folder_ids[0]);
    ASSERT_EQ(1u, source.measured_folders.size());
    EXPECT_EQ(system_level ? L"C:\\Program Files" : L"C:\\Users\\u\\Local",
              source.measured_folders[0]);
  }
}

TEST(DiskSpaceTest, UnreadableFolderOrFreeSpacePassesWithItsLine) {
  struct Case {
    bool folder_ok;
    bool free_ok;
  };
  const Case cases[] = {{false, true}, {true, false}, {false, false}};
  for (const Case& c : cases) {
    test_support::ScopedTestLog log;
    FakeDiskSpace source;
    source.folder_ok = c.folder_ok;
    source.free_ok = c.free_ok;
    source.free = 0;
    EXPECT_TRUE(HasEnoughDiskSpaceForTesting(&source, true, kRequiredDiskSpace));
    EXPECT_EQ(!c.folder_ok, log.Contains(L"): SHGetFolderPath failed\n"));
    EXPECT_EQ(c.folder_ok && !c.free_ok, log.Contains(L"): GetDiskFreeSpaceEx failed\n"));
    EXPECT_EQ(1, log.CountLines(L"INFO: HasEnoughDiskSpace ("));
    EXPECT_FALSE(log.Contains(kShortage));
    // A folder that cannot be read is never measured.
    EXPECT_EQ(c.folder_ok ? 1u : 0u, source.measured_folders.size());
  }
}

TEST(DiskSpaceTest, MeasuresTheRealVolume) {
  test_support::ScopedTestLog log;
  for (bool system_level : {true, false}) {
    EXPECT_TRUE(HasEnoughDiskSpace(system_level, 1));
    EXPECT_FALSE(HasEnoughDiskSpace(system_level, std::numeric_limits<uint64_t>::max()));
  }
  EXPECT_EQ(2, log.CountLines(kShortage));
  EXPECT_FALSE(log.Contains(L"failed"));
}

}  // namespace
}  // namespace installer
