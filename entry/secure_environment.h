// DLL-search hardening at start.
//
// An installer downloaded into a folder full of other files must never load a DLL from that
// folder. `CheckSecureEnvironment` runs before anything else (before the log is open, so it
// logs nothing itself) and restricts the DLL search to the system folder; on systems that
// cannot, it reruns a copy of the executable from a fresh private folder and passes that
// copy's exit code on.
#ifndef ENTRY_SECURE_ENVIRONMENT_H_
#define ENTRY_SECURE_ENVIRONMENT_H_

#include <windows.h>

#include "platform/file_path.h"

namespace installer {

class CommandLine;

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

}  // namespace installer

#endif  // ENTRY_SECURE_ENVIRONMENT_H_
