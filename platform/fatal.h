// The one way the installer stops itself on purpose.
//
// A handful of Windows services are not expected to fail: creating an unnamed event or a
// critical section, and drawing random bytes from the system generator. Code that cannot go
// on without them (every worker, every wait, every temporary name) calls `FatalStop`
// instead of inventing a recovery path that could never be tested. The installer's own
// `abort` (entry/runtime_overrides.cc: a failed allocation, a broken invariant of the
// C++ library) ends here too, so that no run ever shows the C runtime's "abnormal program
// termination" box, which nobody can press in a silent run under a deployment tool.
#ifndef PLATFORM_FATAL_H_
#define PLATFORM_FATAL_H_

#include <cstdint>

namespace platform {

// Exit code of a process ended by `FatalStop`.
inline constexpr uint32_t kFatalStopExitCode = 0xC0000409u;

// Sets what opens the log before a fatal end writes its line: the entry's opener, which opens
// it if nothing has yet, so that a stop before the entry opened the log (an allocation that
// failed, a system library missing) is still written down. Null, the default, writes to
// whatever log is open. Set once, first thing in the process.
void SetFatalLogOpener(void (*open_log)());

// Calls the opener set above, if there is one (the fatal ends of platform/system_library.cc).
void OpenLogForFatalEnd();

// Opens the log (above), writes one ERROR log line naming `what` (the last Windows error is
// appended to it by the log), then terminates the process with `kFatalStopExitCode`. Never returns. While one thread
// stops the process, others that stop wait for it; a stop from inside its own line ends at
// once, without a line.
[[noreturn]] void FatalStop(const char* what);

}  // namespace platform

#endif  // PLATFORM_FATAL_H_
