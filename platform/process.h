// Child processes: starting them, waiting for them, ending them.
//
// `ProcessHandle` owns one process handle, or stands for the current process (whose pseudo
// handle needs no closing). `StartProcess` is the one place the installer creates
// processes; its options cover the handle inheritance, job, token and window state the
// callers need. All operations report failure by their result and keep the thread's last
// error as Windows set it.
#ifndef PLATFORM_PROCESS_H_
#define PLATFORM_PROCESS_H_

#include <windows.h>

#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/scoped_handle.h"

namespace platform {

// How long `Kill` with waiting, and a start whose job assignment failed, wait for the end.
inline constexpr uint32_t kProcessEndWaitMs = 60000;

class ProcessHandle {
 public:
  // Not open.
  ProcessHandle() = default;
  // Takes ownership of `handle` (null and INVALID_HANDLE_VALUE give a handle that is not open).
  explicit ProcessHandle(HANDLE handle) : handle_(handle) {}
  ProcessHandle(ProcessHandle&& other) noexcept;
  ProcessHandle& operator=(ProcessHandle&& other) noexcept;
  ProcessHandle(const ProcessHandle&) = delete;
  ProcessHandle& operator=(const ProcessHandle&) = delete;

  // The current process (GetCurrentProcess's pseudo handle; always open).
  static ProcessHandle Current();
  // OpenProcess(access, no inheritance, id); not open on failure.
  static ProcessHandle Open(DWORD process_id, DWORD access);

  // A real handle (neither null nor INVALID_HANDLE_VALUE), or the current process.
  bool IsOpen() const { return is_current_ || handle_.is_valid(); }
  // Lent, owned by this object; the pseudo handle for the current process, null when not open.
  HANDLE handle() const;
  // GetProcessId; 0 when not open or on failure.
  DWORD Id() const;
  // Gives up the handle (no longer owned); null for the current process.
  [[nodiscard]] HANDLE Release();
  void Close();

  // TerminateProcess with `exit_code`; with `wait`, then waits up to `kProcessEndWaitMs`
  // for the process to end. False when termination fails or the wait does not see the end.
  bool Kill(uint32_t exit_code, bool wait);
  // Waits for the process to end and reads its exit code. A negative timeout waits 0 ms; a
  // timeout of 2^32 ms or more waits without limit. False on time-out or any error, with
  // `exit_code` untouched.
  bool WaitExitFor(int64_t timeout_ms, uint32_t* exit_code);
  // `WaitExitFor` without limit.
  bool WaitExit(uint32_t* exit_code);

 private:
  ScopedKernelHandle handle_;
  bool is_current_ = false;
};

struct StartOptions {
  enum class InheritMode {
    kNone,  // nothing is inherited (standard handles, when given, still are)
    kAll,   // every inheritable handle
    kList,  // only `handles_to_inherit` and the standard handles, via an attribute list
  };
  enum class ShowState { kDefault, kHidden, kNormal };

  // Wait in `StartProcess` until the process has ended.
  bool wait = false;
  InheritMode inherit_mode = InheritMode::kNone;
  // For kList: inheritable handles the child gets (duplicates are passed once). An empty
  // list with no standard handles inherits nothing.
  std::vector<HANDLE> handles_to_inherit;
  // Start as this user (CreateProcessAsUserW) with an environment block built for the user.
  HANDLE user_token = nullptr;
  // Start on the desktop named "" (the startup information gets an empty desktop name).
  bool empty_desktop_name = false;
  // Put the process into this job before it runs a single instruction.
  HANDLE job = nullptr;
  // Standard handles of the child (STARTF_USESTDHANDLES when any is given). They must be
  // inheritable; with kNone or kList they are inherited through the attribute list only.
  HANDLE stdin_handle = nullptr;
  HANDLE stdout_handle = nullptr;
  HANDLE stderr_handle = nullptr;
  // CREATE_BREAKAWAY_FROM_JOB: leave the job the caller runs in.
  bool force_breakaway_from_job = false;
  ShowState show_state = ShowState::kDefault;
};

// Starts `command_line` (program and arguments, as CreateProcessW parses them).
//
// With an explicit handle list (kList, or standard handles with kNone) the startup
// information is extended by a process-thread attribute list; the attribute functions are
// looked up in kernel32.dll and, where they are missing, such a start fails
// (ERROR_PROC_NOT_FOUND). With `user_token`, CreateProcessAsUserW gets a fresh environment
// block for that user (CREATE_UNICODE_ENVIRONMENT). With `job` the process starts
// suspended (before Windows 8 also with CREATE_BREAKAWAY_FROM_JOB), is assigned to the job
// and resumed; when the assignment fails it is terminated with exit code 1 (waiting up to
// `kProcessEndWaitMs`) and the start fails. With `wait` the call returns after the process
// has ended (the handle is still open, to read the exit code).
// Returns a handle that is not open on failure.
ProcessHandle StartProcess(std::wstring_view command_line, const StartOptions& options);

// Brings a top-level window of process `process_id` to the foreground. Id 0 logs
// "Failed to bring process window to top: wrong process id" and fails. Otherwise each
// window of the process, in EnumWindows order, is tried until one is the foreground
// window: first by attaching to the input of the foreground window's thread, then by
// lifting the foreground lock time-out for a moment. False when no window got there.
bool BringProcessWindowToTop(DWORD process_id);

}  // namespace platform

#endif  // PLATFORM_PROCESS_H_
