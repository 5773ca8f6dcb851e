#include "platform/fatal.h"

#include <windows.h>

#include "startup/logging.h"

namespace platform {

void FatalStop(const char* what) {
  LOG(ERROR, "FatalStop") << "Fatal error, the process stops: " << what;
  // TerminateProcess rather than exit(): no static destructors or atexit handlers run on
  // a process whose basic services just failed.
  ::TerminateProcess(::GetCurrentProcess(), kFatalStopExitCode);
  __builtin_trap();
}

}  // namespace platform
