#include "entry/secure_environment.h"

#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/command_line.h"
#include "platform/strings.h"
#include "platform/user_rights.h"
#include "tests/support/child_process.h"
#include "tests/support/pending_deletions.h"
#include "tests/support/test_paths.h"

namespace installer {
namespace {

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
