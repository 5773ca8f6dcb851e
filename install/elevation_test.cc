#include "install/elevation.h"

#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "brand/distrib_info_params.h"
#include "platform/strings.h"
#include "platform/windows_version.h"
#include "platform/command_line.h"
#include "tests/support/child_process.h"
#include "tests/support/pending_deletions.h"
#include "tests/support/test_log.h"
#include "tests/support/test_paths.h"

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
      {true, true, seven, L"i.exe --silent", true, nullptr},
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
// IsUserAnAdminGroup, AreUACNotificationsEnabled

TEST(IsUserAnAdminGroupTest, UnreadableTokenIsLoggedAndFalse) {
  test_support::ScopedTestLog log;
  EXPECT_FALSE(IsUserAnAdminGroup(nullptr));
  EXPECT_EQ(1, log.CountLines(L"ERROR: GetProcessToken (33): OpenProcessToken fail Last error: "))
      << log.Text();
}

TEST(IsUserAnAdminGroupTest, AgreesWithTheTokenMembershipOfTheCurrentProcess) {
  BYTE admins[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof(admins);
  ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size));
  BOOL member = FALSE;
  ASSERT_TRUE(CheckTokenMembership(nullptr, admins, &member));
  // An enabled membership is always listed in the token's groups (a listed group need not
  // be enabled, so only this direction holds everywhere).
  bool listed = IsUserAnAdminGroup(GetCurrentProcess());
  EXPECT_TRUE(listed || !member);
}

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

// ---------------------------------------------------------------------------------------
// CheckSecureEnvironment

// A system without the safe DLL search order, for an executable and command line of the
// test's choosing.
class LegacySystem : public SecureEnvironmentSystem {
 public:
  LegacySystem(std::wstring executable, const wchar_t* command_line)
      : executable_(std::move(executable)), command_line_(command_line) {}
  bool EnableSafeDllSearch() override { return false; }
  platform::FilePath ExecutablePath() override { return platform::FilePath(executable_); }
  const CommandLine& GetCommandLine() override { return command_line_; }

 private:
  std::wstring executable_;
  CommandLine command_line_;
};

void Touch(const std::wstring& path) {
  ASSERT_TRUE(test_support::WriteFileBytes(path, "x")) << platform::Narrow(path);
}

struct DllSearchCase {
  std::vector<const wchar_t*> files;    // created next to the executable
  std::vector<const wchar_t*> folders;  // created next to the executable
  const wchar_t* switch_text;
  int outcome;
};

TEST(CheckSecureEnvironmentTest, ElevatedChildAndCopyLookForDllsNextToThemselves) {
  const DllSearchCase cases[] = {
      {{}, {}, L"--run-as-admin", kEnvironmentSecure},
      {{L"a.dll"}, {}, L"--run-as-admin", kEnvironmentDllsFound},
      {{L"A.DLL"}, {}, L"--spawned_in_protected_dir", kEnvironmentDllsFound},
      {{L"readme.txt", L"x.dll.txt", L"dll"}, {}, L"--spawned_in_protected_dir",
       kEnvironmentSecure},
      // Only files directly in the folder count.
      {{}, {L"folder.dll"}, L"--run-as-admin", kEnvironmentSecure},
      {{L"sub\\inner.dll"}, {L"sub"}, L"--run-as-admin", kEnvironmentSecure},
  };
  for (const DllSearchCase& c : cases) {
    test_support::ScopedTempDir dir;
    Touch(dir.File(L"lite_installer.exe"));
    for (const wchar_t* folder : c.folders) {
      ASSERT_TRUE(CreateDirectoryW(dir.File(folder).c_str(), nullptr));
    }
    for (const wchar_t* file : c.files) Touch(dir.File(file));
    std::wstring command_line = L"lite_installer.exe " + std::wstring(c.switch_text);
    LegacySystem system(dir.File(L"lite_installer.exe"), command_line.c_str());
    int exit_code = 77;
    EXPECT_EQ(c.outcome, CheckSecureEnvironment(&system, &exit_code)) << c.switch_text;
    EXPECT_EQ(0, exit_code);
  }
  // A folder that cannot be searched (here: one that is gone) counts as one holding a DLL.
  test_support::ScopedTempDir dir;
  LegacySystem gone(dir.File(L"missing\\lite_installer.exe"), L"lite_installer.exe --run-as-admin");
  int exit_code = 77;
  EXPECT_EQ(kEnvironmentDllsFound, CheckSecureEnvironment(&gone, &exit_code));
}

TEST(CheckSecureEnvironmentTest, SafeSearchOrderNeedsNothingElse) {
  // Wine has both calls, like every Windows from 8 on (and 7 with its update).
  int exit_code = 77;
  EXPECT_EQ(kEnvironmentSecure, CheckSecureEnvironment(&exit_code));
  EXPECT_EQ(0, exit_code);
}

class PrivateFolderTest : public testing::Test {
 protected:
  std::wstring Probe() const { return test_support::TestProgram(L"secure_env_probe.exe"); }

  std::vector<std::wstring> Report() const {
    return test_support::ReadUtf16Lines(report_dir_.File(L"report.txt"));
  }

  test_support::ScopedTempDir report_dir_;
};

TEST_F(PrivateFolderTest, CopyRunsFromAFreshFolderAndItsExitCodePassesThrough) {
  std::wstring command_line = L"secure_env_probe.exe --exit-code=42 \"--report=" +
                              report_dir_.File(L"report.txt") + L"\"";
  LegacySystem system(Probe(), command_line.c_str());
  int exit_code = 0;
  EXPECT_EQ(kEnvironmentCopyFinished, CheckSecureEnvironment(&system, &exit_code));
  EXPECT_EQ(42, exit_code);

  std::vector<std::wstring> report = Report();
  ASSERT_EQ(2u, report.size());
  platform::FilePath copy(report[0]);
  EXPECT_EQ(L"secure_env_probe.exe", copy.BaseName().value());
  // A fresh "li_" and 16 hexadecimal digits: in the temporary folder for a process with the
  // user's rights, in the machine-wide one for one with more (Wine's processes are such).
  platform::FilePath folder = copy.DirName();
  wchar_t root[MAX_PATH];
  DWORD length = RunsWithMoreRightsThanFolderUser()
                     ? GetSystemWindowsDirectoryW(root, MAX_PATH)
                     : GetTempPathW(MAX_PATH, root);
  platform::FilePath expected_root(std::wstring(root, length));
  if (RunsWithMoreRightsThanFolderUser()) expected_root = expected_root.Append(L"Temp");
  EXPECT_EQ(expected_root.StripTrailingSeparators(), folder.DirName());
  const std::wstring name = folder.BaseName().value();
  EXPECT_EQ(19u, name.size()) << name;
  EXPECT_EQ(0u, name.rfind(L"li_", 0)) << name;
  EXPECT_EQ(std::wstring::npos, name.find_first_not_of(L"0123456789abcdef", 3)) << name;
  // The copy got the own command line with the copy's path and the extra switch.
  CommandLine copy_command_line(report[1]);
  EXPECT_EQ(copy.value(), copy_command_line.ProgramPath());
  EXPECT_TRUE(copy_command_line.Has("spawned_in_protected_dir"));
  EXPECT_EQ(L"42", copy_command_line.Value("exit-code"));
  // And the private folder is gone again.
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(folder.value().c_str()));
}

TEST_F(PrivateFolderTest, CopyThatFindsDllsRefusesWithMinus200) {
  std::wstring command_line = L"secure_env_probe.exe --plant-dll --exit-code=42 \"--report=" +
                              report_dir_.File(L"report.txt") + L"\"";
  LegacySystem system(Probe(), command_line.c_str());
  int exit_code = 0;
  EXPECT_EQ(kEnvironmentCopyRefused, CheckSecureEnvironment(&system, &exit_code));
  EXPECT_EQ(kInsecureEnvironmentExitCode, exit_code);
  std::vector<std::wstring> report = Report();
  ASSERT_EQ(2u, report.size());
  // Only the copy goes: the folder holding what somebody else put there stays, for the next
  // reboot.
  const platform::FilePath folder = platform::FilePath(report[0]).DirName();
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(report[0].c_str()));
  const std::wstring planted = folder.Append(L"planted.dll").value();
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(planted.c_str()));
  EXPECT_NE(std::wstring::npos, test_support::PendingRenameOperations().find(folder.value()));
  DeleteFileW(planted.c_str());
  RemoveDirectoryW(folder.value().c_str());
  test_support::ForgetPendingDeletionsUnder(folder.value());
}

TEST_F(PrivateFolderTest, RelaunchInAProcessOfItsOwn) {
  // The probe itself plays the installer: it copies itself, and the copy exits 5.
  int32_t exit_code = 0;
  ASSERT_TRUE(test_support::RunProgram(L"\"" + Probe() + L"\" --exit-code=5", L"", 60000,
                                       &exit_code));
  EXPECT_EQ(5, exit_code);
  ASSERT_TRUE(test_support::RunProgram(L"\"" + Probe() + L"\" --plant-dll", L"", 60000,
                                       &exit_code));
  EXPECT_EQ(-200, exit_code);
}

TEST_F(PrivateFolderTest, MissingExecutableCannotBeSecured) {
  test_support::ScopedTempDir dir;
  LegacySystem system(dir.File(L"missing.exe"), L"missing.exe");
  int exit_code = 0;
  EXPECT_EQ(kEnvironmentNotSecured, CheckSecureEnvironment(&system, &exit_code));
  EXPECT_EQ(0, exit_code);
  LegacySystem no_path(L"", L"lite_installer.exe");
  EXPECT_EQ(kEnvironmentNotSecured, CheckSecureEnvironment(&no_path, &exit_code));
  // Without its own path the copy goes on with the user's rights; the elevated child refuses.
  LegacySystem copy(L"", L"lite_installer.exe --spawned_in_protected_dir");
  EXPECT_EQ(kEnvironmentNotSecured, CheckSecureEnvironment(&copy, &exit_code));
  EXPECT_EQ(0, exit_code);
  LegacySystem child(L"", L"lite_installer.exe --run-as-admin");
  EXPECT_EQ(kEnvironmentCopyRefused, CheckSecureEnvironment(&child, &exit_code));
  EXPECT_EQ(kInsecureEnvironmentExitCode, exit_code);
}

}  // namespace
}  // namespace installer
