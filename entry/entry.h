// The order of a whole installer run, from process entry to exit code.
//
// One executable runs as four kinds of process, all through `RunLiteInstaller`:
// - every process first hardens the DLL search, opens the log and answers the interface
//   query ("check-the-interface") if asked;
// - the master (no "run-as-admin") takes the session's single-instance mutex, loads the
//   brand and distribution configuration, checks the processor and the free disk space, and
//   runs the installation silently or in the installer window;
// - the elevated child ("run-as-admin") runs the browser setup on the master's behalf
//   (install/elevated_child.h);
// - the private-folder copy is a master started by `CheckSecureEnvironment` on systems
//   without a safe DLL search order.
// Everything ends in one exit code (the constants below, or the install flow's result).
#ifndef ENTRY_ENTRY_H_
#define ENTRY_ENTRY_H_

#include <windows.h>

#include <cstdint>
#include <string>

#include "platform/scoped_handle.h"

namespace installer {

class BrandInfo;
class PrivateFolder;
class CommandLine;

// Exit codes of the entry itself.
inline constexpr int kExitInstallerNotRun = 400;  // the install flow's initial result code
inline constexpr int kExitNotEnoughDiskSpace = 403;
inline constexpr int kExitUnsupportedProcessor = 404;
// The installer window could not be shown (no display, a dialog that cannot be made): a
// failure of its own, not a user's cancel.
inline constexpr int kExitWindowFailed = 406;
inline constexpr int kExitUserCancelled = 500;
inline constexpr int kExitAnotherInstance = 600;
// Ends that do not return through the entry:
// - the elevated child's (kExitElevatedFailure, install/elevated_child.h);
// - 405 (platform::kSystemLibraryMissingExitCode): a system library, or a function of one,
//   could not be loaded outside the guarded network and trust calls;
// - 0xC0000409 (platform::kFatalStopExitCode): an event, a critical section or random bytes
//   that Windows refused, or the program's own abort (a failed allocation, a broken
//   invariant), which never shows the C runtime's message box.
// - in a run without a window (silent, or the interface query), any other exception that
//   nothing handled: its exception code (0xC0000005 for an access violation), where Windows
//   would show its error report dialog. A window run leaves those to Windows.
// None of these ends cleans up: the downloaded archive and what the install had written so
// far stay behind, where the ends through the entry remove the archive.

// Session-local: one master per logged-on session.
inline constexpr wchar_t kSingleInstanceMutexName[] =
    L"Local\\ZorvinBrowserLiteInstallerMutex-E523E369-4A72-4B13-AD57-5B956174172A";

// The entry flow; returns the process exit code.
int RunLiteInstaller();

// A master with more rights than the user whose folders it was given (elevated through UAC,
// whose TEMP its user's other processes can change; a service account, whose TEMP is the
// machine's shared one) makes none of its run's files there. It makes a fresh protected
// private folder (install/elevated_child.h) and makes it this process's TEMP and TMP, so
// that the packages, the vendor files, the archive and the background downloads, and the
// setup program it starts, all use a folder only administrators and the system can change.
// The log stays where its user finds it (it is opened before, and guarded on its own). False,
// with nothing left, when the folder cannot be made or set. The folder is removed with all
// the run left in it when `folder` goes.
bool MoveWorkIntoPrivateFolder(PrivateFolder* folder);

// Step S4: acts on the outcome of `CheckSecureEnvironment` (with the private-folder copy's
// exit code), logging it under "wWinMain". True when the process is to exit with
// `*exit_code`: a refused or finished private-folder copy (its code passed through) and
// DLL files found beside the program (-200); false when the run goes on.
bool ExitForSecureEnvironment(int outcome, int copy_exit_code, int* exit_code);

// Step M12's exit code from what the installer window's dialog returned and the install
// flow's result code: the result code when the run finished (1), 406 when the window could
// not be made (-1, logged as an error), 500 for every way the user closed it (logged as
// "User cancelled installation.").
int ExitCodeOfInstallerWindow(INT_PTR dialog_result, int32_t result_code);

// Settings of a silent installation taken from the command line and the brand.
struct SilentInstallOptions {
  // "make-browser-default-after-import"; always false on Windows 8 and 8.1, where the
  // browser cannot make itself the default.
  bool make_default = false;
  // "send-statistics", else the brand's setting.
  bool send_statistics = false;
};
SilentInstallOptions GetSilentInstallOptions(const CommandLine& command_line,
                                             const BrandInfo& brand);

// The single-instance mutex of the master, held from `Acquire` until destruction.
class SingleInstanceMutex {
 public:
  explicit SingleInstanceMutex(const wchar_t* name = kSingleInstanceMutexName);
  ~SingleInstanceMutex();
  SingleInstanceMutex(const SingleInstanceMutex&) = delete;
  SingleInstanceMutex& operator=(const SingleInstanceMutex&) = delete;

  // Takes the mutex without waiting. Only a plain WAIT_OBJECT_0 counts; false also when the
  // mutex could not be created.
  bool Acquire();
  bool owned() const { return owned_; }

 private:
  platform::ScopedKernelHandle mutex_;
  bool owned_ = false;
};

}  // namespace installer

#endif  // ENTRY_ENTRY_H_
