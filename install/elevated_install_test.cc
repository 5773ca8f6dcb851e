// The elevated installation end to end: a master that restarts itself through the shell's
// "runas" verb, the child that waits for the master's go and runs the setup, and the ways
// the two can part (refused archive, cancel, a master that dies, a child that hangs). Both
// sides are tests/programs/elevation_master.exe, since the child reports back through a
// section that only processes of one image file share (and an elevated master, which every
// master under Wine is, starts no child); its child side is the installer's own entry.
//
// Under Wine 8.0 the "runas" verb changes nothing for an executable: ShellExecuteExW starts
// it with a plain CreateProcessW (a new console, the caller's environment), as the same user
// with a copy of the caller's token, shows no prompt, and answers hInstApp 33 and the process
// handle. The test programs already run with a full administrator token (elevation type
// "full", elevated), so master and child report the same token. The prompt can therefore
// neither be seen nor declined here; the decline is played through the `StartElevated` seam.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <gtest/gtest.h>
#include <jansson.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "brand/brand_info.h"
#include "brand/distrib_info_params.h"
#include "brand/registry_values.h"
#include "install/elevated_process.h"
#include "install/installer.h"
#include "install/progress_listener.h"
#include "platform/command_line.h"
#include "platform/scoped_handle.h"
#include "platform/shared_sections.h"
#include "platform/strings.h"
#include "tests/support/child_process.h"
#include "tests/support/held_mutex.h"
#include "tests/support/pending_deletions.h"
#include "tests/support/publisher_log.h"
#include "tests/support/test_log.h"
#include "tests/support/test_paths.h"

namespace installer {
namespace {

using test_support::PublisherRequest;


// The archive URL of one test: the fake publisher answers it with the stand-in `variant`.
std::string ArchiveUrl(const std::string& marker, const wchar_t* variant) {
  std::string file = platform::Narrow(
      test_support::BuildFile(std::wstring(L"stand_in\\") + variant + L".exe"));
  return test_support::PublisherUrl("/f/" + test_support::EscapeSegment("file=" + file) +
                                    "/browser/" + marker + "/browser-setup.arc");
}

// The switches and files the stand-in setup program reported.
struct SetupReport {
  bool present = false;
  std::wstring program;
  std::wstring temp;  // the setup's temporary folder
  std::map<std::string, std::string> switches;
  std::map<std::string, bool> file_exists;
};

SetupReport ReadSetupReport(const std::wstring& path) {
  SetupReport report;
  std::string text = test_support::ReadFileBytes(path);
  json_t* root = json_loads(text.c_str(), 0, nullptr);
  if (root == nullptr) return report;
  report.present = true;
  const char* name;
  json_t* value;
  json_object_foreach(json_object_get(root, "switches"), name, value) {
    report.switches[name] = json_string_value(value) ? json_string_value(value) : "";
  }
  json_object_foreach(json_object_get(root, "files"), name, value) {
    report.file_exists[name] = json_is_true(json_object_get(value, "exists"));
  }
  if (const char* temp = json_string_value(json_object_get(root, "temp"))) {
    report.temp = platform::Widen(temp);
  }
  json_t* arguments = json_object_get(root, "arguments");
  if (json_array_size(arguments) > 0) {
    report.program = platform::Widen(json_string_value(json_array_get(arguments, 0)));
  }
  json_decref(root);
  return report;
}

// The machine's administrator consent policy as the statistics read it: 0 when unreadable.
DWORD ConsentPromptBehaviorAdmin() {
  DWORD value = 0;
  DWORD size = sizeof(value);
  DWORD type = 0;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System", 0,
                    KEY_READ, &key) != ERROR_SUCCESS) {
    return 0;
  }
  if (RegQueryValueExW(key, L"ConsentPromptBehaviorAdmin", nullptr, &type,
                       reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
      type != REG_DWORD) {
    value = 0;
  }
  RegCloseKey(key);
  return value;
}

// ---------------------------------------------------------------------------------------
// Master and elevated child as two processes of elevation_master.exe.

class ElevatedInstallTest : public testing::Test, public test_support::InstallerLogReader {
 protected:
  ElevatedInstallTest() : marker_(test_support::UniqueMarker()) {}

  void SetUp() override {
    ASSERT_TRUE(lock_.owned());
    key_path_ = L"Software\\LiteInstallerTests\\" + platform::Widen(marker_);
    SetEnvironmentVariableW(L"LI_STAND_IN_REPORT", temp_.File(L"report.json").c_str());
    SetEnvironmentVariableW(L"LI_STAND_IN_WINDOW_MS", L"0");
    SetEnvironmentVariableW(L"LI_STAND_IN_EXIT_CODE", L"0");
    SetEnvironmentVariableW(L"LI_STAND_IN_DELAY_MS", L"0");
  }

  void TearDown() override {
    RegDeleteTreeW(HKEY_CURRENT_USER, key_path_.c_str());
    for (const wchar_t* name :
         {L"LI_STAND_IN_DELAY_MS", L"LI_STAND_IN_EXTRA_MESSAGE", L"LI_STAND_IN_AFTER_MS"}) {
      SetEnvironmentVariableW(name, nullptr);
    }
  }

  std::wstring MasterCommandLine(const wchar_t* variant, const std::wstring& options) {
    return L"\"" + test_support::TestProgram(L"elevation_master.exe") + L"\" " +
           QuoteCommandLineArgument(L"--setup-url=" +
                                    platform::Widen(ArchiveUrl(marker_, variant))) +
           L" --marker=" + platform::Widen(marker_) + L" " +
           QuoteCommandLineArgument(L"--registry-key=" + key_path_) + L" " +
           QuoteCommandLineArgument(L"--result=" + ResultPath()) + L" " + options;
  }

  // Runs the master to its end; its exit code.
  int32_t RunMaster(const wchar_t* variant, const std::wstring& options) {
    int32_t exit_code = 12345;
    EXPECT_TRUE(test_support::RunProgram(MasterCommandLine(variant, options), temp_.path(),
                                         240000, &exit_code))
        << LogText();
    return exit_code;
  }

  std::wstring ResultPath() const { return temp_.File(L"facts.txt"); }

  // Every value the two processes wrote under `key`, in order.
  std::vector<std::string> Facts(const std::string& key) const {
    std::vector<std::string> values;
    std::string text = test_support::ReadFileBytes(ResultPath());
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(start, end - start);
      start = end + 1;
      if (line.compare(0, key.size() + 1, key + "=") == 0) {
        values.push_back(line.substr(key.size() + 1));
      }
    }
    return values;
  }

  // The single value under `key`; "<none>" or "<several>" otherwise.
  std::string Fact(const std::string& key) const {
    std::vector<std::string> values = Facts(key);
    if (values.empty()) return "<none>";
    return values.size() == 1 ? values[0] : "<several>";
  }

  std::wstring LogFolder() const override { return temp_.path(); }

  SetupReport Report() const { return ReadSetupReport(temp_.File(L"report.json")); }

  // The statistics requests of this run whose path holds `fragment`.
  std::vector<PublisherRequest> Statistics(const std::string& fragment, size_t at_least = 1) {
    std::vector<PublisherRequest> found;
    for (const PublisherRequest& request :
         test_support::PublisherRequestsWithPath(marker_, at_least, 5000)) {
      if (request.path.find(fragment) != std::string::npos) found.push_back(request);
    }
    return found;
  }

  // Archive files (GetTempFileNameW's "jx*.tmp") left in the work folder.
  int ArchiveFilesLeft() const {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(temp_.File(L"jx*.tmp").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return 0;
    int count = 0;
    do {
      ++count;
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return count;
  }

  // What a threaded run of the "good" archive showed the world, as one line: exit code, the
  // installation result request's "result", the "error" of "setup_exe_exited", whether the
  // hand-over value "brand" was kept, the error screen, whether the flow was stopped. The
  // next run starts afresh (the stand-in's report stays).
  std::string RunAndDescribe(const std::wstring& options) {
    const int32_t exit_code = RunMaster(L"good", options + L" --flow=thread");
    std::string result = "<none>";
    for (const PublisherRequest& request :
         test_support::PublisherRequestsWith("ui=" + Fact("run_id") + "&result=")) {
      size_t at = request.query.find("&result=") + 8;
      result = request.query.substr(at, request.query.find('&', at) - at);
    }
    std::string error = "<none>";
    for (const PublisherRequest& request : Statistics("stage=setup_exe_exited")) {
      size_t at = request.path.find("-error=");
      if (at != std::string::npos) {
        error = request.path.substr(at + 7, request.path.find_first_of(",/", at) - at - 7);
      }
    }
    HKEY key = nullptr;
    bool kept = RegOpenKeyExW(HKEY_CURRENT_USER, key_path_.c_str(), 0, KEY_READ, &key) ==
                    ERROR_SUCCESS &&
                RegQueryValueExW(key, L"brand", nullptr, nullptr, nullptr, nullptr) ==
                    ERROR_SUCCESS;
    if (key != nullptr) RegCloseKey(key);
    EXPECT_EQ(0, ArchiveFilesLeft());
    std::string line = "exit=" + std::to_string(exit_code) + " result=" + result +
                       " error=" + error + " kept=" + (kept ? "1" : "0") +
                       " screen=" + Fact("shown_error") +
                       " stopped=" + (Fact("stop_ms") == "<none>" ? "0" : "1");
    RegDeleteTreeW(HKEY_CURRENT_USER, key_path_.c_str());
    DeleteFileW(ResultPath().c_str());
    DeleteFileW(temp_.File(L"lite_installer.log").c_str());
    marker_ = test_support::UniqueMarker();
    return line;
  }

  // The child neither asked for anything nor ran a setup: the lines of a child that was
  // sent home from its wait with `wait_result`.
  void ExpectChildSentHome(int wait_result) {
    EXPECT_EQ(1, Count(L"INFO: ExecuteAsAdmin (74): Start installer as admin")) << LogText();
    EXPECT_EQ(1, Count(L"ERROR: ExecuteAsAdmin (93): Installer started as admin has been "
                       L"unexpectedly synced, wr=" +
                       platform::ToWString(wait_result) + L" Last error: "))
        << LogText();
    EXPECT_EQ(0, Count(L"RunModule results")) << LogText();
    EXPECT_EQ(0, Count(L"RunModuleAndWait")) << LogText();
    EXPECT_EQ(0, Count(L"RunModuleInElevatedProcess")) << LogText();
    EXPECT_FALSE(Report().present);
  }

  test_support::InstallerRunLock lock_;
  test_support::ScopedTempDir temp_;
  std::string marker_;
  std::wstring key_path_;
};

TEST_F(ElevatedInstallTest, ChildRunsTheSetupWithTheMastersCommandLineAndTheBlocksFiles) {
  const std::wstring brand_cab = test_support::BuildFile(L"test_data\\cabinets\\one.cab");
  const std::wstring partner_cab = test_support::BuildFile(L"test_data\\cabinets\\several_z.cab");
  // The choices change after the restart, as when the user presses the install button with
  // the elevated copy already waiting: only the block carries the final ones.
  int32_t exit_code = RunMaster(
      L"good", QuoteCommandLineArgument(L"--brand-cab=" + brand_cab) + L" " +
                   QuoteCommandLineArgument(L"--partner-cab=" + partner_cab) +
                   L" --choose-before=make-default --choose-after=send-statistics"
                   L" --flow=thread --window");

  // The master learns the child's success only (the setup's exit code stays with the
  // child), and a success ends the master with 0.
  EXPECT_EQ(0, exit_code) << LogText();
  EXPECT_EQ("1", Fact("execute_as_admin"));
  EXPECT_EQ("0", Fact("child_exit_code")) << LogText();
  EXPECT_EQ("<none>", Fact("shown_error"));
  // The shell's handle is the process that took the child path, a copy of this program
  // that is never less privileged than the master (under Wine: the very same token).
  EXPECT_EQ(Fact("child_pid"), Fact("elevated_pid"));
  EXPECT_NE(Fact("master_pid"), Fact("elevated_pid"));
  EXPECT_EQ("1", Fact("elevated_admin_group"));
  if (Fact("master_elevated") == "1") {
    EXPECT_EQ("1", Fact("elevated_elevated"));
  }
  EXPECT_EQ(1, Count(L"INFO: RunModuleInElevatedProcess (805): Started waiting the elevated "
                     L"installer has finished its work."))
      << LogText();
  EXPECT_EQ(1, Count(L"INFO: RunModuleInElevatedProcess (807): The elevated installer has "
                     L"finished, success=1"))
      << LogText();
  EXPECT_EQ(1, Count(L"INFO: ExecuteAsAdmin (74): Start installer as admin")) << LogText();
  EXPECT_EQ(0, Count(L"ERROR: ExecuteAsAdmin")) << LogText();
  EXPECT_EQ(0, Count(L"ERROR: RunModule")) << LogText();
  EXPECT_EQ(1, Count(L"INFO: ExecuteAsAdmin (118): RunModule results: success=1")) << LogText();
  EXPECT_EQ(1, Count(L"Setup process exit with code: SUCCESS_EXIT_CODE(0); error: 0"))
      << LogText();

  const std::wstring work = temp_.path() + L"\\";
  const std::string archive = Fact("archive_path");
  SetupReport report = Report();
  ASSERT_TRUE(report.present) << LogText();
  // The child ran its own copies, the archive's and the vendor files', under names of its
  // own, from a fresh folder that it made in the Windows folder's Temp and removed afterwards.
  wchar_t windows[MAX_PATH];
  ASSERT_NE(0u, GetSystemWindowsDirectoryW(windows, MAX_PATH));
  const std::wstring private_temp = std::wstring(windows) + L"\\Temp\\li_";
  EXPECT_EQ(0, _wcsnicmp(private_temp.c_str(), report.program.c_str(), private_temp.size()))
      << platform::Narrow(report.program);
  const size_t name_at = report.program.rfind(L'\\');
  ASSERT_NE(std::wstring::npos, name_at);
  const std::wstring folder = report.program.substr(0, name_at);
  EXPECT_EQ(private_temp.size() + 16, folder.size()) << platform::Narrow(folder);
  EXPECT_EQ(L"\\setup.arc", report.program.substr(name_at));
  // The setup's own temporary files go there too, not into the user's TEMP.
  EXPECT_EQ(folder + L"\\", report.temp);
  EXPECT_EQ(1, Count(L"): Archive copied to " + report.program)) << LogText();
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(folder.c_str()));
  std::map<std::string, std::string>& switches = report.switches;
  const std::string copies = platform::Narrow(folder + L"\\");
  EXPECT_EQ(copies + "master_preferences", switches["installerdata"]);
  EXPECT_EQ(copies + "clids.xml", switches["clids-file"]);
  EXPECT_EQ(copies + "clids_searchband.xml", switches["clids-searchband-file"]);
  EXPECT_EQ(copies + "BrandFile", switches["brand-package"]);
  EXPECT_EQ(copies + "PartnerFile", switches["partner-package"]);
  EXPECT_EQ(0u, switches.count("override-partner-package"));
  for (const char* file : {"installerdata", "clids-file", "clids-searchband-file",
                           "brand-package", "partner-package"}) {
    EXPECT_TRUE(report.file_exists[file]) << file;
  }
  // The originals the master made stay its own.
  for (const wchar_t* name : {L"master_preferences", L"clids.xml", L"clids_searchband.xml"}) {
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((work + name).c_str()))
        << platform::Narrow(name);
  }
  EXPECT_EQ(1u, switches.count("send-statistics"));
  EXPECT_EQ(0u, switches.count("make-browser-default-after-import"));
  // The master's own setup command line, plus the setup run's "source".
  EXPECT_EQ("lite", switches["source"]);
  EXPECT_EQ(1u, switches.count("verbose-logging"));
  EXPECT_EQ(marker_, switches["marker"]);
  EXPECT_NE("", switches["brand-name"]);
  EXPECT_NE("0", switches["progress-window"]);
  EXPECT_EQ(0u, switches.count("disable-uac"));
  // Nothing of the restart reaches the setup.
  for (const char* restart : {"run-as-admin", "parent-installer-process-id", "setup-cmd-line",
                              "elevated-run-id", "delayed-params-handle"}) {
    EXPECT_EQ(0u, switches.count(restart)) << restart;
  }

  // Progress reached the master's window from the child (percent, cancel button) and from
  // the setup, which the child handed the window.
  std::vector<std::string> posted = Facts("posted");
  // The two processes post at nearly the same moment: only the counts are certain.
  EXPECT_EQ(1, std::count(posted.begin(), posted.end(), "set_percent 40"));
  EXPECT_EQ(1, std::count(posted.begin(), posted.end(), "zorvin.lite.set_install_progress 7"));
  EXPECT_EQ(1, std::count(posted.begin(), posted.end(), "zorvin.lite.set_import_progress 100"));
  EXPECT_EQ("0", Fact("cancel_button_visible"));

  // Cleaned up as after a direct run: the archive and the hand-over values are gone.
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(platform::Widen(archive).c_str()));
  EXPECT_EQ(0, ArchiveFilesLeft());
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, key_path_.c_str(), 0, KEY_READ, &key));
  EXPECT_NE(ERROR_SUCCESS, RegQueryValueExW(key, L"brand", nullptr, nullptr, nullptr, nullptr));
  RegCloseKey(key);

  // "uac": 1 for an elevated runner, unless the machine's consent prompts are off, which
  // an unreadable policy value counts as (as it is in a fresh Wine prefix).
  const std::string uac = ConsentPromptBehaviorAdmin() == 0 ? "-uac=100" : "-uac=1";
  std::vector<PublisherRequest> launched = Statistics("stage=setup_exe_launched");
  ASSERT_EQ(1u, launched.size());
  EXPECT_NE(std::string::npos, launched[0].path.find(uac + ",")) << launched[0].path;
  EXPECT_EQ(1u, Statistics("stage=setup_exe_exited").size());
}

// Whatever a setup's exit code, -1 included, a setup that ran to its end ends the run the
// same way through the elevated copy as directly: exit code, installation result, statistics,
// clean-up, screen. Only a copy that ran no setup makes the run "not started".
TEST_F(ElevatedInstallTest, SetupExitCodeMeansTheSameThroughTheElevatedCopy) {
  const struct {
    const wchar_t* setup_exit_code;
    const char* outcome;
  } kCases[] = {
      {L"0", "exit=0 result=success error=0 kept=0 screen=<none> stopped=0"},
      {L"3", "exit=3 result=success error=<none> kept=0 screen=<none> stopped=0"},
      {L"0x01000005", "exit=16777221 result=success error=16777221 kept=0 screen=<none> stopped=0"},
      // The statistics write the "-" of a value as "_".
      {L"0xFFFFFFFF", "exit=-1 result=success error=_1 kept=0 screen=<none> stopped=0"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(platform::Narrow(c.setup_exit_code));
    SetEnvironmentVariableW(L"LI_STAND_IN_EXIT_CODE", c.setup_exit_code);
    EXPECT_EQ(c.outcome, RunAndDescribe(L"--no-elevation"));
    EXPECT_EQ(c.outcome, RunAndDescribe(L""));
  }
  EXPECT_EQ("exit=400 result=failed error=<none> kept=1 screen=1 stopped=0",
            RunAndDescribe(L"--child-fails"));
}

// "zorvin.lite.close_window" while the setup still works stops the flow as the installer
// window does; the run waits for the setup all the same, through the elevated copy as
// directly, and takes its result, also when the setup works on longer than the stop waits
// (then the exit waits for it before it reads the result). The copy's private folder is gone.
TEST_F(ElevatedInstallTest, CloseWindowBeforeTheSetupEndsWaitsForIt) {
  SetEnvironmentVariableW(L"LI_STAND_IN_EXTRA_MESSAGE", L"close_window");
  SetEnvironmentVariableW(L"LI_STAND_IN_AFTER_MS", L"3000");
  for (const wchar_t* options :
       {L"--window --no-elevation --stop-wait-ms=100", L"--window --stop-wait-ms=100"}) {
    SCOPED_TRACE(platform::Narrow(options));
    EXPECT_EQ("exit=0 result=success error=0 kept=0 screen=<none> stopped=1",
              RunAndDescribe(options));
  }
  const std::wstring copy = Report().program;
  ASSERT_NE(std::wstring::npos, copy.rfind(L"\\li_")) << platform::Narrow(copy);
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(copy.substr(0, copy.rfind(L'\\')).c_str()));
}

TEST_F(ElevatedInstallTest, RefusedArchiveNeverReleasesTheChild) {
  for (const wchar_t* variant : {L"tampered", L"unsigned"}) {
    SCOPED_TRACE(platform::Narrow(variant));
    EXPECT_EQ(402, RunMaster(variant, L"--flow=sync"));
    EXPECT_EQ("1", Fact("execute_as_admin"));
    EXPECT_EQ("-1", Fact("child_exit_code"));
    const std::wstring archive = platform::Widen(Fact("archive_path"));
    EXPECT_EQ(1, Count(L"): Module verification failed: " + archive)) << LogText();
    // Destroying the record told the waiting child to stop.
    ExpectChildSentHome(1);
    EXPECT_EQ(0, ArchiveFilesLeft());
    DeleteFileW(ResultPath().c_str());
    DeleteFileW(temp_.File(L"lite_installer.log").c_str());
    marker_ = test_support::UniqueMarker();
  }
}

// A stop once the child is released (a cancel confirmed just then, the window closing) does
// not end the wait: the run waits for the setup and takes its result, as a direct run does.
// The child hides the cancel button without waiting for the master's window thread, which is
// busy in that stop (waiting, it would hold the setup for the stop's whole minute).
TEST_F(ElevatedInstallTest, StopAfterTheReleaseWaitsForTheChild) {
  constexpr int kSetupMs = 4000;
  SetEnvironmentVariableW(L"LI_STAND_IN_DELAY_MS", platform::ToWString(kSetupMs).c_str());
  RunMaster(L"good", L"--flow=thread --window --stop-at=released");

  EXPECT_EQ("0", Fact("result_code"));
  EXPECT_EQ(1, Count(L"INFO: RunModuleInElevatedProcess (807): The elevated installer has "
                     L"finished, success=1"))
      << LogText();
  int32_t release_ms = 0;
  int32_t stop_ms = 0;
  ASSERT_TRUE(platform::StringToInt32(Fact("release_after_stop_ms"), &release_ms));
  ASSERT_TRUE(platform::StringToInt32(Fact("stop_ms"), &stop_ms));
  EXPECT_GE(release_ms, kSetupMs / 2);
  EXPECT_LT(stop_ms, 30000);
  EXPECT_EQ("0", Fact("cancel_button_visible"));
  EXPECT_EQ(0, Count(L"EnsureProcessFinished")) << LogText();
  EXPECT_EQ("<none>", Fact("shown_error"));
  EXPECT_EQ(0, ArchiveFilesLeft());
}

TEST_F(ElevatedInstallTest, CancelBeforeConsentSendsTheWaitingChildHome) {
  RunMaster(L"good", L"--flow=thread --no-consent --stop-at=archive-ready");
  EXPECT_EQ("400", Fact("result_code"));
  EXPECT_EQ("1", Fact("execute_as_admin"));
  EXPECT_EQ(1, Count(L"ERROR: InstallBrowser (")) << LogText();
  EXPECT_EQ(1, Count(L"Installation after download event isn't in signal state or installation "
                     L"was stopped early."))
      << LogText();
  EXPECT_EQ("-1", Fact("child_exit_code"));
  ExpectChildSentHome(1);
  EXPECT_EQ(0, ArchiveFilesLeft());
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES,
            GetFileAttributesW(platform::Widen(Fact("archive_path")).c_str()));
}

TEST_F(ElevatedInstallTest, KilledMasterSendsTheWaitingChildHome) {
  test_support::ChildProcess master;
  ASSERT_TRUE(master.Start(MasterCommandLine(L"good", L"--hold"), temp_.path()));
  uint64_t child_id = 0;
  for (int i = 0; i < 600 && (child_id == 0 || Count(L"Start installer as admin") == 0); ++i) {
    Sleep(100);
    platform::StringToUint64(Fact("child_pid"), &child_id);
  }
  ASSERT_NE(0u, child_id) << LogText();
  platform::ScopedKernelHandle child(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE,
                                                 static_cast<DWORD>(child_id)));
  ASSERT_TRUE(child);
  // Give the child the moment between its log line and its wait (it opens the events in
  // between, which die with the master).
  Sleep(1000);
  master.Terminate();
  ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(child.get(), 60000));
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeProcess(child.get(), &code));
  EXPECT_EQ(-1, static_cast<int32_t>(code));
  // Its last lines went nowhere: the log handle it writes through was the dead master's.
  EXPECT_EQ(1, Count(L"INFO: ExecuteAsAdmin (74): Start installer as admin")) << LogText();
  EXPECT_EQ(0, Count(L"unexpectedly synced")) << LogText();
  EXPECT_FALSE(Report().present);
}

// Planted folders as a user could make them first in the machine-wide folders: of the name
// the child used to use, and of the child's own pattern. Removed again at destruction.
class PlantedFolders {
 public:
  PlantedFolders() {
    wchar_t windows[MAX_PATH];
    wchar_t common[MAX_PATH];
    GetSystemWindowsDirectoryW(windows, MAX_PATH);
    SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, common);
    for (const std::wstring& root : {std::wstring(windows) + L"\\Temp", std::wstring(common)}) {
      for (const wchar_t* name : {L"lite_installer_elevated", L"li_0000000000000000"}) {
        const std::wstring folder = root + L"\\" + name;
        CreateDirectoryW(folder.c_str(), nullptr);
        for (const wchar_t* file : {L"\\a.txt", L"\\setup.arc"}) {
          test_support::WriteFileBytes(folder + file, "planted");
          files.push_back(folder + file);
        }
        folders.push_back(folder);
      }
    }
  }
  ~PlantedFolders() {
    for (const std::wstring& file : files) DeleteFileW(file.c_str());
    for (const std::wstring& folder : folders) RemoveDirectoryW(folder.c_str());
  }
  std::vector<std::wstring> folders;
  std::vector<std::wstring> files;
};

// What nothing planted can steer, read from the child's own account of its file operations:
// it made one folder, and every create, open for writing and delete lay in it (under the
// names it gave: there is no directory listing at all), while the sources were only read.
// Folders planted beforehand in both machine-wide folders, of the old fixed name and of the
// child's pattern, are untouched; the clean run leaves nothing for the next reboot and no
// folder of its own behind.
TEST_F(ElevatedInstallTest, ChildWritesOnlyInTheFolderItMadeAndLeavesPlantedFoldersAlone) {
  PlantedFolders planted;
  EXPECT_EQ(0, RunMaster(L"good", L"--flow=sync --record-child-files")) << LogText();
  std::vector<std::wstring> folders;
  std::vector<std::wstring> outside;
  for (const std::string& fact : Facts("child_file")) {
    const std::wstring operation = platform::Widen(fact);
    const size_t space = operation.find(L' ');
    const std::wstring kind = operation.substr(0, space);
    const std::wstring path = operation.substr(space + 1);
    if (kind == L"folder") {
      folders.push_back(path);
    } else if (folders.size() != 1 ||
               (path != folders[0] && path.compare(0, folders[0].size() + 1, folders[0] + L"\\"))) {
      outside.push_back(operation);
    } else {
      // Directly in the folder: the child made nothing deeper.
      EXPECT_EQ(std::wstring::npos, path.find(L'\\', folders[0].size() + 1))
          << platform::Narrow(operation);
    }
  }
  ASSERT_EQ(1u, folders.size()) << LogText();
  const std::wstring work = temp_.path() + L"\\";
  for (const std::wstring& operation : outside) {
    EXPECT_EQ(0u, operation.find(L"read " + work)) << platform::Narrow(operation);
  }
  // Each source once: the archive among them.
  const std::wstring archive_read = L"read " + platform::Widen(Fact("archive_path"));
  EXPECT_EQ(1, std::count(outside.begin(), outside.end(), archive_read)) << LogText();
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(folders[0].c_str()));
  for (const std::wstring& file : planted.files) {
    EXPECT_EQ("planted", test_support::ReadFileBytes(file)) << platform::Narrow(file);
  }
  const std::wstring listed = test_support::PendingRenameOperations();
  EXPECT_EQ(std::wstring::npos, listed.find(folders[0])) << platform::Narrow(listed);
}

// Another process of the user takes the go before the child: the child never confirms, the
// master's wait ends on the stop of a closing window as before the go, and the child is sent
// home. (A thread of the master plays that process. Wine wakes the waiters of an event in
// the order they began to wait, and this one waits before the child exists.)
TEST_F(ElevatedInstallTest, ALostGoEndsOnTheStop) {
  RunMaster(L"good", L"--flow=thread --window --stop-at=released --steal-go");
  EXPECT_EQ("0", Fact("go_taken"));
  EXPECT_EQ("400", Fact("result_code"));
  int32_t stop_ms = 0;
  ASSERT_TRUE(platform::StringToInt32(Fact("stop_ms"), &stop_ms)) << LogText();
  EXPECT_LT(stop_ms, 60000);
  EXPECT_EQ(1, Count(L"ERROR: RunModule (1406): The elevated installer was terminated due to "
                     L"stop event."))
      << LogText();
  EXPECT_EQ("-1", Fact("child_exit_code"));
  EXPECT_EQ(1, Count(L"): Installer started as admin has been unexpectedly synced, wr=1"))
      << LogText();
  EXPECT_FALSE(Report().present);
}

// ---------------------------------------------------------------------------------------
// The shell start and the block in this process, through the Installer's seams.

// Answers the shell start as the test says and keeps what it was asked.
class ShellStubInstaller : public Installer {
 public:
  using Installer::Installer;
  bool StartElevated(SHELLEXECUTEINFOW* info) override {
    asked = *info;
    file = info->lpFile;
    parameters = info->lpParameters;
    verb = info->lpVerb;
    info->hInstApp = reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(inst_app));
    info->hProcess = nullptr;
    SetLastError(last_error);
    return succeed;
  }
  platform::FilePath GetModulePath() override {
    return module_path.empty() ? Installer::GetModulePath() : platform::FilePath(module_path);
  }
  bool VerifyModuleSignature(const std::wstring& archive_path) override {
    if (cancel_at == kWhileVerifying) cancel_answer = CancelSetupStart();
    return accept_any_archive || Installer::VerifyModuleSignature(archive_path);
  }
  bool RunModuleInElevatedProcess() override {
    if (cancel_at == kAtTheRelease) cancel_answer = CancelSetupStart();
    return Installer::RunModuleInElevatedProcess();
  }

  enum CancelAt { kNever, kWhileVerifying, kAtTheRelease };
  CancelAt cancel_at = kNever;
  bool cancel_answer = false;

  bool succeed = false;
  bool accept_any_archive = false;
  int inst_app = 0;
  DWORD last_error = 0;
  std::wstring module_path;
  SHELLEXECUTEINFOW asked = {};
  std::wstring file;
  std::wstring parameters;
  std::wstring verb;
};

// Records the errors the flow shows.
class ErrorListener : public ProgressListener {
 public:
  void SetDownloadFraction(float fraction) override {}
  void OnLongDownload() override {}
  void SetRemainingTime(uint32_t seconds, int32_t kind) override {}
  void Finish() override {}
  void ShowError(int32_t result_code) override { errors.push_back(result_code); }
  HWND WindowHandle() override { return nullptr; }
  void SetPercent(int32_t percent) override {}
  void RemoveCancelButton() override {}
  std::vector<int32_t> errors;
};

class ElevationSeamTest : public testing::Test {
 protected:
  ElevationSeamTest() : marker_(test_support::UniqueMarker()), brand_(work_.path() + L"\\") {}

  void SetUp() override {
    ASSERT_TRUE(lock_.owned());
    key_path_ = L"Software\\LiteInstallerTests\\" + platform::Widen(marker_);
    SetBrowserRegistryKeyPathForTesting(key_path_);
    brand_.set_brand_id("zorvin");
    brand_.set_brand_name("zorvin");
    brand_.set_language("en");
    brand_.set_setup_url(ArchiveUrl(marker_, L"good"));
    params_.SetParamsForTesting({{"zorvinuid", marker_}});
    SetEnvironmentVariableW(L"LI_STAND_IN_REPORT", work_.File(L"report.json").c_str());
    SetEnvironmentVariableW(L"LI_STAND_IN_WINDOW_MS", L"0");
    SetEnvironmentVariableW(L"LI_STAND_IN_EXIT_CODE", L"0");
    SetKeptArchiveFolderForTesting(work_.File(L"kept"));
  }

  void TearDown() override {
    SetKeptArchiveFolderForTesting(L"");
    RegDeleteTreeW(HKEY_CURRENT_USER, key_path_.c_str());
    SetBrowserRegistryKeyPathForTesting(L"");
  }

  test_support::InstallerRunLock lock_;
  test_support::ScopedTestLog log_;
  // As the window hands the flow over: with an owner for the elevation prompt.
  InstallerOptions Options(ProgressListener* listener = nullptr) {
    return {listener, &brand_, &params_, false, ProcessCommandLine(), +[] {
      return CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr, 0, 0, nullptr);
    }};
  }

  test_support::ScopedTempDir work_;
  std::string marker_;
  std::wstring key_path_;
  BrandInfo brand_;
  DistribInfoParams params_;
};

struct DeclineCase {
  int inst_app;
  DWORD last_error;
  bool disable_uac;
};

TEST_F(ElevationSeamTest, OnlyADeclinedPromptMakesTheSetupCarryDisableUac) {
  const DeclineCase cases[] = {
      {SE_ERR_ACCESSDENIED, ERROR_CANCELLED, true},  // the user said no
      {SE_ERR_FNF, ERROR_FILE_NOT_FOUND, false},
      {SE_ERR_NOASSOC, ERROR_NO_ASSOCIATION, false},
      {SE_ERR_OOM, ERROR_NOT_ENOUGH_MEMORY, false},
  };
  for (const DeclineCase& c : cases) {
    SCOPED_TRACE(c.inst_app);
    DeleteFileW(work_.File(L"report.json").c_str());
    ShellStubInstaller installer(Options());
    installer.inst_app = c.inst_app;
    installer.last_error = c.last_error;
    EXPECT_FALSE(installer.ExecuteAsAdmin());
    EXPECT_FALSE(installer.has_elevated_process());
    // The prompt's owner window is gone with the failed start.
    ASSERT_NE(nullptr, installer.asked.hwnd);
    EXPECT_FALSE(IsWindow(installer.asked.hwnd));

    installer.RunSync();
    EXPECT_EQ(0, installer.result_code());
    SetupReport report = ReadSetupReport(work_.File(L"report.json"));
    ASSERT_TRUE(report.present) << platform::Narrow(log_.Text());
    EXPECT_EQ(c.disable_uac ? 1u : 0u, report.switches.count("disable-uac"));
    // The setup ran here, not through a child.
    EXPECT_EQ(0u, report.switches.count("run-as-admin"));
  }
  EXPECT_FALSE(log_.Contains(L"RunModuleInElevatedProcess")) << log_.Text();
}

TEST_F(ElevationSeamTest, RestartAsksTheShellForTheSameProgramWithTheChildsSwitches) {
  ShellStubInstaller installer(Options());
  installer.set_send_statistics(true);
  installer.inst_app = SE_ERR_FNF;
  EXPECT_FALSE(installer.ExecuteAsAdmin());

  EXPECT_EQ(L"runas", installer.verb);
  EXPECT_EQ(static_cast<ULONG>(SEE_MASK_NOCLOSEPROCESS), installer.asked.fMask);
  EXPECT_EQ(SW_SHOW, installer.asked.nShow);
  EXPECT_EQ(nullptr, installer.asked.lpDirectory);
  EXPECT_EQ(ProcessCommandLine().ProgramPath(), installer.file);
  // The parameters are the command line without its program.
  ASSERT_FALSE(installer.parameters.empty());
  EXPECT_EQ(L' ', installer.parameters[0]);
  CommandLine child(L"x" + installer.parameters);
  EXPECT_TRUE(child.Has("run-as-admin"));
  EXPECT_EQ(platform::ToWString(GetCurrentProcessId()), child.Value("parent-installer-process-id"));
  EXPECT_TRUE(IsElevatedRunId(child.NarrowValue("elevated-run-id")));
  EXPECT_NE(L"", child.Value("delayed-params-handle"));
  // What the child will run: the placeholder program, the choices of the moment, no files.
  CommandLine setup(child.Value("setup-cmd-line"));
  EXPECT_EQ(L"fake_browser_arc", setup.ProgramPath());
  EXPECT_TRUE(setup.Has("send-statistics"));
  EXPECT_TRUE(setup.Has("verbose-logging"));
  EXPECT_EQ(L"zorvin", setup.Value("brand-name"));
  for (const char* file : {"installerdata", "clids-file", "brand-package", "run-as-admin"}) {
    EXPECT_FALSE(setup.Has(file)) << file;
  }
}

// A cancel (or a stop) and the release of the child are decided once: a cancel while the
// archive is verified keeps the child from being released, and the run shows no error; one
// at the release is refused (the window then goes on as after "Resume").
TEST_F(ElevationSeamTest, ACancelBeforeTheReleaseWinsAndOneAfterItIsRefused) {
  for (auto at : {ShellStubInstaller::kWhileVerifying, ShellStubInstaller::kAtTheRelease}) {
    const bool early = at == ShellStubInstaller::kWhileVerifying;
    SCOPED_TRACE(early);
    ErrorListener listener;
    ShellStubInstaller installer(Options(&listener));
    installer.SetMessageWindowPollForTesting(10);
    installer.succeed = true;
    installer.accept_any_archive = true;
    installer.cancel_at = at;
    ASSERT_TRUE(installer.ExecuteAsAdmin());
    installer.RunSync();
    EXPECT_EQ(early, installer.cancel_answer);
    EXPECT_EQ(400, installer.result_code());
    EXPECT_EQ(early ? 0 : 1, log_.CountLines(L"INFO: RunModuleInElevatedProcess (805)"))
        << log_.Text();
    EXPECT_EQ(early ? std::vector<int32_t>{} : std::vector<int32_t>{1}, listener.errors);
  }
  EXPECT_EQ(1, log_.CountLines(L"): Installation was cancelled before the setup started."))
      << log_.Text();
}

TEST_F(ElevationSeamTest, TooLongArchivePathIsNeverHandedToTheChild) {
  // 261 characters: one more than a block field holds with its zero. The long-path prefix
  // lets the download and the lock open it; the module loader, which reads the archive's
  // trusted list, refuses it all the same, so the check is waived here.
  std::wstring folder = L"\\\\?\\" + work_.path() + L"\\";
  std::wstring path = folder + std::wstring(261 - folder.size() - 4, L'a') + L".tmp";
  ASSERT_EQ(261u, path.size());

  ErrorListener listener;
  ShellStubInstaller installer(Options(&listener));
  installer.SetMessageWindowPollForTesting(10);
  installer.module_path = path;
  installer.set_kept_archive_folder(L"");  // a download of its own, to that path
  installer.succeed = true;
  installer.accept_any_archive = true;
  installer.inst_app = 42;
  ASSERT_TRUE(installer.ExecuteAsAdmin());
  ASSERT_TRUE(installer.has_elevated_process());
  installer.RunSync();

  EXPECT_EQ(std::vector<int32_t>{1}, listener.errors);
  EXPECT_EQ(400, installer.result_code());
  EXPECT_EQ(1, log_.CountLines(L"ERROR: WriteDelayedParams (")) << log_.Text();
  EXPECT_EQ(1, log_.CountLines(L"): Too large string length, browser_arc_path=" + path +
                               L" clids_file_path="))
      << log_.Text();
  EXPECT_EQ(1, log_.CountLines(L"ERROR: InstallBrowser (")) << log_.Text();
  EXPECT_EQ(1, log_.CountLines(L"): Unexpected error in CreateDelayedParamsMapping()"))
      << log_.Text();
  EXPECT_FALSE(log_.Contains(L"RunModuleInElevatedProcess")) << log_.Text();
  EXPECT_FALSE(log_.Contains(L"RunModuleAndWait")) << log_.Text();
  EXPECT_FALSE(ReadSetupReport(work_.File(L"report.json")).present);
  // The real work folder never gives such a path (GetTempFileNameW stays within MAX_PATH),
  // and the flow's own removal refuses it like every path of MAX_PATH or more.
  DeleteFileW(path.c_str());
}

}  // namespace
}  // namespace installer
