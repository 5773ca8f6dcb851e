#include "entry/entry.h"

#include <windows.h>

#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "brand/brand_info.h"
#include "entry/secure_environment.h"
#include "install/elevated_child.h"
#include "install/elevated_process.h"
#include "install/installer.h"
#include "platform/command_line.h"
#include "platform/file_util.h"
#include "platform/shared_sections.h"
#include "platform/strings.h"
#include "platform/system_library.h"
#include "platform/windows_version.h"
#include "tests/support/child_process.h"
#include "tests/support/held_mutex.h"
#include "tests/support/dialog_driver.h"
#include "tests/support/pending_deletions.h"
#include "tests/support/publisher_log.h"
#include "tests/support/test_log.h"
#include "tests/support/test_paths.h"

namespace installer {
namespace {

// ---------------------------------------------------------------------------------------
// Pieces of the entry that run inside the test.

TEST(ExitCodeOfInstallerWindowTest, AWindowThatCannotBeMadeIsNoCancel) {
  const struct {
    INT_PTR dialog_result;
    int exit_code;
    const wchar_t* line;  // null: nothing logged
  } cases[] = {
      {1, 3, nullptr},  // finished: the flow's result code
      {-1, 406, L"The installer window could not be shown."},
      {2, 500, L"INFO: wWinMain (239): User cancelled installation."},
      {1009, 500, L"INFO: wWinMain (239): User cancelled installation."},
      {1010, 500, L"INFO: wWinMain (239): User cancelled installation."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dialog_result);
    test_support::ScopedTestLog log;
    EXPECT_EQ(c.exit_code, ExitCodeOfInstallerWindow(c.dialog_result, 3));
    if (c.line) {
      EXPECT_EQ(1, log.CountLines(c.line)) << log.Text();
    } else {
      EXPECT_EQ(L"", log.Text());
    }
    EXPECT_EQ(c.dialog_result == -1 ? 1 : 0, log.CountLines(L"ERROR: wWinMain ("));
  }
}

TEST(ExitForSecureEnvironmentTest, EachHardeningOutcomeLogsAndExitsAsItSays) {
  struct Case {
    int outcome;
    int copy_exit_code;
    bool exits;
    int exit_code;
    const wchar_t* line;  // null: nothing logged
  };
  const Case kCases[] = {
      {kEnvironmentCopyRefused, -200, true, -200,
       L"INFO: wWinMain (143): Exiting, because of insecure environment."},
      {kEnvironmentNotSecured, 0, false, 7, L"INFO: wWinMain (146): Can't find secure environment."},
      {kEnvironmentSecure, 0, false, 7, L"INFO: wWinMain (151): Runned in secure environment."},
      {kEnvironmentDllsFound, 0, true, -200,
       L"INFO: wWinMain (154): Exiting, DLL files found in working directory"},
      // The private-folder copy ran the installation: its exit code is the run's.
      {kEnvironmentCopyFinished, 1603, true, 1603, nullptr},
      {kEnvironmentCopyFinished, 0, true, 0, nullptr},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.outcome);
    test_support::ScopedTestLog log;
    int exit_code = 7;
    EXPECT_EQ(c.exits, ExitForSecureEnvironment(c.outcome, c.copy_exit_code, &exit_code));
    EXPECT_EQ(c.exit_code, exit_code);
    if (c.line) {
      EXPECT_EQ(1, log.CountLines(c.line)) << log.Text();
    } else {
      EXPECT_EQ(L"", log.Text());
    }
  }
}

struct SilentCase {
  int version_class;
  const wchar_t* command_line;
  Tristate brand_send_statistics;
  bool make_default;
  bool send_statistics;
};

TEST(SilentInstallOptionsTest, SwitchesBrandAndWindowsVersion) {
  const SilentCase cases[] = {
      {platform::kWindows7, L"i.exe", kUnset, false, true},
      {platform::kWindows7, L"i.exe", kFalse, false, false},
      {platform::kWindows7, L"i.exe --send-statistics", kFalse, false, true},
      {platform::kWindows7, L"i.exe --make-browser-default-after-import", kTrue, true, true},
      {platform::kWindows10, L"i.exe --make-browser-default-after-import", kFalse, true, false},
      // Windows 8 and 8.1 cannot be told which browser is the default.
      {platform::kWindows8, L"i.exe --make-browser-default-after-import", kTrue, false, true},
      {platform::kWindows8_1, L"i.exe --make-browser-default-after-import --send-statistics",
       kFalse, false, true},
  };
  for (const SilentCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.command_line << " class " << c.version_class);
    platform::WindowsVersionInfo version;
    version.version_class = c.version_class;
    platform::ScopedWindowsVersionForTesting scoped_version(version);
    BrandInfo brand(L"C:\\Temp\\");
    brand.set_send_statistics(c.brand_send_statistics);
    SilentInstallOptions options = GetSilentInstallOptions(CommandLine(c.command_line), brand);
    EXPECT_EQ(c.make_default, options.make_default);
    EXPECT_EQ(c.send_statistics, options.send_statistics);
  }
}

std::wstring UniqueMutexName() {
  return L"Local\\li-entry-test-" + platform::ToWString(GetCurrentProcessId()) + L"-" +
         platform::ToWString(GetTickCount());
}

TEST(SingleInstanceMutexTest, OneOwnerAtATime) {
  std::wstring name = UniqueMutexName();
  auto first = std::make_unique<SingleInstanceMutex>(name.c_str());
  ASSERT_TRUE(first->Acquire());
  EXPECT_TRUE(first->owned());
  // Mutexes are owned by threads: another thread stands for another master.
  bool second_taken = true;
  std::thread([&] {
    SingleInstanceMutex second(name.c_str());
    second_taken = second.Acquire();
  }).join();
  EXPECT_FALSE(second_taken);
  first.reset();
  bool third_taken = false;
  std::thread([&] {
    SingleInstanceMutex third(name.c_str());
    third_taken = third.Acquire();
  }).join();
  EXPECT_TRUE(third_taken);
}

DWORD WINAPI TakeAndDie(void* name) {
  // Never destroyed: the thread ends holding the mutex, as a master that died would.
  auto* crashed = new SingleInstanceMutex(static_cast<const wchar_t*>(name));
  return crashed->Acquire() ? 0 : 1;
}

TEST(SingleInstanceMutexTest, AbandonedMutexDoesNotCount) {
  std::wstring name = UniqueMutexName();
  HANDLE thread = CreateThread(nullptr, 0, TakeAndDie, const_cast<wchar_t*>(name.c_str()), 0,
                               nullptr);
  ASSERT_NE(nullptr, thread);
  WaitForSingleObject(thread, INFINITE);
  DWORD taken = 1;
  GetExitCodeThread(thread, &taken);
  CloseHandle(thread);
  ASSERT_EQ(0u, taken);
  SingleInstanceMutex next(name.c_str());
  EXPECT_FALSE(next.Acquire());
}

// A master with more rights than its folders' user puts its files, and the setup's, into a
// protected folder of its own, and leaves nothing of it behind.
TEST(MoveWorkIntoPrivateFolderTest, TempIsTheFreshFolderUntilItIsRemoved) {
  // TMP and TEMP come back as the test found them, whatever fails on the way.
  struct RestoredTemp {
    wchar_t path[MAX_PATH] = {};
    RestoredTemp() { GetTempPathW(MAX_PATH, path); }
    ~RestoredTemp() {
      SetEnvironmentVariableW(L"TMP", path);
      SetEnvironmentVariableW(L"TEMP", path);
    }
  } restored;
  ASSERT_NE(L'\0', restored.path[0]);
  std::wstring folder_path;
  {
    PrivateFolder folder;
    ASSERT_TRUE(MoveWorkIntoPrivateFolder(&folder));
    folder_path = folder.path();
    platform::FilePath temp;
    ASSERT_TRUE(platform::TempFolder(&temp));
    EXPECT_EQ(folder_path, temp.value());
    EXPECT_NE(std::wstring::npos, folder_path.find(L"\\li_")) << platform::Narrow(folder_path);
    // What the run's parts and the setup leave there (files, a read-only one among them, and
    // empty folders) goes with the folder.
    platform::FilePath file;
    ASSERT_TRUE(platform::MakeTempFile(L"jx", &file));
    // The file system's own case may differ from the folder's name as given.
    EXPECT_EQ(0, _wcsicmp(folder_path.c_str(), file.DirName().value().c_str()))
        << platform::Narrow(file.value());
    ASSERT_TRUE(CreateDirectoryW((folder_path + L"\\setup").c_str(), nullptr));
    ASSERT_TRUE(test_support::WriteFileBytes(folder_path + L"\\part.dat", "x"));
    ASSERT_TRUE(SetFileAttributesW((folder_path + L"\\part.dat").c_str(), FILE_ATTRIBUTE_READONLY));
    folder.Remove();
  }
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(folder_path.c_str()));
  const std::wstring name = folder_path.substr(folder_path.rfind(L'\\') + 1);
  EXPECT_EQ(std::wstring::npos, test_support::PendingRenameOperations().find(name));
}

// ---------------------------------------------------------------------------------------
// The installer executable, started as a user would start it.

// Every test here starts installer processes, which share the session's single-instance
// mutex and the elevation events: they hold this lock so that they run one at a time.
class InstallerRunTest : public testing::Test, public test_support::InstallerLogReader {
 protected:
  void SetUp() override { ASSERT_TRUE(run_lock_.owned()); }

  std::wstring Installer() const {
    return L"\"" + test_support::BuildFile(L"lite_installer.exe") + L"\"";
  }

  int32_t Run(const std::wstring& arguments) {
    int32_t exit_code = 12345;
    EXPECT_TRUE(test_support::RunProgram(Installer() + L" " + arguments, temp_.path(), 120000,
                                         &exit_code));
    return exit_code;
  }

  std::wstring LogFolder() const override { return temp_.path(); }

  // Holds the single-instance mutex as a running master would.
  struct RunningMaster : test_support::HeldMutex {
    RunningMaster() : HeldMutex(kSingleInstanceMutexName, 60000) {}
  };

  test_support::InstallerRunLock run_lock_;
  test_support::ScopedTempDir temp_;
};

TEST_F(InstallerRunTest, CheckTheInterfaceAnswersBeforeTheSingleInstanceCheck) {
  RunningMaster master;
  ASSERT_TRUE(master.owned());
  int32_t exit_code = Run(L"--check-the-interface");
  EXPECT_TRUE(exit_code == 700 || exit_code == 701) << exit_code;
  std::vector<std::wstring> log = Log();
  EXPECT_EQ(1, Count(L"INFO: wWinMain (131): -------------------------------------- Start "
                     L"install."))
      << LogText();
  EXPECT_EQ(1, Count(L"INFO: wWinMain (137): Handled non install cmd line option by win10 "
                     L"default browser helper, ret code: " +
                     platform::ToWString(exit_code)))
      << LogText();
  EXPECT_EQ(0, Count(L"Another installer instance")) << LogText();
  EXPECT_EQ(0, Count(L"Lite installer mode.")) << LogText();
  EXPECT_EQ(0, Count(L"Runned in secure environment.")) << LogText();
}

TEST_F(InstallerRunTest, SecondMasterExits600WithoutAnExitLine) {
  RunningMaster master;
  ASSERT_TRUE(master.owned());
  EXPECT_EQ(600, Run(L"--brand-name=zorvin"));
  EXPECT_EQ(1, Count(L"INFO: wWinMain (151): Runned in secure environment.")) << LogText();
  EXPECT_EQ(1, Count(L"INFO: wWinMain (169): Lite installer mode.")) << LogText();
  EXPECT_EQ(1, Count(L"INFO: wWinMain (173): Another installer instance is already running."))
      << LogText();
  EXPECT_EQ(1, Count(L"INFO: wWinMain (174): Master installer process id: ")) << LogText();
  EXPECT_EQ(0, Count(L"Installer exit with code")) << LogText();
  EXPECT_EQ(0, Count(L"Installer process id: ")) << LogText();
}

TEST_F(InstallerRunTest, MasterLogsItsWayToTheExitCode) {
  test_support::ChildProcess installer;
  // A brand name is looked up as given (narrowed, U+0141 would become "A"); a tag's "lang" that
  // is no language code is ignored.
  ASSERT_TRUE(installer.Start(Installer() + L" --brand-name=\u0141 --distr-info-params=lang=ru/x",
                              temp_.path()));
  // The installer window (or, on a full disk, the disk-space message): closed unanswered.
  HWND window = test_support::WaitForVisibleDialog(installer.id(), 60000);
  ASSERT_NE(nullptr, window) << LogText();
  PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
  int32_t exit_code = 0;
  ASSERT_TRUE(installer.Wait(120000, &exit_code));
  EXPECT_TRUE(exit_code == 500 || exit_code == 403) << exit_code;
  EXPECT_EQ(exit_code == 500 ? 1 : 0, Count(L"INFO: wWinMain (239): User cancelled installation."))
      << LogText();
  EXPECT_EQ(1, Count(L"INFO: wWinMain (181): Installer process id: " +
                     platform::ToWString(installer.id())))
      << LogText();
  EXPECT_EQ(1, Count(L"INFO: wWinMain (192): Temporary path is: " + temp_.path() + L"\\"))
      << LogText();
  // The configuration was loaded into the folder.
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(temp_.File(L"BrandFile").c_str()));
  EXPECT_EQ(1, Count(L"Fetching defined\u0141 package")) << LogText();
  EXPECT_EQ(1, Count(L"WARNING: GetLanguage (")) << LogText();
  EXPECT_EQ(0, Count(L"Default language: ru/x")) << LogText();
  EXPECT_EQ(1, Count(L"INFO: wWinMain (257): Installer exit with code: " +
                     platform::ToWString(exit_code)))
      << LogText();
}

TEST_F(InstallerRunTest, SilentMasterRunsTheInstallFlow) {
  // Whatever the publisher serves, the exit code is the flow's result code.
  int32_t exit_code = Run(L"--silent");
  EXPECT_EQ(1, Count(L"INFO: wWinMain (244): Installing in silent mode.")) << LogText();
  EXPECT_EQ(1, Count(L"): Install Browser.")) << LogText();
  EXPECT_EQ(1, Count(L"INFO: wWinMain (257): Installer exit with code: " +
                     platform::ToWString(exit_code)))
      << LogText();
  EXPECT_EQ(0, Count(L"Installer window")) << LogText();
}

// GDI+ is started, with COM and the common controls, outside any guard at the start of every
// master run. A system without it ends the run with 405 and one line naming what was missing,
// in a silent run as in a window run, instead of as an unhandled exception.
TEST_F(InstallerRunTest, MissingSystemLibraryEndsWith405AndALogLine) {
  const std::wstring name = L"lite_installer_" + platform::Widen(test_support::UniqueMarker());
  const std::wstring program = temp_.File(name + L".exe");
  ASSERT_TRUE(CopyFileW(test_support::BuildFile(L"lite_installer.exe").c_str(), program.c_str(),
                        FALSE));
  test_support::ScopedWineDllOverrides no_gdiplus(name + L".exe", {{L"gdiplus", L""}});
  ASSERT_TRUE(no_gdiplus.ok());
  for (const wchar_t* arguments : {L" --silent", L""}) {
    SCOPED_TRACE(platform::Narrow(arguments));
    int32_t exit_code = 12345;
    EXPECT_TRUE(test_support::RunProgram(L"\"" + program + L"\"" + arguments, temp_.path(),
                                         120000, &exit_code));
    EXPECT_EQ(platform::kSystemLibraryMissingExitCode, exit_code) << LogText();
    EXPECT_EQ(1, Count(L"): Cannot load the system library gdiplus.dll for GdiplusStartup; the "
                       L"process stops with exit code 405. Last error: "))
        << LogText();
    EXPECT_EQ(0, Count(L"Installer exit with code")) << LogText();
    DeleteFileW(temp_.File(L"lite_installer.log").c_str());
  }
}

// A child started by hand has no master whose log handle it could take: it ends with -1 and
// opens no log by its path (not even the one it would have been lent).
TEST_F(InstallerRunTest, ElevatedChildWithoutMasterExitsMinusOneAndOpensNoLog) {
  const std::wstring kCases[] = {
      L"--run-as-admin",
      L"--run-as-admin --parent-installer-process-id=12ab",
      L"--run-as-admin --parent-installer-process-id=" +
          platform::ToWString(GetCurrentProcessId()) +
          L" \"--setup-cmd-line=fake_browser_arc --semi-silent\"",
  };
  for (const std::wstring& arguments : kCases) {
    SCOPED_TRACE(arguments);
    EXPECT_EQ(-1, Run(arguments));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(temp_.File(L"lite_installer.log").c_str()));
  }
}

// The installer image mapped into this process shares its "Shared" section with every
// installer process: the test publishes `log` there as the log handle of the child's master
// `master_id` (the child writes its lines through nothing else).
bool LendLogToChild(HMODULE image, HANDLE log, DWORD master_id) {
  auto* base = reinterpret_cast<uint8_t*>(image);
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(
      base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
  IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
  for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
    if (strncmp(reinterpret_cast<const char*>(section->Name), kElevatedRunSectionName,
                IMAGE_SIZEOF_SHORT_NAME) != 0) {
      continue;
    }
    auto* slot = reinterpret_cast<volatile PublishedLogHandle*>(
        base + section->VirtualAddress + sizeof(ElevatedRunReport));
    slot->process_id = master_id;
    slot->handle_value = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(log));
    return true;
  }
  return false;
}

TEST_F(InstallerRunTest, ElevatedChildFollowsTheMastersEvents) {
  std::wstring child_arguments = L"--run-as-admin \"--setup-cmd-line=fake_browser_arc --silent\" "
                                 L"--parent-installer-process-id=";
  platform::ScopedModule image(LoadLibraryExW(
      test_support::BuildFile(L"lite_installer.exe").c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES));
  platform::ScopedKernelHandle log(CreateFileW(
      temp_.File(L"lite_installer.log").c_str(), GENERIC_WRITE,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS, 0, nullptr));
  ASSERT_TRUE(image && log && LendLogToChild(image.get(), log.get(), GetCurrentProcessId()));
  // The switches through which the child finds the events and the block of `record`.
  auto run_of = [](const ElevatedProcess& record) {
    CommandLine switches(L"");
    record.PutChildSwitches(&switches);
    return switches.Print() + L" ";
  };
  // The child's first line comes once it holds its master's process handle, before it waits:
  // a master that ends after that ends the wait, whenever the wait began.
  auto start = [&](test_support::ChildProcess* child, ElevatedProcess* record, DWORD master,
                   int children) {
    ASSERT_TRUE(child->Start(Installer() + run_of(*record) + child_arguments +
                                 platform::ToWString(master),
                             temp_.path()));
    HANDLE duplicate = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), child->handle(), GetCurrentProcess(),
                                &duplicate, 0, FALSE, DUPLICATE_SAME_ACCESS));
    record->Attach(duplicate, nullptr);
    const std::wstring first = L"INFO: ExecuteAsAdmin (74): Start installer as admin";
    for (int i = 0; i < 1200 && Count(first) < children; ++i) {
      if (WaitForSingleObject(child->handle(), 50) != WAIT_TIMEOUT) break;
    }
    ASSERT_EQ(children, Count(first)) << LogText();
  };

  // Stop: a record destroyed before it released its child.
  {
    auto record = std::make_unique<ElevatedProcess>();
    test_support::ChildProcess child;
    ASSERT_NO_FATAL_FAILURE(start(&child, record.get(), GetCurrentProcessId(), 1));
    record.reset();
    int32_t exit_code = 0;
    ASSERT_TRUE(child.Wait(60000, &exit_code));
    EXPECT_EQ(-1, exit_code);
    EXPECT_EQ(1, Count(L"ERROR: ExecuteAsAdmin (93): Installer started as admin has been "
                       L"unexpectedly synced, wr=1 Last error: "))
        << LogText();
  }

  // Go: the child reads the delayed block, which no master filled, and finds no archive.
  {
    auto record = std::make_unique<ElevatedProcess>();
    test_support::ChildProcess child;
    ASSERT_NO_FATAL_FAILURE(start(&child, record.get(), GetCurrentProcessId(), 2));
    // It confirms the go, so the wait goes on to its end.
    EXPECT_FALSE(record->RunModule(nullptr));
    EXPECT_TRUE(record->started());
    EXPECT_EQ(0xFFFFFFFFu, record->exit_code());
    EXPECT_EQ(1, Count(L"ERROR: ExecuteAsAdmin (103): Browser archive  does not exist"))
        << LogText();
    EXPECT_EQ(1, Count(L"INFO: ExecuteAsAdmin (118): RunModule results: success=0")) << LogText();
  }

  // The master's end: the child gives up with wait result 2. That line is dropped (the
  // handle it would borrow went with the master): it shows as a child that waits while the
  // master lives and ends with it.
  {
    auto record = std::make_unique<ElevatedProcess>();
    // A stand-in master that stays until it is killed.
    ElevatedProcess parent_events;
    auto name = [&](ElevatedEvent event) {
      return platform::Widen(ElevatedEventName(parent_events.run_id(), event));
    };
    test_support::ChildProcess parent;
    ASSERT_TRUE(parent.Start(L"\"" + test_support::TestProgram(L"fake_elevated_child.exe") +
                             L"\" --mode=deaf --go=" + name(ElevatedEvent::kGo) +
                             L" --stop=" + name(ElevatedEvent::kStop) + L" --taken=" +
                             name(ElevatedEvent::kTaken)));
    HANDLE lent = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), log.get(), parent.handle(), &lent, 0, FALSE,
                                DUPLICATE_SAME_ACCESS));
    ASSERT_TRUE(LendLogToChild(image.get(), lent, parent.id()));
    test_support::ChildProcess child;
    ASSERT_NO_FATAL_FAILURE(start(&child, record.get(), parent.id(), 3));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(child.handle(), 0));
    parent.Terminate();
    int32_t exit_code = 0;
    ASSERT_TRUE(child.Wait(60000, &exit_code));
    EXPECT_EQ(-1, exit_code);
    EXPECT_EQ(1, Count(L"RunModule results")) << LogText();
  }
  LendLogToChild(image.get(), nullptr, 0);
}

bool IsWellFormedLine(const std::wstring& line) {
  // "YYYY-MM-DD HH:MM:SS <tid> SEVERITY: tag (line): message"
  if (line.size() < 24) return false;
  const wchar_t* pattern = L"dddd-dd-dd dd:dd:dd <";
  for (size_t i = 0; pattern[i] != L'\0'; ++i) {
    wchar_t want = pattern[i];
    if (want == L'd' ? !iswdigit(line[i]) : line[i] != want) return false;
  }
  size_t close = line.find(L"> ", 21);
  if (close == std::wstring::npos || close == 21) return false;
  for (size_t i = 21; i < close; ++i) {
    if (!iswdigit(line[i])) return false;
  }
  std::wstring rest = line.substr(close + 2);
  return rest.rfind(L"INFO: ", 0) == 0 || rest.rfind(L"ERROR: ", 0) == 0 ||
         rest.rfind(L"WARNING: ", 0) == 0;
}

TEST_F(InstallerRunTest, SimultaneousProcessesLoseNoLogLine) {
  constexpr int kProcesses = 6;
  std::vector<std::unique_ptr<test_support::ChildProcess>> installers;
  for (int i = 0; i < kProcesses; ++i) {
    installers.push_back(std::make_unique<test_support::ChildProcess>());
    ASSERT_TRUE(installers.back()->Start(Installer(), temp_.path()));
  }
  std::vector<int32_t> codes;
  for (auto& installer : installers) {
    // The master shows its window (or the disk-space message): closed unanswered.
    int32_t exit_code = 0;
    bool ended = false;
    for (int i = 0; i < 1800 && !ended; ++i) {
      HWND window = test_support::FindVisibleDialog(installer->id());
      if (window != nullptr) PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
      ended = installer->Wait(100, &exit_code);
    }
    ASSERT_TRUE(ended);
    codes.push_back(exit_code);
  }
  int second_masters = 0;
  for (int32_t code : codes) second_masters += code == 600 ? 1 : 0;

  std::vector<std::wstring> log = Log();
  for (const std::wstring& line : log) EXPECT_TRUE(IsWellFormedLine(line)) << line;
  EXPECT_EQ(kProcesses, Count(L"(131): -------------------------------------- Start install."));
  EXPECT_EQ(kProcesses, Count(L"INFO: wWinMain (151): Runned in secure environment."));
  EXPECT_EQ(kProcesses, Count(L"INFO: wWinMain (169): Lite installer mode."));
  EXPECT_EQ(second_masters, Count(L"INFO: wWinMain (173): Another installer instance"));
  EXPECT_EQ(second_masters, Count(L"INFO: wWinMain (174): Master installer process id: "));
  EXPECT_EQ(kProcesses - second_masters, Count(L"INFO: wWinMain (181): Installer process id: "));
  EXPECT_EQ(kProcesses - second_masters, Count(L"INFO: wWinMain (257): Installer exit with code"));
}

}  // namespace
}  // namespace installer
