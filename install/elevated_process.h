// The master's record of its elevated child.
//
// When the browser setup needs administrator rights the master restarts itself through the
// shell's "runas" verb. The child (install/elevated_child.h) waits (with the master's process
// handle) for one of two auto-reset events that this record creates: "go" releases it to run
// the setup with the paths of the delayed parameter block, "stop" sends it home with exit
// code -1. Everything the child trusts reaches it through its command line, which the master
// writes and the consent shows, never through a name or memory another process could
// provide:
// - The events of a run are named after 128 bits of the system's random bytes (the run id,
//   on the child's command line), created with a protected DACL for the master's user,
//   SYSTEM and Administrators, and never taken over: a name that already exists is refused
//   and the record starts no child (`ready`). Nobody can have made them first, and a process
//   that does not know the id cannot open them.
// - The delayed parameter block lies in an unnamed section the record creates; its handle
//   value in the master's handle table is on the child's command line, and the child
//   duplicates it out of its master's process (which it holds from its start). The master
//   writes the block before the go; nobody outside the master can reach it, unlike the
//   image's shared section, which every process of the same file maps.
// A process of the master's own user can still open the master and so reach both; it could
// as well steer the master itself. Such a process can also take the go, so the child
// confirms through a third event ("taken") that it was the one released; until then the
// master's wait stays bounded (`kElevatedGoTakenTimeoutMs`) and ends on the install flow's
// stop, and a child that was not released is sent home when the record goes. A stop or the
// time-out first takes the go back: only a go nobody took ends the run at once; a taken one
// is followed by a short wait for the confirmation, and a child that confirms is released
// (it is never killed mid-setup).
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
// The record owns the child's process handle, the events, the block and the invisible owner
// window of the elevation prompt. Its events exist only while it lives, so a child can only be
// released while the master still holds the record; destroying a record whose child was never
// released tells the child to stop, and no child outlives its record by more than the
// finish time-out (30 s): then it is terminated. A released child is waited for, however
// long its setup takes, as the master waits for a setup it runs itself.
#ifndef INSTALL_ELEVATED_PROCESS_H_
#define INSTALL_ELEVATED_PROCESS_H_

#include <windows.h>

#include <cstdint>
#include <string>

#include "install/delayed_params.h"
#include "platform/scoped_handle.h"

namespace installer {

class CommandLine;

// The events of the run `run_id`: "li-elevated-<run id>-go", "-stop" and "-taken" (narrow,
// no session prefix: the child runs in the same session but with another token).
enum class ElevatedEvent { kGo, kStop, kTaken };
std::string ElevatedEventName(const std::string& run_id, ElevatedEvent event);
// Whether `run_id` has the form the record draws: 32 lowercase hexadecimal digits.
bool IsElevatedRunId(const std::string& run_id);

// How long the master waits for the child to confirm its go.
inline constexpr uint32_t kElevatedGoTakenTimeoutMs = 60000;

// How long the master, stopped or timed out after the go was taken, waits for the
// confirmation that the child took it.
inline constexpr uint32_t kElevatedGoConfirmGraceMs = 5000;

// How long the destructor waits for the child before it terminates it.
inline constexpr uint32_t kElevatedProcessFinishTimeoutMs = 30000;

class ElevatedProcess {
 public:
  // Draws a run id and creates the run's three events, unsignalled, and its block, zeroed.
  ElevatedProcess();
  // The same for a given run id (tests run several records at once).
  explicit ElevatedProcess(std::string run_id);
  ElevatedProcess(const ElevatedProcess&) = delete;
  ElevatedProcess& operator=(const ElevatedProcess&) = delete;

  // Whether every event and the block were made. False, with an ERROR line, when Windows
  // refused one or an event of that name existed already (somebody made it first): such a
  // record must start no child.
  bool ready() const { return ready_; }
  // Puts "elevated-run-id" and "delayed-params-handle" on the child's command line.
  void PutChildSwitches(CommandLine* command_line) const;
  // Writes `params` into the block (WriteDelayedParamsTo: false, and nothing written, when a
  // path does not fit); false without a block.
  bool WriteDelayedParams(const DelayedParams& params);
  // What the block holds now (empty without one).
  DelayedParams ReadDelayedParams() const;

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
  const std::string& run_id() const { return run_id_; }

  void SetFinishTimeoutForTesting(uint32_t timeout_ms) { finish_timeout_ms_ = timeout_ms; }
  void SetGoTakenTimeoutForTesting(uint32_t timeout_ms) { go_taken_timeout_ms_ = timeout_ms; }

 private:
  // After a stop or the time-out before the confirmation: takes the go back and says
  // whether it was still there (nobody took it). If not, waits up to
  // `kElevatedGoConfirmGraceMs` for the confirmation; a confirmed child counts as started.
  bool TakeGoBack();

  std::string run_id_;
  platform::ScopedKernelHandle process_;
  HWND owner_window_ = nullptr;
  platform::ScopedKernelHandle go_event_;
  platform::ScopedKernelHandle stop_event_;
  platform::ScopedKernelHandle taken_event_;
  platform::ScopedKernelHandle block_section_;
  platform::ScopedMappedView block_view_;
  bool ready_ = false;
  bool started_ = false;
  bool forcibly_terminated_ = false;
  uint32_t exit_code_ = 0xFFFFFFFF;
  uint32_t finish_timeout_ms_ = kElevatedProcessFinishTimeoutMs;
  uint32_t go_taken_timeout_ms_ = kElevatedGoTakenTimeoutMs;
};

}  // namespace installer

#endif  // INSTALL_ELEVATED_PROCESS_H_
