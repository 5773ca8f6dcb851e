#include "brand/file_version.h"

#include <gtest/gtest.h>

#include "build_config/version.h"
#include "tests/support/test_log.h"
#include "tests/support/test_paths.h"

namespace installer {
namespace {

TEST(FileVersionTest, ReadsTheProductVersionNotTheFileVersion) {
  test_support::ScopedTestLog log;
  const std::wstring path = test_support::BuildFile(L"test_programs\\resource_fixture.dll");
  uint32_t most = 0;
  uint32_t least = 0;
  ASSERT_TRUE(GetFileVersion(path, &most, &least));
  // PRODUCTVERSION 4660,5,65535,7 (the file version is 9,8,7,6).
  EXPECT_EQ((4660u << 16) | 5u, most);
  EXPECT_EQ((65535u << 16) | 7u, least);
  EXPECT_EQ(L"4660.5.65535.7", GetFileVersionString(path));
  EXPECT_TRUE(log.Contains(L"INFO: GetFileVersion ("));
  EXPECT_TRUE(log.Contains(L"): Module: " + path + L" Version: " +
                           std::to_wstring((4660u << 16) | 5u) + L"." +
                           std::to_wstring((65535u << 16) | 7u) + L"\n"));
}

TEST(FileVersionTest, InstallerCarriesTheBuildVersion) {
  const std::wstring path = test_support::BuildFile(L"lite_installer.exe");
  uint32_t most = 0;
  uint32_t least = 0;
  ASSERT_TRUE(GetFileVersion(path, &most, &least));
  EXPECT_EQ(static_cast<uint32_t>((LI_VERSION_MAJOR << 16) | LI_VERSION_MINOR), most);
  EXPECT_EQ(static_cast<uint32_t>((LI_VERSION_BUILD << 16) | LI_VERSION_PATCH), least);
  EXPECT_EQ(std::wstring(L"" LI_VERSION_STRING), GetFileVersionString(path));
}

TEST(FileVersionTest, FilesWithoutVersionGiveFailureAndZeroes) {
  test_support::ScopedTempDir dir;
  const std::wstring text_file = dir.File(L"plain.txt");
  ASSERT_TRUE(test_support::WriteFileBytes(text_file, "no version here"));
  for (const std::wstring& path : {text_file, dir.File(L"missing.dll"), dir.path()}) {
    SCOPED_TRACE(testing::Message() << std::string(path.begin(), path.end()));
    uint32_t most = 11;
    uint32_t least = 22;
    EXPECT_FALSE(GetFileVersion(path, &most, &least));
    EXPECT_EQ(11u, most);
    EXPECT_EQ(22u, least);
    EXPECT_EQ(L"0.0.0.0", GetFileVersionString(path));
  }
}

TEST(FormatFileVersionTest, FourSixteenBitParts) {
  struct Case {
    uint32_t most;
    uint32_t least;
    std::wstring expected;
  } cases[] = {
      {0, 0, L"0.0.0.0"},
      {(1u << 16) | 2u, (3u << 16) | 4u, L"1.2.3.4"},
      {0xFFFFFFFF, 0xFFFFFFFF, L"65535.65535.65535.65535"},
      {0x00010000, 0x0000FFFF, L"1.0.0.65535"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, FormatFileVersion(c.most, c.least));
  }
}

}  // namespace
}  // namespace installer
