#include "install/delayed_params.h"

#include <cstring>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "platform/command_line.h"
#include "tests/support/test_log.h"

namespace installer {
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

// A block as the master's section starts: all zero.
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

}  // namespace
}  // namespace installer
