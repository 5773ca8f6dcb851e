#include "install/elevation.h"

#include <windows.h>
#include <shlobj.h>

#include <cstdint>
#include <string>
#include <vector>

#include "brand/distrib_info_params.h"
#include "platform/file_util.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/scoped_handle.h"
#include "platform/strings.h"
#include "platform/windows_version.h"
#include "platform/command_line.h"
#include "install/elevated_child.h"
#include "platform/logging.h"
#include "platform/switches.h"

namespace installer {

namespace {

// SetSearchPathMode: BASE_SEARCH_PATH_ENABLE_SAFE_SEARCHMODE | BASE_SEARCH_PATH_PERMANENT.
constexpr DWORD kSafeSearchPathMode = 0x8001;
// SetDefaultDllDirectories: LOAD_LIBRARY_SEARCH_SYSTEM32.
constexpr DWORD kSystemFolderOnly = 0x800;

using SetSearchPathModeFunction = BOOL(WINAPI*)(DWORD);
using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);

constexpr wchar_t kUacPolicyKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
constexpr wchar_t kConsentPromptValue[] = L"ConsentPromptBehaviorAdmin";

// Only a search that found nothing clears the folder: one that failed for another reason
// (a folder that cannot be read, a name too long) counts as a DLL found, and the process
// refuses to run there (-200).
bool HasDllNextTo(const platform::FilePath& executable) {
  platform::FolderWalker walker(executable.DirName(), false, platform::FolderWalker::kFiles,
                                L"*.dll");
  return !walker.Next().empty() || walker.failed();
}

// The largest executable the private-folder copy takes.
constexpr uint64_t kMaxExecutableBytes = 64u << 20;

// The folder the private-folder copy runs from: the user's temporary folder when this
// process has no more rights than the user, else the elevated child's kind of folder in a
// machine-wide place (what the user can write, a copy with more rights must never run
// from). Either way the folder has a fresh random name and the clean-up deletes only the
// copy and the folder, each through a handle checked to be what this process made.
int RelaunchFromPrivateFolder(const platform::FilePath& executable,
                              const CommandLine& command_line, int* exit_code) {
  if (executable.empty()) return kEnvironmentNotSecured;
  const bool more_rights = RunsWithMoreRightsThanFolderUser();
  std::vector<std::wstring> roots;
  if (!more_rights) {
    wchar_t temp[MAX_PATH];
    const DWORD length = GetTempPathW(MAX_PATH, temp);
    if (length == 0 || length >= MAX_PATH) return kEnvironmentNotSecured;
    roots.push_back(platform::FilePath(std::wstring(temp, length)).StripTrailingSeparators().value());
  }
  PrivateFolder folder;
  if (!folder.Create(roots, more_rights)) return kEnvironmentNotSecured;
  const std::wstring copy =
      folder.CopyIn(executable.value(), executable.BaseName().value().c_str(), kMaxExecutableBytes);
  if (copy.empty()) return kEnvironmentNotSecured;
  int outcome = kEnvironmentNotSecured;
  CommandLine copy_command_line(command_line);
  copy_command_line.SetProgramPath(copy);
  copy_command_line.Put(switches::kSpawnedInProtectedDir);
  platform::ProcessHandle process =
      platform::StartProcess(copy_command_line.Print(), platform::StartOptions());
  if (process.IsOpen()) {
    uint32_t code = 0;
    if (process.WaitExit(&code)) {
      *exit_code = static_cast<int>(code);
      outcome = *exit_code == kInsecureEnvironmentExitCode ? kEnvironmentCopyRefused
                                                           : kEnvironmentCopyFinished;
    } else {
      // Nothing is known about the copy, and an exit code of 0 would pass for a
      // successful installation: refuse as if it had found DLL files.
      *exit_code = kInsecureEnvironmentExitCode;
      outcome = kEnvironmentCopyRefused;
    }
    process.Close();
  }
  // What cannot go now (a folder something else was put in, a copy still in use) is left
  // for the next reboot.
  folder.Remove();
  return outcome;
}

// Whether the token's user is one of the service accounts (SYSTEM, LOCAL SERVICE, NETWORK
// SERVICE). A token that cannot be read counts as one.
bool RunsAsServiceAccount() {
  platform::ScopedKernelHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.receive())) return true;
  alignas(TOKEN_USER) uint8_t buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD size = 0;
  if (!GetTokenInformation(token.get(), TokenUser, buffer, sizeof(buffer), &size)) return true;
  PSID user = reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid;
  for (WELL_KNOWN_SID_TYPE type : {WinLocalSystemSid, WinLocalServiceSid, WinNetworkServiceSid}) {
    if (IsWellKnownSid(user, type)) return true;
  }
  return false;
}

bool GetProcessToken(HANDLE process, platform::ScopedKernelHandle* token) {
  if (!OpenProcessToken(process, TOKEN_QUERY, token->receive())) {
    LOG_AT(ERROR, "GetProcessToken", 33) << "OpenProcessToken fail";
    return false;
  }
  return true;
}

bool GetTokenInfo(HANDLE token, std::vector<uint8_t>* groups) {
  DWORD size = 0;
  GetTokenInformation(token, TokenGroups, nullptr, 0, &size);
  if (size != 0) {
    groups->assign(size, 0);
    if (GetTokenInformation(token, TokenGroups, groups->data(), size, &size)) return true;
  }
  LOG_AT(ERROR, "GetTokenInfo", 47) << "GetTokenInformation failed";
  return false;
}

}  // namespace

bool SecureEnvironmentSystem::EnableSafeDllSearch() {
  SetDllDirectoryW(L"");
  HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  if (kernel32 == nullptr) return false;
  auto set_search_path_mode = reinterpret_cast<SetSearchPathModeFunction>(
      GetProcAddress(kernel32, "SetSearchPathMode"));
  auto set_default_dll_directories = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
      GetProcAddress(kernel32, "SetDefaultDllDirectories"));
  if (set_search_path_mode == nullptr || set_default_dll_directories == nullptr) return false;
  set_search_path_mode(kSafeSearchPathMode);
  set_default_dll_directories(kSystemFolderOnly);
  return true;
}

platform::FilePath SecureEnvironmentSystem::ExecutablePath() {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  // A full buffer means the name was cut.
  if (length == 0 || length >= MAX_PATH) return platform::FilePath();
  return platform::FilePath(std::wstring_view(path, length));
}

const CommandLine& SecureEnvironmentSystem::GetCommandLine() { return ProcessCommandLine(); }

int CheckSecureEnvironment(int* exit_code) {
  SecureEnvironmentSystem system;
  return CheckSecureEnvironment(&system, exit_code);
}

int CheckSecureEnvironment(SecureEnvironmentSystem* system, int* exit_code) {
  *exit_code = 0;
  if (system->EnableSafeDllSearch()) return kEnvironmentSecure;
  platform::FilePath executable = system->ExecutablePath();
  const CommandLine& command_line = system->GetCommandLine();
  if (command_line.Has(switches::kRunAsAdmin) ||
      command_line.Has(switches::kSpawnedInProtectedDir)) {
    if (executable.empty()) {
      // The elevated child would run with administrator rights beside DLLs it cannot look
      // for: it refuses as if it had found them. The private-folder copy has only the user's
      // rights and goes on, as the master does.
      if (!command_line.Has(switches::kRunAsAdmin)) return kEnvironmentNotSecured;
      *exit_code = kInsecureEnvironmentExitCode;
      return kEnvironmentCopyRefused;
    }
    return HasDllNextTo(executable) ? kEnvironmentDllsFound : kEnvironmentSecure;
  }
  return RelaunchFromPrivateFolder(executable, command_line, exit_code);
}

bool IsUserAnAdminGroup(HANDLE process) {
  platform::ScopedKernelHandle token;
  if (!GetProcessToken(process, &token)) return false;
  BYTE admins[SECURITY_MAX_SID_SIZE] = {};
  DWORD admins_size = sizeof(admins);
  if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &admins_size)) {
    LOG_AT(ERROR, "IsUserAnAdminGroup", 99) << "CreateWellKnownSid failed";
    return false;
  }
  std::vector<uint8_t> buffer;
  if (!GetTokenInfo(token.get(), &buffer)) return false;
  const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer.data());
  for (DWORD i = 0; i < groups->GroupCount; ++i) {
    // The attributes do not matter: UAC's filtered token keeps the group as deny-only.
    if (EqualSid(groups->Groups[i].Sid, admins)) return true;
  }
  return false;
}

bool AdminStatus::IsInAdminGroup() { return IsUserAnAdminGroup(GetCurrentProcess()); }

bool AdminStatus::IsElevated() { return IsUserAnAdmin() != FALSE; }

bool RunsElevatedThroughUac() {
  platform::ScopedKernelHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.receive())) return false;
  TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
  DWORD size = 0;
  return GetTokenInformation(token.get(), TokenElevationType, &type, sizeof(type), &size) &&
         type == TokenElevationTypeFull;
}

bool RunsWithMoreRightsThanFolderUser() {
  return RunsElevatedThroughUac() || RunsAsServiceAccount();
}

bool NeedStartThisProcessAsAdmin() {
  AdminStatus status;
  return NeedStartThisProcessAsAdmin(ProcessCommandLine(), &status);
}

bool NeedStartThisProcessAsAdmin(const CommandLine& command_line, AdminStatus* status) {
  if (!status->IsInAdminGroup()) {
    LOG_AT(INFO, "NeedStartThisProcessAsAdmin", 1448) << "User is not in admin group.";
    return false;
  }
  if (platform::WindowsVersionClass() <= platform::kWindowsServer2003) {
    LOG_AT(INFO, "NeedStartThisProcessAsAdmin", 1453)
        << "Windows version is not suitable for elevated restart.";
    return false;
  }
  for (const char* const* name = switches::kNonInstallSwitches; *name != nullptr; ++name) {
    if (command_line.Has(*name)) {
      LOG_AT(INFO, "NeedStartThisProcessAsAdmin", 1462) << "Found non install-switch:" << *name;
      return false;
    }
  }
  if (command_line.Has(switches::kRunAsAdmin)) {
    LOG_AT(INFO, "NeedStartThisProcessAsAdmin", 1468)
        << "Run-as-admin functionality is already enabled.";
    return false;
  }
  if (!command_line.Has(switches::kSilent)) return true;
  if (command_line.Has(switches::kUacEnabled)) return true;
  if (status->IsElevated()) return true;
  LOG_AT(INFO, "NeedStartThisProcessAsAdmin", 1477)
      << "Elevated run is necessary but silent instalation is requested - UAC will not be shown.";
  return false;
}

int GetUacMode(const DistribInfoParams& params, const CommandLine& command_line) {
  if (command_line.Has(switches::kSystemLevel) ||
      command_line.Has(switches::kProgramFilesInstallation)) {
    return kUacModeAfterInstallButton;
  }
  std::string text;
  if (!params.Get("uac", &text)) return kUacModeAfterInstallButton;
  int32_t uac = 0;
  // Text that is not a decimal 32-bit number is no mode at all: as if it were absent.
  if (!platform::StringToInt32(text, &uac)) return kUacModeAfterInstallButton;
  if (uac == 2) return kUacModeAtBrowserStart;
  if (uac == 1) return kUacModeAtStart;
  if (uac != 0) return kUacModeAfterInstallButton;
  // The first-run rule: a first run whose choices were made in advance asks at start.
  std::string first;
  bool flag = false;
  bool first_run = params.Get("first", &first) && first == "1";
  bool has_default = params.GetBool("def", &flag);
  bool has_statistics = params.GetBool("stat", &flag) || params.Has("statpromo");
  return first_run && has_default && has_statistics ? kUacModeAtStart
                                                    : kUacModeAfterInstallButton;
}

bool AreUACNotificationsEnabled() {
  DWORD value = 0;
  platform::RegKeyReader key;
  if (key.OpenKey(HKEY_LOCAL_MACHINE, kUacPolicyKey, KEY_READ) == ERROR_SUCCESS) {
    if (key.ReadDword(kConsentPromptValue, &value) != ERROR_SUCCESS) value = 0;
  }
  LOG_AT(INFO, "AreUACNotificationsEnabled", 143)
      << "Read HKEY_LOCAL_MACHINE\\" << kUacPolicyKey << L"\\" << kConsentPromptValue
      << " which is \"" << static_cast<unsigned long>(value) << "\"";
  return value != 0;
}

}  // namespace installer
