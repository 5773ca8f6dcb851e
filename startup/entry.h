// The order of a whole installer run, from process entry to exit code.
//
// One executable runs as four kinds of process, all through `RunLiteInstaller`:
// - every process first hardens the DLL search, opens the log and answers the interface
//   query ("check-the-interface") if asked;
// - the master (no "run-as-admin") takes the session's single-instance mutex, loads the
//   brand and distribution configuration, checks the processor and the free disk space, and
//   runs the installation silently or in the installer window;
// - the elevated child ("run-as-admin") waits for the master's go event, takes the paths of
//   the delayed parameter block and runs the browser setup on the master's behalf;
// - the private-folder copy is a master started by `CheckSecureEnvironment` on systems
//   without a safe DLL search order.
// Everything ends in one exit code (the constants below, or the install flow's result).
#ifndef STARTUP_ENTRY_H_
#define STARTUP_ENTRY_H_

#include <windows.h>

#include <cstdint>
#include <string>

#include "download/progress_listener.h"
#include "platform/scoped_handle.h"

namespace installer {

class BrandInfo;
class CommandLine;
class Installer;

// Exit codes of the entry itself.
// The elevated child ends with its setup's exit code, or this when it ran none.
inline constexpr int kExitElevatedFailure = -1;
inline constexpr int kExitInstallerNotRun = 400;  // the install flow's initial result code
inline constexpr int kExitNotEnoughDiskSpace = 403;
inline constexpr int kExitUnsupportedProcessor = 404;
inline constexpr int kExitUserCancelled = 500;
inline constexpr int kExitAnotherInstance = 600;

// Session-local: one master per logged-on session.
inline constexpr wchar_t kSingleInstanceMutexName[] =
    L"Local\\ZorvinBrowserLiteInstallerMutex-E523E369-4A72-4B13-AD57-5B956174172A";

// The entry flow; returns the process exit code.
int RunLiteInstaller();

// The temporary folder as GetTempPathW gives it (with its trailing backslash); empty when
// the call fails or the path needs 260 characters or more.
std::wstring TemporaryDirectory();

// Step S4: acts on the outcome of `CheckSecureEnvironment` (with the private-folder copy's
// exit code), logging it under "wWinMain". True when the process is to exit with
// `*exit_code`: a refused or finished private-folder copy (its code passed through) and
// DLL files found beside the program (-200); false when the run goes on.
bool ExitForSecureEnvironment(int outcome, int copy_exit_code, int* exit_code);

// The elevated child's own check of the archive named by the delayed parameter block, which
// any process of the same image can write: locks the file against writers (the lock goes to
// `*lock` and must be held until the setup has run) and verifies its signatures with
// `installer`'s verification. False, with an ERROR line, when either fails.
bool VerifyArchiveForElevatedRun(Installer* installer, const std::wstring& archive_path,
                                 platform::ScopedKernelHandle* lock);

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

// The elevated child's stand-in for the master's window: progress goes to the window whose
// handle the master passed in "progress-window", by posted messages only.
class WindowProgressProxy : public ProgressListener {
 public:
  static constexpr UINT kRemainingTimeMessage = WM_APP + 3;  // wParam seconds, lParam kind
  static constexpr UINT kSetPercentMessage = WM_APP + 2;     // wParam percent, lParam 0
  static constexpr int kCancelButtonId = 1009;

  explicit WindowProgressProxy(HWND window) : window_(window) {}

  void SetDownloadFraction(float fraction) override {}
  void OnLongDownload() override {}
  void SetRemainingTime(uint32_t seconds, int32_t kind) override;
  void Finish() override {}
  void ShowError(int32_t result_code) override {}
  HWND WindowHandle() override { return window_; }
  void SetPercent(int32_t percent) override;
  // Hides the master's cancel button without waiting for the master's window thread (never
  // destroys a window of another process).
  void RemoveCancelButton() override;

 private:
  HWND window_;
};

}  // namespace installer

#endif  // STARTUP_ENTRY_H_
