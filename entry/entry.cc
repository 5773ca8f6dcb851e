#include "entry/entry.h"

#include <windows.h>
#include <jansson.h>

#include <string>
#include <utility>

#include "brand/brand_info.h"
#include "brand/distrib_info_params.h"
#include "brand/localized_strings.h"
#include "entry/secure_environment.h"
#include "install/elevated_child.h"
#include "install/installer.h"
#include "install/preinstall_checks.h"
#include "install/win10_default_browser.h"
#include "platform/command_line.h"
#include "platform/fatal.h"
#include "platform/file_util.h"
#include "platform/logging.h"
#include "platform/process.h"
#include "platform/random.h"
#include "platform/scoped_handle.h"
#include "platform/shared_sections.h"
#include "platform/strings.h"
#include "platform/switches.h"
#include "platform/system_library.h"
#include "platform/user_rights.h"
#include "platform/windows_version.h"
#include "resources/resource_ids.h"
#include "ui/main_window.h"
#include "ui/message_dialog.h"
#include "ui/ui_environment.h"

namespace installer {

namespace {

// Log tag of the master's path (the elevated child's is kElevatedChildTag,
// install/elevated_child.h).
constexpr char kMasterTag[] = "wWinMain";

constexpr wchar_t kLogFileName[] = L"\\lite_installer.log";

// The switches the master reads once (step M5).
struct MasterSwitches {
  bool silent = false;
  bool system_level = false;
  // As given: narrowing it could turn a typed character into another brand's name.
  std::wstring brand_name;
};

// ---------------------------------------------------------------------------------------
// Start, common to every process.

// S2. The log lives in the temporary folder. Without one the name is "\lite_installer.log",
// in the root of the current drive, where writing usually fails: the log never fails its
// callers, so the run goes on without it. The elevated child opens no log by path: it
// writes through its master's handle (platform/logging.h). A fatal stop inside the first
// build of the process command line opens no log at all: that build cannot be waited for
// from inside itself.
void OpenLog() {
  const CommandLine* command_line = ProcessCommandLineUnlessBuilding();
  if (command_line == nullptr) return;
  platform::FilePath temp;  // stays empty when Windows gives none
  platform::TempFolder(&temp);
  const std::wstring path = temp.value() + kLogFileName;
  if (command_line->Has(switches::kRunAsAdmin)) {
    bool well_formed = false;
    logging::InitBorrowedLogging(path, ParentProcessIdFrom(*command_line, &well_formed));
  } else {
    logging::InitLogging(path);
  }
}

// S3a. The interface-check child answers before anything else happens.
bool HandleNonInstallQuery(int* exit_code) {
  int code = 0;
  if (!win10_default_browser::HandleCheckInterfaceSwitch(&code)) return false;
  LOG_AT(INFO, kMasterTag, 137)
      << "Handled non install cmd line option by win10 default browser helper, ret code: "
      << code;
  *exit_code = code;
  return true;
}

// ---------------------------------------------------------------------------------------
// Master path.

// M3, when another master holds the mutex: show that one instead.
int ReportAnotherInstance() {
  uint32_t master = MasterProcessId();
  logging::LogText(logging::kINFO, kMasterTag, 173,
                   "Another installer instance is already running.");
  logging::LogWithValue(logging::kINFO, kMasterTag, 174, "Master installer process id: ", master);
  platform::BringProcessWindowToTop(master);
  return kExitAnotherInstance;
}

// M4.
void RecordMasterProcess() {
  DWORD id = GetCurrentProcessId();
  SetMasterProcessId(id);
  logging::LogWithValue(logging::kINFO, kMasterTag, 181, "Installer process id: ", id);
}

// M5.
MasterSwitches ReadMasterSwitches(const CommandLine& command_line) {
  MasterSwitches result;
  result.silent = command_line.Has(switches::kSilent);
  result.system_level = command_line.Has(switches::kSystemLevel);
  result.brand_name = command_line.Value(switches::kBrandName);
  return result;
}

}  // namespace

bool MoveWorkIntoPrivateFolder(PrivateFolder* folder) {
  if (!folder->Create()) return false;
  if (folder->MakeProcessTemp()) return true;
  folder->Remove();
  return false;
}

namespace {

// M6.
// With its trailing backslash: the brand's work folder is joined to it that way.
std::wstring LogTemporaryDirectory() {
  platform::FilePath temp;
  std::wstring folder;
  if (platform::TempFolder(&temp)) folder = temp.value() + L"\\";
  logging::LogWithValue(logging::kINFO, kMasterTag, 192, "Temporary path is: ", folder);
  return folder;
}

// M7. The distribution parameters first: their "lang" beats the packages' language.
void LoadConfiguration(const std::wstring& brand_name, DistribInfoParams* params,
                       BrandInfo* brand) {
  params->CreateJsonFromDistribParams();
  brand->GetInfo(brand_name);
  std::string language;
  if (params->GetLanguage(&language)) brand->set_language(language);
  brand->ApplyDefaults();
}

bool ProcessorSupportsSse2() {
  return IsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE) != FALSE;
}

// M8. False when the installation cannot go on (exit 404).
bool CheckProcessor(bool silent, uint32_t language_id) {
  if (ProcessorSupportsSse2()) return true;
  logging::LogText(logging::kERROR, kMasterTag, 218, "CPU is not supported");
  if (!silent) {
    std::wstring caption = LoadLocalizedString(IDS_INSTALLER_CAPTION, language_id);
    std::wstring text = LoadLocalizedString(IDS_CANNOT_INSTALL_TEXT, language_id) + L"\n" +
                        LoadLocalizedString(IDS_NO_SSE2_TEXT, language_id);
    MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_ICONERROR);
  }
  return false;
}

// M10. The exit code is the install flow's result code.
int RunSilentInstallation(const CommandLine& command_line, const BrandInfo& brand,
                          const DistribInfoParams& params) {
  logging::LogText(logging::kINFO, kMasterTag, 244, "Installing in silent mode.");
  Installer installer({.brand_info = &brand,
                       .params = &params,
                       .prepare_install_tasks = true,
                       .command_line = command_line});
  SilentInstallOptions options = GetSilentInstallOptions(command_line, brand);
  installer.set_make_default(options.make_default);
  installer.set_send_statistics(options.send_statistics);
  installer.RunSync();
  return installer.result_code();
}

// M11. The exit code is 403 whether or not the message could be shown.
int ShowNotEnoughDiskSpace(uint32_t language_id) {
  lite_installer::MessageDialog dialog(lite_installer::MessageKind::kNotEnoughDiskSpace,
                                       language_id);
  dialog.DoModal();
  return kExitNotEnoughDiskSpace;
}

// M12; the exit code comes from ExitCodeOfInstallerWindow.
int RunInstallerWindow(const CommandLine& command_line, const BrandInfo& brand,
                       const DistribInfoParams& params) {
  lite_installer::MainWindow window({.brand_info = &brand,
                                     .params = &params,
                                     .prepare_install_tasks = true,
                                     .command_line = command_line});
  INT_PTR result = window.DoModal();
  // The flow may still be sending its last report; its result code is final once it stopped.
  window.StopInstaller();
  return ExitCodeOfInstallerWindow(result, window.result_code());
}

// M1 to M14. Objects die in reverse order of construction: the configuration, the mutex
// (released), the UI environment.
int RunMasterInstaller(const CommandLine& command_line) {
  UiEnvironment ui_environment;
  logging::LogText(logging::kINFO, kMasterTag, 169, "Lite installer mode.");

  SingleInstanceMutex mutex;
  if (!mutex.Acquire()) return ReportAnotherInstance();
  RecordMasterProcess();

  MasterSwitches master_switches = ReadMasterSwitches(command_line);
  // Removed last, after everything that wrote into it.
  PrivateFolder work_folder;
  if (RunsWithMoreRightsThanFolderUser() && !MoveWorkIntoPrivateFolder(&work_folder)) {
    // A service account without administrator rights (LOCAL SERVICE, NETWORK SERVICE) cannot
    // make an administrators' folder; its TEMP lies in its own profile, which no user shares.
    if (IsUserAnAdminGroup(GetCurrentProcess())) {
      logging::LogText(logging::kERROR, kMasterTag, __LINE__,
                       "No private folder for the run's files: not installing.");
      return kExitInstallerNotRun;
    }
    logging::LogText(logging::kWARNING, kMasterTag, __LINE__,
                     "The run's files stay in the account's own TEMP.");
  }
  std::wstring temporary_directory = LogTemporaryDirectory();

  DistribInfoParams params;
  BrandInfo brand(temporary_directory);
  LoadConfiguration(master_switches.brand_name, &params, &brand);

  if (!CheckProcessor(master_switches.silent, brand.language_id())) {
    return kExitUnsupportedProcessor;
  }
  bool enough_disk_space = HasEnoughDiskSpace(master_switches.system_level, kRequiredDiskSpace);

  int exit_code = kExitInstallerNotRun;
  if (master_switches.silent) {
    // A full disk is the setup program's to report in a silent run.
    exit_code = RunSilentInstallation(command_line, brand, params);
  } else if (!enough_disk_space) {
    exit_code = ShowNotEnoughDiskSpace(brand.language_id());
  } else {
    exit_code = RunInstallerWindow(command_line, brand, params);
  }
  logging::LogWithValue(logging::kINFO, kMasterTag, 257, "Installer exit with code: ", exit_code);
  return exit_code;
}

}  // namespace

bool ExitForSecureEnvironment(int outcome, int copy_exit_code, int* exit_code) {
  switch (outcome) {
    case kEnvironmentCopyRefused:
      logging::LogText(logging::kINFO, kMasterTag, 143,
                       "Exiting, because of insecure environment.");
      *exit_code = copy_exit_code;
      return true;
    case kEnvironmentNotSecured:
      logging::LogText(logging::kINFO, kMasterTag, 146, "Can't find secure environment.");
      return false;
    case kEnvironmentSecure:
      logging::LogText(logging::kINFO, kMasterTag, 151, "Runned in secure environment.");
      return false;
    case kEnvironmentDllsFound:
      logging::LogText(logging::kINFO, kMasterTag, 154,
                       "Exiting, DLL files found in working directory");
      *exit_code = kInsecureEnvironmentExitCode;
      return true;
    case kEnvironmentCopyFinished:
    default:
      *exit_code = copy_exit_code;
      return true;
  }
}

static_assert(kExitWindowFailed != platform::kSystemLibraryMissingExitCode,
              "each abnormal end has a code of its own");

int ExitCodeOfInstallerWindow(INT_PTR dialog_result, int32_t result_code) {
  if (dialog_result == lite_installer::kResultDone) return result_code;
  if (dialog_result == -1) {
    logging::LogText(logging::kERROR, kMasterTag, __LINE__,
                     "The installer window could not be shown.");
    return kExitWindowFailed;
  }
  logging::LogText(logging::kINFO, kMasterTag, 239, "User cancelled installation.");
  return kExitUserCancelled;
}

SilentInstallOptions GetSilentInstallOptions(const CommandLine& command_line,
                                             const BrandInfo& brand) {
  SilentInstallOptions options;
  int version_class = platform::WindowsVersionClass();
  if (version_class != platform::kWindows8 && version_class != platform::kWindows8_1) {
    options.make_default = command_line.Has(switches::kMakeBrowserDefaultAfterImport);
  }
  options.send_statistics =
      command_line.Has(switches::kSendStatistics) || brand.ShouldSendStatistics();
  return options;
}

SingleInstanceMutex::SingleInstanceMutex(const wchar_t* name)
    : mutex_(CreateMutexW(nullptr, FALSE, name)) {}

SingleInstanceMutex::~SingleInstanceMutex() {
  if (owned_) ReleaseMutex(mutex_.get());
}

bool SingleInstanceMutex::Acquire() {
  if (!mutex_) return false;
  owned_ = WaitForSingleObject(mutex_.get(), 0) == WAIT_OBJECT_0;
  return owned_;
}

int RunLiteInstaller() {
  // A fatal end (a system library that cannot be loaded where no guard expects it, an
  // allocation that failed) writes its line even before S2, whichever process this is.
  platform::SetFatalLogOpener(OpenLog);
  platform::EndProcessOnUnguardedDelayLoadFailure();
  // S1, before the log: nothing may load a DLL from the download folder.
  int copy_exit_code = 0;
  int outcome = CheckSecureEnvironment(&copy_exit_code);
  // Jansson's hash tables are seeded here, from the system generator, before any JSON is
  // made. Jansson is built without its own seed sources (cmake/dependencies.cmake: its
  // CryptoAPI source loaded a cryptographic provider just for this, over 10 ms before the
  // window under Wine), so left to itself it would take the time and the process id. Never
  // zero, which would ask Jansson for its own.
  json_object_seed(static_cast<size_t>(platform::RandomU64()) | 1);
  OpenLog();
  logging::LogText(logging::kINFO, kMasterTag, 131,
                   "-------------------------------------- Start install.");
  const CommandLine& command_line = ProcessCommandLine();
  if (command_line.Has(switches::kSilent) || command_line.Has(switches::kCheckTheInterface)) {
    platform::EndSilentRunOnUnhandledException();
  }

  int exit_code = 0;
  if (HandleNonInstallQuery(&exit_code)) return exit_code;
  if (ExitForSecureEnvironment(outcome, copy_exit_code, &exit_code)) return exit_code;
  if (command_line.Has(switches::kRunAsAdmin)) return RunElevatedChild(command_line);
  return RunMasterInstaller(command_line);
}

}  // namespace installer
