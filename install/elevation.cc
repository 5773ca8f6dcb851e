#include "install/elevation.h"

#include <shlobj.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "brand/distrib_info_params.h"
#include "platform/command_line.h"
#include "platform/logging.h"
#include "platform/registry.h"
#include "platform/strings.h"
#include "platform/switches.h"
#include "platform/user_rights.h"
#include "platform/windows_version.h"

namespace installer {

namespace {

constexpr wchar_t kUacPolicyKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
constexpr wchar_t kConsentPromptValue[] = L"ConsentPromptBehaviorAdmin";

}  // namespace

bool AdminStatus::IsInAdminGroup() { return IsUserAnAdminGroup(GetCurrentProcess()); }

bool AdminStatus::IsElevated() { return IsUserAnAdmin() != FALSE; }

bool NeedStartThisProcessAsAdmin() {
  AdminStatus status;
  return NeedStartThisProcessAsAdmin(ProcessCommandLine(), &status);
}

bool NeedStartThisProcessAsAdmin(const CommandLine& command_line, AdminStatus* status) {
  if (!status->IsInAdminGroup()) {
    logging::LogText(logging::kINFO, "NeedStartThisProcessAsAdmin", 1448, "User is not in admin group.");
    return false;
  }
  if (platform::WindowsVersionClass() <= platform::kWindowsServer2003) {
    logging::LogText(logging::kINFO, "NeedStartThisProcessAsAdmin", 1453,
            "Windows version is not suitable for elevated restart.");
    return false;
  }
  for (const char* const* name = switches::kNonInstallSwitches; *name != nullptr; ++name) {
    if (command_line.Has(*name)) {
      logging::LogWithValue(logging::kINFO, "NeedStartThisProcessAsAdmin", 1462,
                            "Found non install-switch:", *name);
      return false;
    }
  }
  if (command_line.Has(switches::kRunAsAdmin)) {
    logging::LogText(logging::kINFO, "NeedStartThisProcessAsAdmin", 1468,
            "Run-as-admin functionality is already enabled.");
    return false;
  }
  if (status->IsElevated()) {
    // A child would read its sources with this very token, so its restriction to what the
    // user can read would restrict nothing; the setup runs here with the rights it has.
    logging::LogText(logging::kINFO, "NeedStartThisProcessAsAdmin", __LINE__,
            "The installer already runs with administrator rights; it starts no elevated copy.");
    return false;
  }
  if (!command_line.Has(switches::kSilent)) return true;
  if (command_line.Has(switches::kUacEnabled)) return true;
  logging::LogText(logging::kINFO, "NeedStartThisProcessAsAdmin", 1477,
          "Elevated run is necessary but silent instalation is requested - UAC will not be shown.");
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
