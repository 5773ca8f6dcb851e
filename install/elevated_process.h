// The master's record of its elevated child.
//
// When the browser setup needs administrator rights the master restarts itself through the
// shell's "runas" verb. The child (install/elevated_child.h) waits (with the master's process
// handle) for one of two named auto-reset events that this record creates: "go" releases it
// to run the setup with the paths of the delayed parameter block, "stop" sends it home with
// exit code -1. Any process of the user can open the go event and take the go, so the child
// confirms through a third event ("taken") that it was the one released; until then the
// master's wait stays bounded (`kElevatedGoTakenTimeoutMs`) and ends on the install flow's
// stop, and a child that was not released is sent home when the record goes. A stop or the
// time-out first takes the go back: only a go nobody took ends the run at once; a taken one
// is followed by a short wait for the confirmation, and a child that confirms is released
// (it is never killed mid-setup). The confirmation proves little: any process of the user
// can set the "taken" event too, and the master then waits for the child without time-out.
//
// What the child reports: it ends with its setup's exit code, or with -1 when it ran no
// setup to its end (sent home, a refused or unverifiable archive, a setup that did not
// start or whose code could not be read). Since a setup may end with -1 too, the exit code
// alone does not tell the two apart: a child that ran its setup to its end also writes that
// code, with its process id, into the `ElevatedRunReport` of the shared section
// (platform/shared_sections.h) before it exits. `RunModule` forgets a report of that id
// before the go and counts the child's run as a setup's only when, after the child's end,
// the report names this child and holds the very code it ended with; anything else (no
// report, another child's, a child that crashed or was killed, even after writing it) means
// no setup ran, and the master reports the install as not started (400).
//
// The record owns the child's process handle, both events and the invisible owner window of
// the elevation prompt. Its events exist only while it lives, so a child can only be released
// while the master still holds the record; destroying a record whose child was never
// released tells the child to stop, and no child outlives its record by more than the
// finish time-out (30 s): then it is terminated. A released child is waited for, however
// long its setup takes, as the master waits for a setup it runs itself.
#ifndef INSTALL_ELEVATED_PROCESS_H_
#define INSTALL_ELEVATED_PROCESS_H_

#include <windows.h>

#include <cstdint>
#include <string>

#include "platform/scoped_handle.h"

namespace installer {

// Names of the two events (narrow, no session prefix: the child runs in the same session
// but with another token).
inline constexpr char kElevatedGoEventName[] = "0c0f0f0d-6434-4cfd-a5e9-23e9ca4d94b6";
inline constexpr char kElevatedStopEventName[] = "fef32d6d-67e9-4654-b314-6c72098ff5d1";
inline constexpr char kElevatedGoTakenEventName[] = "0c0f0f0d-6434-4cfd-a5e9-23e9ca4d94b6-taken";

// How long the master waits for the child to confirm its go.
inline constexpr uint32_t kElevatedGoTakenTimeoutMs = 60000;

// How long the master, stopped or timed out after the go was taken, waits for the
// confirmation that the child took it.
inline constexpr uint32_t kElevatedGoConfirmGraceMs = 5000;

// How long the destructor waits for the child before it terminates it.
inline constexpr uint32_t kElevatedProcessFinishTimeoutMs = 30000;

class ElevatedProcess {
 public:
  // Creates the three events under the standard names, unsignalled (also when they still
  // exist: a signal left for an earlier child is cleared).
  ElevatedProcess();
  // The same under other names (tests run several records at once).
  ElevatedProcess(std::string go_event_name, std::string stop_event_name,
                  std::string taken_event_name);
  ElevatedProcess(const ElevatedProcess&) = delete;
  ElevatedProcess& operator=(const ElevatedProcess&) = delete;

  // Takes ownership of the child's process handle and of the prompt's owner window (either
  // may be null). A handle attached before is closed.
  virtual void Attach(HANDLE process, HWND owner_window);
  // With a child attached: a child never released is told to stop, then
  // `EnsureProcessFinished`. Closes every handle and destroys the owner window.
  virtual ~ElevatedProcess();
  // Clears the run report, signals the go and waits for the child to confirm it, for
  // `stop_event` (may be null) or the child's end, at most `kElevatedGoTakenTimeoutMs`. Once
  // the child confirmed, it waits without time-out for its end: nothing stops a released
  // child half-way, so no stop ends that wait, and a stop or time-out that comes after the
  // child took its go still waits for the child (see above). True when the child ran its setup to its end
  // (see above); `exit_code` is then the setup's. False, with an ERROR line, when there is
  // no child, the go could not be given or was not confirmed (`started` stays false then),
  // the wait failed, its exit code is unreadable or it ran no setup. Logs a WARNING when the
  // child reports lines it could not log.
  virtual bool RunModule(HANDLE stop_event);
  // Waits up to the finish time-out for the child; if it is still running, logs an ERROR
  // and terminates it (exit code 0). Nothing to do without a child.
  virtual void EnsureProcessFinished();

  bool started() const { return started_; }
  bool forcibly_terminated() const { return forcibly_terminated_; }
  // The child's exit code as `RunModule` read it; all bits set before.
  uint32_t exit_code() const { return exit_code_; }
  HANDLE go_event() const { return go_event_.get(); }
  HANDLE stop_event() const { return stop_event_.get(); }

  void SetFinishTimeoutForTesting(uint32_t timeout_ms) { finish_timeout_ms_ = timeout_ms; }
  void SetGoTakenTimeoutForTesting(uint32_t timeout_ms) { go_taken_timeout_ms_ = timeout_ms; }

 private:
  // After a stop or the time-out before the confirmation: takes the go back and says
  // whether it was still there (nobody took it). If not, waits up to
  // `kElevatedGoConfirmGraceMs` for the confirmation; a confirmed child counts as started.
  bool TakeGoBack();

  platform::ScopedKernelHandle process_;
  HWND owner_window_ = nullptr;
  platform::ScopedKernelHandle go_event_;
  platform::ScopedKernelHandle stop_event_;
  platform::ScopedKernelHandle taken_event_;
  bool started_ = false;
  bool forcibly_terminated_ = false;
  uint32_t exit_code_ = 0xFFFFFFFF;
  uint32_t finish_timeout_ms_ = kElevatedProcessFinishTimeoutMs;
  uint32_t go_taken_timeout_ms_ = kElevatedGoTakenTimeoutMs;
};

}  // namespace installer

#endif  // INSTALL_ELEVATED_PROCESS_H_
