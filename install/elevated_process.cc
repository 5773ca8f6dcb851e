#include "install/elevated_process.h"

#include <utility>

#include "platform/logging.h"
#include "platform/shared_sections.h"

namespace installer {

namespace {

HANDLE CreateNamedEvent(const std::string& name) {
  // Auto-reset: each signal releases exactly one wait, so a go cannot be seen twice.
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, name.c_str());
  if (event == nullptr) {
    LOG(ERROR, "ElevatedProcess") << "Cannot create the event " << name << ".";
  } else if (GetLastError() == ERROR_ALREADY_EXISTS) {
    // Another handle (an earlier child that has not gone yet) keeps the event with
    // whatever it was last told; the new child must not see that.
    ResetEvent(event);
  }
  return event;
}

// The owner window belongs to the thread that created it (the window's thread), while the
// record may die on the install thread: DestroyWindow fails from any other thread, so the
// window is asked to close itself there.
void DestroyOwnerWindow(HWND window) {
  if (window == nullptr || !IsWindow(window)) return;
  if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
    DestroyWindow(window);
  } else {
    PostMessageW(window, WM_CLOSE, 0, 0);
  }
}

}  // namespace

ElevatedProcess::ElevatedProcess()
    : ElevatedProcess(kElevatedGoEventName, kElevatedStopEventName, kElevatedGoTakenEventName) {}

ElevatedProcess::ElevatedProcess(std::string go_event_name, std::string stop_event_name,
                                 std::string taken_event_name)
    : go_event_(CreateNamedEvent(go_event_name)),
      stop_event_(CreateNamedEvent(stop_event_name)),
      taken_event_(CreateNamedEvent(taken_event_name)) {}

void ElevatedProcess::Attach(HANDLE process, HWND owner_window) {
  process_.reset(process);
  if (owner_window != owner_window_) {
    DestroyOwnerWindow(owner_window_);
    owner_window_ = owner_window;
  }
}

ElevatedProcess::~ElevatedProcess() {
  if (process_) {
    // A child still waiting for its go gets its stop and exits -1 by itself.
    if (!started_ && stop_event_) SetEvent(stop_event_.get());
    EnsureProcessFinished();
  }
  DestroyOwnerWindow(owner_window_);
}

bool ElevatedProcess::RunModule(HANDLE stop_event) {
  if (!process_) {
    // A go now would release whichever child opens the events next.
    LOG(ERROR, "RunModule") << "There is no elevated installer to release.";
    return false;
  }
  const DWORD child_id = GetProcessId(process_.get());
  ClearElevatedRunReport(child_id);
  if (!go_event_ || !taken_event_ || !SetEvent(go_event_.get())) {
    // Without the go the child never starts; waiting for it would wait for ever. Not
    // started: the destructor sends it home.
    LOG(ERROR, "RunModule") << "Cannot release the elevated installer.";
    return false;
  }
  // The child's end before its confirmation is read below like any other end: it ran no
  // setup, and the report says so.
  HANDLE handles[] = {taken_event_.get(), process_.get(), stop_event};
  const DWORD count = stop_event != nullptr ? 3 : 2;
  switch (WaitForMultipleObjects(count, handles, FALSE, go_taken_timeout_ms_)) {
    case WAIT_OBJECT_0:
      started_ = true;
      break;
    case WAIT_OBJECT_0 + 1:
      break;
    case WAIT_OBJECT_0 + 2:
      if (!TakeGoBack() && started_) break;
      LOG_AT(ERROR, "RunModule", 1406) << "The elevated installer was terminated due to stop event.";
      return false;
    default:
      // The child hangs before its wait (the destructor sends it home), or somebody took
      // the go and did not confirm it.
      if (TakeGoBack()) {
        LOG(ERROR, "RunModule") << "The elevated installer did not take its go.";
        return false;
      }
      break;
  }
  if (!started_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
    LOG(ERROR, "RunModule") << "The elevated installer did not confirm its go.";
    return false;
  }
  if (WaitForSingleObject(process_.get(), INFINITE) != WAIT_OBJECT_0) {
    LOG(ERROR, "RunModule") << "Cannot wait for the elevated installer.";
    return false;
  }
  DWORD code = 0;
  if (!GetExitCodeProcess(process_.get(), &code)) {
    LOG_AT(ERROR, "RunModule", 1409) << "Failed to get exit code of the elevated installer.";
    return false;
  }
  exit_code_ = code;
  const ElevatedRunReport report = ReadElevatedRunReport();
  if (report.child_process_id == child_id && report.dropped_log_lines != 0) {
    LOG(WARNING, "RunModule") << "The elevated installer could not log "
                              << static_cast<unsigned long>(report.dropped_log_lines)
                              << " lines.";
  }
  if (!ReportShowsSetupRan(report, child_id, code)) {
    LOG(ERROR, "RunModule") << "The elevated installer ran no setup to its end; it exited with "
                            << static_cast<int>(code) << ".";
    return false;
  }
  return true;
}

bool ElevatedProcess::TakeGoBack() {
  // Still signalled: nobody took it, and now nobody can.
  if (WaitForSingleObject(go_event_.get(), 0) == WAIT_OBJECT_0) return true;
  // Taken, maybe by the child just now: its confirmation follows at once. A confirmed child
  // is released and runs its setup whatever the master asks; it is waited for.
  if (WaitForSingleObject(taken_event_.get(), kElevatedGoConfirmGraceMs) == WAIT_OBJECT_0) {
    LOG(WARNING, "RunModule") << "The elevated installer took its go before the stop; it runs.";
    started_ = true;
  }
  return false;
}

void ElevatedProcess::EnsureProcessFinished() {
  if (!process_) return;
  if (WaitForSingleObject(process_.get(), finish_timeout_ms_) != WAIT_TIMEOUT) return;
  forcibly_terminated_ = true;
  LOG_AT(ERROR, "EnsureProcessFinished", 1386)
      << "The elevated installer hangs and must be forcibly terminated.";
  TerminateProcess(process_.get(), 0);
}

}  // namespace installer
