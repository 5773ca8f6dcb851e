#include "platform/shared_sections.h"

#include <windows.h>

#include <cstring>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "platform/asm_symbol.h"
#include "platform/command_line.h"
#include "platform/strings.h"
#include "tests/support/child_process.h"
#include "tests/support/test_log.h"
#include "tests/support/test_paths.h"

namespace installer {

// The section's variables, as platform/shared_sections.cc declares them.
extern DelayedParamBlock g_delayed_params __asm__(LI_ASM_SYMBOL(li_delayed_params));
extern ElevatedRunReport g_elevated_run_report __asm__(LI_ASM_SYMBOL(li_elevated_run_report));

namespace {

DelayedParams FullParams() {
  DelayedParams params;
  params.browser_arc_path = L"C:\\Users\\u\\AppData\\Local\\Temp\\arc1234.tmp";
  params.clids_file_path = L"C:\\Temp\\clids.xml";
  params.clids_searchband_file_path = L"C:\\Temp\\clids_searchband.xml";
  params.installer_data_path = L"C:\\Temp\\master_preferences";
  params.brand_package_path = L"C:\\Temp\\BrandFile";
  params.partner_package_path = L"C:\\Temp\\PartnerFile";
  params.partner_package_override_path = L"C:\\Temp\\\u00DCberride";
  params.send_statistics = true;
  params.make_default = false;
  return params;
}

void ExpectSameParams(const DelayedParams& expected, const DelayedParams& actual) {
  EXPECT_EQ(expected.browser_arc_path, actual.browser_arc_path);
  EXPECT_EQ(expected.clids_file_path, actual.clids_file_path);
  EXPECT_EQ(expected.clids_searchband_file_path, actual.clids_searchband_file_path);
  EXPECT_EQ(expected.installer_data_path, actual.installer_data_path);
  EXPECT_EQ(expected.brand_package_path, actual.brand_package_path);
  EXPECT_EQ(expected.partner_package_path, actual.partner_package_path);
  EXPECT_EQ(expected.partner_package_override_path, actual.partner_package_override_path);
  EXPECT_EQ(expected.send_statistics, actual.send_statistics);
  EXPECT_EQ(expected.make_default, actual.make_default);
}

// A block as the file holds it: all zero.
std::unique_ptr<DelayedParamBlock> ZeroBlock() {
  auto block = std::make_unique<DelayedParamBlock>();
  memset(block.get(), 0, sizeof(*block));
  return block;
}

TEST(DelayedParamsTest, RoundTripThroughTheBlockLayout) {
  test_support::ScopedTestLog log;
  auto block = ZeroBlock();
  DelayedParams params = FullParams();
  ASSERT_TRUE(WriteDelayedParamsTo(params, block.get()));
  ExpectSameParams(params, ReadDelayedParamsFrom(*block));

  // The bytes where the other side of the protocol expects them.
  const auto* bytes = reinterpret_cast<const uint8_t*>(block.get());
  EXPECT_EQ(0, memcmp(bytes + 522, L"C:\\Temp\\clids.xml", 18 * 2));
  EXPECT_EQ(0, memcmp(bytes + 3132, L"C:\\Temp\\\u00DCberride", 17 * 2));
  EXPECT_EQ(1, bytes[3654]);
  EXPECT_EQ(0, bytes[3655]);

  // A second write replaces every field, shorter ones included.
  DelayedParams second;
  second.browser_arc_path = L"D:\\a";
  second.make_default = true;
  ASSERT_TRUE(WriteDelayedParamsTo(second, block.get()));
  ExpectSameParams(second, ReadDelayedParamsFrom(*block));
  EXPECT_EQ(0, bytes[3654]);
  EXPECT_EQ(1, bytes[3655]);
  EXPECT_EQ(L"", log.Text());
}

TEST(DelayedParamsTest, TooLongPathWritesNothingAndLogsEveryField) {
  struct Case {
    std::wstring DelayedParams::*field;
    size_t length;
    bool accepted;
  };
  const Case cases[] = {
      {&DelayedParams::browser_arc_path, 260, true},
      {&DelayedParams::browser_arc_path, 261, false},
      {&DelayedParams::clids_searchband_file_path, 261, false},
      {&DelayedParams::partner_package_override_path, 260, true},
      {&DelayedParams::partner_package_override_path, 400, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.length);
    test_support::ScopedTestLog log;
    auto block = ZeroBlock();
    DelayedParams before;
    before.browser_arc_path = L"previous";
    ASSERT_TRUE(WriteDelayedParamsTo(before, block.get()));

    DelayedParams params = FullParams();
    params.*c.field = std::wstring(c.length - 1, L'p') + L'Z';
    EXPECT_EQ(c.accepted, WriteDelayedParamsTo(params, block.get()));
    if (c.accepted) {
      // The last unit arrives too: the whole field is the limit.
      ExpectSameParams(params, ReadDelayedParamsFrom(*block));
      EXPECT_EQ(L"", log.Text());
      continue;
    }
    ExpectSameParams(before, ReadDelayedParamsFrom(*block));
    EXPECT_EQ(1, log.CountLines(L"ERROR: WriteDelayedParams (")) << log.Text();
    std::wstring text = log.Text();
    std::wstring message =
        L"): Too large string length, browser_arc_path=" + params.browser_arc_path +
        L" clids_file_path=" + params.clids_file_path +
        L" clids_searchband_file_path=" + params.clids_searchband_file_path +
        L" installer_data_path=" + params.installer_data_path +
        L" brand_package_path=" + params.brand_package_path +
        L" partner_package_path=" + params.partner_package_path +
        L" partner_package_override_path=" + params.partner_package_override_path +
        L" send_statistics=1 make_default=0 Last error: ";
    EXPECT_NE(std::wstring::npos, text.find(message)) << text;
  }
}

TEST(DelayedParamsTest, FieldWithoutTerminatorIsCut) {
  auto block = ZeroBlock();
  for (size_t i = 0; i < kDelayedPathUnits; ++i) block->clids_file_path[i] = L'c';
  block->send_statistics = 7;
  DelayedParams params = ReadDelayedParamsFrom(*block);
  EXPECT_EQ(std::wstring(260, L'c'), params.clids_file_path);
  EXPECT_EQ(L"", params.browser_arc_path);
  EXPECT_TRUE(params.send_statistics);
  EXPECT_FALSE(params.make_default);
}

TEST(DelayedParamsTest, BecomesTheChildsSetupCommandLine) {
  CommandLine command_line(
      L"fake_browser_arc --brand-name=z --brand-package=C:\\given --send-statistics "
      L"--progress-window=1234 --verbose-logging");
  DelayedParams params = FullParams();
  params.brand_package_path.clear();
  params.send_statistics = false;
  params.make_default = true;
  ApplyDelayedParams(params, &command_line);
  EXPECT_EQ(params.browser_arc_path, command_line.ProgramPath());
  EXPECT_EQ((CommandLine::SwitchMap{
                {"brand-name", L"z"},
                {"brand-package", L"C:\\given"},  // an empty path keeps what was there
                {"clids-file", params.clids_file_path},
                {"clids-searchband-file", params.clids_searchband_file_path},
                {"installerdata", params.installer_data_path},
                {"make-browser-default-after-import", L""},
                {"override-partner-package", params.partner_package_override_path},
                {"partner-package", params.partner_package_path},
                {"progress-window", L"1234"},
                {"verbose-logging", L""},
            }),
            command_line.switches());
}

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

// The run report sits right after the block, and a master takes only its own child's report
// of the code that child ended with. (No other test of this program writes the report.)
TEST(ElevatedRunReportTest, FollowsTheBlockAndNamesItsChild) {
  EXPECT_EQ(3656, reinterpret_cast<char*>(&g_elevated_run_report) -
                      reinterpret_cast<char*>(&g_delayed_params));
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
  } sections[] = {{kDelayedParamsSectionName, 3656 + 16 + 8}, {kMasterProcessIdSectionName, 4}};
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
  EXPECT_EQ("Shared", std::string(kDelayedParamsSectionName));
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
  std::wstring archive = L"C:\\Temp\\arc " + platform::Widen(suffix) + L"\\setup.tmp";
  uint32_t pid = 100000 + GetCurrentProcessId();
  test_support::ChildProcess writer;
  ASSERT_TRUE(writer.Start(probe + L" \"--write=" + archive + L"\" --pid=" +
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
  EXPECT_EQ(archive + L"|1|0|" + platform::ToWString(pid), lines[0]);

  SetEvent(hold.get());
  ASSERT_TRUE(writer.Wait(60000, &exit_code));
  EXPECT_EQ(0, exit_code);
}

}  // namespace
}  // namespace installer
