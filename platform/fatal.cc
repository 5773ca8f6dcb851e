#include "platform/fatal.h"

#include <windows.h>

#include "platform/logging.h"

namespace platform {

namespace {
void (*g_open_log)() = nullptr;
}  // namespace

void SetFatalLogOpener(void (*open_log)()) { g_open_log = open_log; }

void OpenLogForFatalEnd() {
  if (g_open_log != nullptr) g_open_log();
}

void FatalStop(const char* what) {
  // One stop at a time: a second thread waits for the first to end the process, and a stop
  // from inside the first one's logging (an allocation that failed while the line was
  // built) ends it at once.
  static volatile LONG stopping_thread = 0;
  const LONG self = static_cast<LONG>(::GetCurrentThreadId());
  const LONG previous = ::InterlockedCompareExchange(&stopping_thread, self, 0);
  if (previous == self) ::TerminateProcess(::GetCurrentProcess(), kFatalStopExitCode);
  if (previous != 0) ::Sleep(INFINITE);
  // Opening the log keeps the last error that the line reports.
  const DWORD error = ::GetLastError();
  OpenLogForFatalEnd();
  ::SetLastError(error);
  logging::LogWithValue(logging::kERROR, "FatalStop", __LINE__,
                        "Fatal error, the process stops: ", what);
  // TerminateProcess rather than exit(): no static destructors or atexit handlers run on
  // a process whose basic services just failed.
  ::TerminateProcess(::GetCurrentProcess(), kFatalStopExitCode);
  __builtin_trap();
}

}  // namespace platform
