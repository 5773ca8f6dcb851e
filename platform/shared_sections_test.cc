#include "platform/shared_sections.h"

#include <windows.h>

#include <cstring>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "platform/strings.h"
#include "tests/support/child_process.h"
#include "tests/support/test_log.h"
#include "tests/support/test_paths.h"

namespace installer {

namespace {

// ---------------------------------------------------------------------------------------
// The sections in the executable.

struct SectionInfo {
  bool found = false;
  uint32_t virtual_size = 0;
  uint32_t raw_size = 0;
  uint32_t raw_offset = 0;
  uint32_t characteristics = 0;
};

uint32_t Read32(const std::string& bytes, size_t offset) {
  uint32_t value = 0;
  if (offset + 4 <= bytes.size()) memcpy(&value, bytes.data() + offset, 4);
  return value;
}

uint16_t Read16(const std::string& bytes, size_t offset) {
  uint16_t value = 0;
  if (offset + 2 <= bytes.size()) memcpy(&value, bytes.data() + offset, 2);
  return value;
}

SectionInfo FindSection(const std::string& image, const std::string& name) {
  SectionInfo info;
  uint32_t pe = Read32(image, 0x3C);
  if (image.size() < 64 || image.compare(0, 2, "MZ") != 0 || pe + 24 > image.size() ||
      image.compare(pe, 4, std::string("PE\0\0", 4)) != 0) {
    return info;
  }
  uint16_t count = Read16(image, pe + 6);
  uint16_t optional_size = Read16(image, pe + 20);
  size_t table = pe + 24 + optional_size;
  for (uint16_t i = 0; i < count; ++i) {
    size_t header = table + i * 40u;
    if (header + 40 > image.size()) break;
    std::string section_name(image.data() + header, 8);
    section_name.resize(strnlen(section_name.c_str(), 8));
    if (section_name != name) continue;
    info.found = true;
    info.virtual_size = Read32(image, header + 8);
    info.raw_size = Read32(image, header + 16);
    info.raw_offset = Read32(image, header + 20);
    info.characteristics = Read32(image, header + 36);
  }
  return info;
}

// A master takes only its own child's report of the code that child ended with. (No other
// test of this program writes the report.)
TEST(ElevatedRunReportTest, NamesItsChild) {
  WriteElevatedRunReport(true, 7, 0);
  const uint32_t self = GetCurrentProcessId();
  const ElevatedRunReport report = ReadElevatedRunReport();
  EXPECT_TRUE(ReportShowsSetupRan(report, self, 7));
  EXPECT_FALSE(ReportShowsSetupRan(report, self + 4, 7));  // another child's
  EXPECT_FALSE(ReportShowsSetupRan(report, self, 0));      // not the code it ended with
  // Another master's clear leaves it; the clear of a child of this id forgets it.
  ClearElevatedRunReport(self + 4);
  EXPECT_TRUE(ReportShowsSetupRan(ReadElevatedRunReport(), self, 7));
  ClearElevatedRunReport(self);
  EXPECT_FALSE(ReportShowsSetupRan(ReadElevatedRunReport(), self, 7));
  // A child that ran no setup reports only what it could not log.
  WriteElevatedRunReport(false, 7, 3);
  EXPECT_FALSE(ReportShowsSetupRan(ReadElevatedRunReport(), self, 7));
  EXPECT_EQ(3u, ReadElevatedRunReport().dropped_log_lines);
}

TEST(SharedSectionsTest, ExecutableDeclaresBothSectionsShared) {
  std::string image = test_support::ReadFileBytes(test_support::BuildFile(L"lite_installer.exe"));
  ASSERT_FALSE(image.empty());
  const struct {
    const char* name;
    uint32_t size;
  } sections[] = {{kElevatedRunSectionName, 16 + 8}, {kMasterProcessIdSectionName, 4}};
  for (const auto& expected : sections) {
    SCOPED_TRACE(expected.name);
    SectionInfo info = FindSection(image, expected.name);
    ASSERT_TRUE(info.found);
    EXPECT_EQ(expected.size, info.virtual_size);
    const uint32_t wanted = IMAGE_SCN_MEM_SHARED | IMAGE_SCN_MEM_READ | IMAGE_SCN_MEM_WRITE |
                            IMAGE_SCN_CNT_UNINITIALIZED_DATA;
    EXPECT_EQ(wanted, info.characteristics & wanted);
    EXPECT_EQ(0u, info.characteristics & IMAGE_SCN_MEM_EXECUTE);
    // Zero in the file: no bytes stored, the loader maps zero pages.
    EXPECT_EQ(0u, info.raw_size);
  }
  EXPECT_EQ("Shared", std::string(kElevatedRunSectionName));
}

TEST(SharedSectionsTest, ValueWrittenByOneProcessIsReadByAnother) {
  std::string suffix = platform::ToString(GetCurrentProcessId()) + "-" +
                       platform::ToString(GetTickCount());
  std::string ready_name = "li-shared-ready-" + suffix;
  std::string hold_name = "li-shared-hold-" + suffix;
  platform::ScopedKernelHandle ready(CreateEventA(nullptr, TRUE, FALSE, ready_name.c_str()));
  platform::ScopedKernelHandle hold(CreateEventA(nullptr, TRUE, FALSE, hold_name.c_str()));
  ASSERT_TRUE(ready && hold);

  std::wstring probe = L"\"" + test_support::TestProgram(L"shared_block_probe.exe") + L"\"";
  uint32_t pid = 100000 + GetCurrentProcessId();
  test_support::ChildProcess writer;
  ASSERT_TRUE(writer.Start(probe + L" --write --pid=" +
                           platform::ToWString(pid) + L" --ready=" +
                           platform::Widen(ready_name) + L" --hold=" + platform::Widen(hold_name)));
  ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(ready.get(), 60000));

  // While the writer keeps the image mapped, a second process sees its bytes.
  test_support::ScopedTempDir dir;
  std::wstring out = dir.File(L"read.txt");
  int32_t exit_code = -1;
  ASSERT_TRUE(test_support::RunProgram(probe + L" --read \"--out=" + out + L"\"", L"", 60000,
                                       &exit_code));
  EXPECT_EQ(0, exit_code);
  std::vector<std::wstring> lines = test_support::ReadUtf16Lines(out);
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ(L"7|1|" + platform::ToWString(writer.id()) + L"|" + platform::ToWString(pid),
            lines[0]);

  SetEvent(hold.get());
  ASSERT_TRUE(writer.Wait(60000, &exit_code));
  EXPECT_EQ(0, exit_code);
}

}  // namespace
}  // namespace installer
