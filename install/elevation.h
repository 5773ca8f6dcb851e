// The decisions around an elevated restart.
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
// "false" logs why under "NeedStartThisProcessAsAdmin". A master that already runs elevated
// never restarts: it runs the setup itself.
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
