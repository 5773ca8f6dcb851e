// Stands in for the installer copy that answers "check-the-interface".
//
// The parent starts it with that one switch and nothing else, so the answer to play is
// chosen through the environment, which the child inherits: LI_INTERFACE_CHECK_MODE is
// "available" (exit 700), "unavailable" (701), "other" (5), "crash" (the status code of a
// crashed process), "hang" (sleeps far beyond the parent's patience, but not forever, so a
// broken parent leaves nothing behind), or "installer" / unset (answers exactly as the
// installer's entry does, and exits 3 when the switch is missing).
#include <windows.h>

#include <string>

#include "install/win10_default_browser.h"

namespace {

// Not a crash, but what one leaves as the exit code (STATUS_ACCESS_VIOLATION); a real
// fault would make Wine start its debugger instead of ending the process.
constexpr DWORD kCrashExitCode = 0xC0000005;
constexpr DWORD kHangMs = 30000;
constexpr int kSwitchMissingExitCode = 3;

std::wstring Mode() {
  wchar_t buffer[64] = {};
  DWORD length = GetEnvironmentVariableW(L"LI_INTERFACE_CHECK_MODE", buffer, 64);
  if (length == 0 || length >= 64) return std::wstring();
  return std::wstring(buffer, length);
}

}  // namespace

int wmain() {
  std::wstring mode = Mode();
  if (mode == L"available") return 700;
  if (mode == L"unavailable") return 701;
  if (mode == L"other") return 5;
  if (mode == L"crash") {
    TerminateProcess(GetCurrentProcess(), kCrashExitCode);
    return 1;
  }
  if (mode == L"hang") {
    Sleep(kHangMs);
    return 0;
  }
  int exit_code = 0;
  if (!installer::win10_default_browser::HandleCheckInterfaceSwitch(&exit_code)) {
    return kSwitchMissingExitCode;
  }
  return exit_code;
}
