// DLL-search hardening at start, and the decisions around an elevated restart.
//
// An installer downloaded into a folder full of other files must never load a DLL from that
// folder. `CheckSecureEnvironment` runs before anything else (before the log is open, so it
// logs nothing itself) and restricts the DLL search to the system folder; on systems that
// cannot, it reruns a copy of the executable from a fresh private folder and passes that
// copy's exit code on.
//
// The elevation decisions say whether the master should restart itself with administrator
// rights (`NeedStartThisProcessAsAdmin`), when the window does it (`GetUacMode`), and what
// the system's UAC policy is (`AreUACNotificationsEnabled`, for the statistics).
#ifndef INSTALL_ELEVATION_H_
#define INSTALL_ELEVATION_H_

#include <windows.h>

#include "platform/file_path.h"

namespace installer {

class CommandLine;
class DistribInfoParams;

// Outcomes of `CheckSecureEnvironment`.
enum SecureEnvironmentOutcome : int {
  // The private-folder copy found DLL files (or could not be waited for), or an elevated
  // child cannot read its own path: exit with the out-parameter (-200).
  kEnvironmentCopyRefused = 0,
  // Neither the safe search order nor a private-folder copy was possible: go on.
  kEnvironmentNotSecured = 1,
  // The search order is safe (or this is the copy and no DLL lies next to it): go on.
  kEnvironmentSecure = 2,
  // This is an elevated child or the private-folder copy, and DLL files lie next to it.
  kEnvironmentDllsFound = 3,
  // The private-folder copy ran the installation: exit with its exit code.
  kEnvironmentCopyFinished = 4,
};

// Exit code of a process that found DLL files next to itself.
inline constexpr int kInsecureEnvironmentExitCode = -200;

// What `CheckSecureEnvironment` asks of the system; tests substitute a system without the
// safe search order (Wine has it).
class SecureEnvironmentSystem {
 public:
  virtual ~SecureEnvironmentSystem() = default;
  // SetDllDirectoryW(L""), then, when kernel32 has both SetSearchPathMode and
  // SetDefaultDllDirectories, safe permanent search mode and system-folder-only DLLs.
  // False when either call is missing.
  virtual bool EnableSafeDllSearch();
  // The own executable (GetModuleFileNameW); empty on failure.
  virtual platform::FilePath ExecutablePath();
  virtual const CommandLine& GetCommandLine();
};

// Sets `*exit_code` to 0, then hardens the DLL search as the header says and returns the
// outcome; for kEnvironmentCopyRefused and kEnvironmentCopyFinished `*exit_code` holds the
// code to exit with.
int CheckSecureEnvironment(int* exit_code);
int CheckSecureEnvironment(SecureEnvironmentSystem* system, int* exit_code);

// Whether the token of `process` lists the built-in Administrators group, whatever the
// group's attributes (the deny-only group of a filtered administrator token counts). Logs an
// ERROR and gives false when the token or the group cannot be read.
bool IsUserAnAdminGroup(HANDLE process);

// Whether this process runs with the elevated half of a split administrator token (UAC's
// "full" type): the user's other processes run with fewer rights, so nothing they could have
// prepared in the user's folders may steer what this one does there. False without UAC, with
// UAC off (no process of the user has fewer rights) and when the token cannot be read.
bool RunsElevatedThroughUac();

// Whether this process has more rights than the user whose folders (the temporary folder,
// the local application data) it would use: `RunsElevatedThroughUac`, or its user is a
// service account (SYSTEM, LOCAL SERVICE, NETWORK SERVICE; also when the token cannot be
// read). Such a process trusts nothing those folders hold.
bool RunsWithMoreRightsThanFolderUser();

// Facts about the current user that the restart decision needs; tests substitute them.
class AdminStatus {
 public:
  virtual ~AdminStatus() = default;
  // `IsUserAnAdminGroup` of the current process.
  virtual bool IsInAdminGroup();
  // The shell's IsUserAnAdmin: the process already runs elevated.
  virtual bool IsElevated();
};

// Whether the master should restart itself elevated, for the process command line. Each
// answer but two "true" ones logs why under "NeedStartThisProcessAsAdmin".
bool NeedStartThisProcessAsAdmin();
bool NeedStartThisProcessAsAdmin(const CommandLine& command_line, AdminStatus* status);

// UAC modes: when (and whether) the window restarts the installer elevated.
enum UacMode : int {
  kUacModeAfterInstallButton = 0,  // at the switch to the progress screen
  kUacModeAtStart = 1,             // while the window initialises
  kUacModeAtBrowserStart = 2,      // never; the setup gets "show-uac-at-browser-start"
};
// 0 for a system-level or Program Files installation; otherwise from the distribution
// parameter "uac" (2, 1, or 0 with the first-run rule). A "uac" that is not a decimal
// 32-bit integer counts as absent (0).
int GetUacMode(const DistribInfoParams& params, const CommandLine& command_line);

// Reads the DWORD "ConsentPromptBehaviorAdmin" of the machine's UAC policy key (an
// unreadable value counts as 0), logs it, and says whether it is not 0.
bool AreUACNotificationsEnabled();

}  // namespace installer

#endif  // INSTALL_ELEVATION_H_
