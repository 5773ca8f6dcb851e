#include "install/elevation.h"

#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "brand/distrib_info_params.h"
#include "platform/command_line.h"
#include "platform/strings.h"
#include "platform/windows_version.h"
#include "tests/support/test_log.h"

namespace installer {
namespace {

// ---------------------------------------------------------------------------------------
// GetUacMode

struct UacCase {
  DistribInfoParams::ParamMap params;
  const wchar_t* command_line;
  int mode;
};

TEST(GetUacModeTest, FollowsTheDistributionParameterAndTheFirstRunRule) {
  const UacCase cases[] = {
      {{}, L"i.exe", 0},
      {{{"uac", "2"}}, L"i.exe", 2},
      {{{"uac", "1"}}, L"i.exe", 1},
      {{{"uac", "0"}}, L"i.exe", 0},
      {{{"uac", "3"}}, L"i.exe", 0},
      {{{"uac", "-1"}}, L"i.exe", 0},
      // System-level and Program Files installations never ask the window to elevate.
      {{{"uac", "2"}}, L"i.exe --system-level", 0},
      {{{"uac", "1"}}, L"i.exe --program-files-installation", 0},
      // Not a decimal 32-bit number: as if absent.
      {{{"uac", ""}}, L"i.exe", 0},
      {{{"uac", "abc"}}, L"i.exe", 0},
      {{{"uac", "2x"}}, L"i.exe", 0},
      {{{"uac", " 2"}}, L"i.exe", 0},
      {{{"uac", "4294967298"}}, L"i.exe", 0},
      {{{"uac", "99999999999999999999"}}, L"i.exe", 0},
      // The first-run rule for "uac" 0.
      {{{"uac", "0"}, {"first", "1"}, {"def", "1"}, {"stat", "1"}}, L"i.exe", 1},
      {{{"uac", "0"}, {"first", "1"}, {"def", "2"}, {"stat", "2"}}, L"i.exe", 1},
      {{{"uac", "0"}, {"first", "1"}, {"def", "1"}, {"statpromo", ""}}, L"i.exe", 1},
      {{{"uac", "0"}, {"first", "1"}, {"def", "1"}}, L"i.exe", 0},
      {{{"uac", "0"}, {"first", "1"}, {"stat", "1"}}, L"i.exe", 0},
      {{{"uac", "0"}, {"first", "1"}, {"def", "3"}, {"stat", "1"}}, L"i.exe", 0},
      {{{"uac", "0"}, {"first", "1"}, {"def", "1"}, {"stat", "0"}}, L"i.exe", 0},
      {{{"uac", "0"}, {"first", "2"}, {"def", "1"}, {"stat", "1"}}, L"i.exe", 0},
      {{{"uac", "0"}, {"def", "1"}, {"stat", "1"}}, L"i.exe", 0},
      {{{"uac", "0"}, {"first", "1"}, {"def", "1"}, {"stat", "1"}}, L"i.exe --system-level", 0},
      // The rule belongs to "uac" 0 only: absent or malformed "uac" stays 0.
      {{{"first", "1"}, {"def", "1"}, {"stat", "1"}}, L"i.exe", 0},
      {{{"uac", "x"}, {"first", "1"}, {"def", "1"}, {"stat", "1"}}, L"i.exe", 0},
  };
  for (const UacCase& c : cases) {
    DistribInfoParams params;
    params.SetParamsForTesting(c.params);
    std::string description;
    for (const auto& [key, value] : c.params) description += key + "=" + value + " ";
    EXPECT_EQ(c.mode, GetUacMode(params, CommandLine(c.command_line)))
        << description << platform::Narrow(c.command_line);
  }
}

// ---------------------------------------------------------------------------------------
// NeedStartThisProcessAsAdmin

class FakeAdminStatus : public AdminStatus {
 public:
  FakeAdminStatus(bool in_group, bool elevated) : in_group_(in_group), elevated_(elevated) {}
  bool IsInAdminGroup() override { return in_group_; }
  bool IsElevated() override { return elevated_; }

 private:
  bool in_group_;
  bool elevated_;
};

struct NeedAdminCase {
  bool in_group;
  bool elevated;
  int version_class;
  const wchar_t* command_line;
  bool result;
  const wchar_t* log_line;  // the one line expected, or null for none
};

TEST(NeedStartThisProcessAsAdminTest, DecisionTable) {
  const int seven = platform::kWindows7;
  const wchar_t kAlreadyElevated[] =
      L"): The installer already runs with administrator rights; it starts no elevated copy.\n";
  const NeedAdminCase cases[] = {
      {false, true, seven, L"i.exe", false,
       L"INFO: NeedStartThisProcessAsAdmin (1448): User is not in admin group.\n"},
      {true, false, platform::kWindowsXp, L"i.exe", false,
       L"INFO: NeedStartThisProcessAsAdmin (1453): Windows version is not suitable for "
       L"elevated restart.\n"},
      {true, false, platform::kWindowsServer2003, L"i.exe", false,
       L"INFO: NeedStartThisProcessAsAdmin (1453): Windows version is not suitable for "
       L"elevated restart.\n"},
      {true, false, platform::kWindowsVista, L"i.exe", true, nullptr},
      {true, false, seven, L"i.exe --patch", false,
       L"INFO: NeedStartThisProcessAsAdmin (1462): Found non install-switch:patch\n"},
      // The first in table order is named, not the first on the command line.
      {true, false, seven, L"i.exe --pttw0 --show-eula", false,
       L"INFO: NeedStartThisProcessAsAdmin (1462): Found non install-switch:show-eula\n"},
      {true, false, seven, L"i.exe /SET-AS-DEFAULT-BROWSER --run-as-admin", false,
       L"INFO: NeedStartThisProcessAsAdmin (1462): Found non install-switch:"
       L"set-as-default-browser\n"},
      {true, false, seven, L"i.exe --run-as-admin", false,
       L"INFO: NeedStartThisProcessAsAdmin (1468): Run-as-admin functionality is already "
       L"enabled.\n"},
      {true, false, seven, L"i.exe --brand-name=x", true, nullptr},
      {true, false, seven, L"i.exe --silent --uac-enabled", true, nullptr},
      {true, false, seven, L"i.exe --semi-silent", true, nullptr},
      // Already elevated: no copy, silent or not; the rules before this one still speak first.
      {true, true, seven, L"i.exe --silent", false, kAlreadyElevated},
      {true, true, seven, L"i.exe --semi-silent", false, kAlreadyElevated},
      {true, true, platform::kWindowsXp, L"i.exe", false,
       L"INFO: NeedStartThisProcessAsAdmin (1453): Windows version is not suitable for "
       L"elevated restart.\n"},
      {true, false, seven, L"i.exe --silent", false,
       L"INFO: NeedStartThisProcessAsAdmin (1477): Elevated run is necessary but silent "
       L"instalation is requested - UAC will not be shown.\n"},
      {true, false, platform::kWindows10Build17604, L"i.exe", true, nullptr},
  };
  for (const NeedAdminCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.command_line << " class " << c.version_class);
    test_support::ScopedTestLog log;
    platform::WindowsVersionInfo version;
    version.version_class = c.version_class;
    platform::ScopedWindowsVersionForTesting scoped_version(version);
    FakeAdminStatus status(c.in_group, c.elevated);
    EXPECT_EQ(c.result, NeedStartThisProcessAsAdmin(CommandLine(c.command_line), &status));
    if (c.log_line == nullptr) {
      EXPECT_EQ(L"", log.Text());
    } else {
      EXPECT_EQ(1, log.CountLines(L"NeedStartThisProcessAsAdmin")) << log.Text();
      EXPECT_EQ(1, log.CountLines(c.log_line)) << log.Text();
    }
  }
}

// ---------------------------------------------------------------------------------------
// AreUACNotificationsEnabled

TEST(AreUACNotificationsEnabledTest, LogsTheValueItDecidesBy) {
  test_support::ScopedTestLog log;
  bool enabled = AreUACNotificationsEnabled();
  std::wstring prefix =
      L"INFO: AreUACNotificationsEnabled (143): Read HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\"
      L"Windows\\CurrentVersion\\Policies\\System\\ConsentPromptBehaviorAdmin which is \"";
  std::wstring text = log.Text();
  size_t at = text.find(prefix);
  ASSERT_NE(std::wstring::npos, at) << text;
  size_t value_start = at + prefix.size();
  size_t value_end = text.find(L"\"\n", value_start);
  ASSERT_NE(std::wstring::npos, value_end) << text;
  std::wstring value = text.substr(value_start, value_end - value_start);
  uint64_t number = 0;
  ASSERT_TRUE(platform::StringToUint64(value, &number)) << value;
  EXPECT_EQ(number != 0, enabled);

  // The value the registry holds, read independently.
  DWORD stored = 0;
  DWORD stored_size = sizeof(stored);
  DWORD type = 0;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System", 0,
                    KEY_READ, &key) == ERROR_SUCCESS) {
    if (RegQueryValueExW(key, L"ConsentPromptBehaviorAdmin", nullptr, &type,
                         reinterpret_cast<BYTE*>(&stored), &stored_size) != ERROR_SUCCESS ||
        type != REG_DWORD) {
      stored = 0;
    }
    RegCloseKey(key);
  }
  EXPECT_EQ(static_cast<uint64_t>(stored), number);
}

}  // namespace
}  // namespace installer
