// Whether the Windows 10 interface through which the browser makes itself the default
// browser can be reached.
//
// The check itself (`CheckInterfaceInProcess`) talks to undocumented shell interfaces that
// have been seen to crash or hang on some builds, so the installer never runs it in its own
// process: `IsInterfaceAvailable` starts a copy of the installer with the single switch
// "check-the-interface", gives it 3 seconds, and reads the answer from its exit code (700
// available, 701 not). The copy answers through `HandleCheckInterfaceSwitch` before it does
// anything else.
//
// The outcome travels to the browser setup program as one 32-bit availability code:
// reason × 1,000,000,000 + Windows build × 10,000 + update revision, where the reason says
// why the interface is taken as unavailable (0 none, 1 the copy crashed, 2 the copy said
// unavailable, 3 the copy timed out, 4 anything else). The bounds on each part keep the sum
// within 32 bits: the largest code is exactly 0xFFFFFFFF.
#ifndef INSTALL_WIN10_DEFAULT_BROWSER_H_
#define INSTALL_WIN10_DEFAULT_BROWSER_H_

#include <windows.h>
#include <shobjidl.h>

#include <cstdint>
#include <string>

namespace installer {
namespace win10_default_browser {

// Exit codes of the checking copy, and the code a copy that overran its time ends with.
inline constexpr int kExitInterfaceAvailable = 700;
inline constexpr int kExitInterfaceUnavailable = 701;
inline constexpr uint32_t kExitTerminatedByTimeout = 22;

// How long the copy may take.
inline constexpr uint32_t kCheckTimeoutMs = 3000;

// Reasons, the billions digit of the availability code.
enum Reason : uint32_t {
  kReasonNone = 0,
  kReasonCrashed = 1,
  kReasonUnavailable = 2,
  kReasonTimedOut = 3,
  kReasonOther = 4,
};

// Largest build and revision the code can carry; larger values are stored as 0.
inline constexpr uint32_t kMaxCodeBuild = 29496;
inline constexpr uint32_t kMaxCodeRevision = 7295;

// reason × 10^9 + build × 10^4 + revision, with a build above kMaxCodeBuild and a revision
// above kMaxCodeRevision counted as 0 and a reason above 4 stored as 4.
uint32_t MakeAvailabilityCode(uint32_t build, uint32_t revision, uint32_t reason);
// `code` with its reason digit replaced (a reason above 4 stored as 4).
uint32_t SetAvailabilityReason(uint32_t code, uint32_t reason);
// The reason digit of `code`.
uint32_t AvailabilityReason(uint32_t code);

// Builds from which the interface is known to work without asking a copy: 17704 and later,
// and 17134 from revision 319 on.
bool IsInterfaceKnownAvailable(uint32_t build, uint32_t revision);

// For the entry flow, before any installation work: when the process command line has
// "check-the-interface", runs `CheckInterfaceInProcess`, sets `*exit_code` to 700 (true) or
// 701 (false) and returns true; the process is then to exit with that code. Otherwise
// returns false and leaves `*exit_code` alone.
bool HandleCheckInterfaceSwitch(int* exit_code);

// The shell entry points the check uses, so that tests can play a shell with the
// interfaces present. Each returns what the shell function of the same purpose returns.
class AssociationShell {
 public:
  virtual ~AssociationShell() = default;
  // SHCreateAssociationRegistration.
  virtual HRESULT CreateAssociationRegistration(REFIID iid, void** object) = 0;
  // SHAssocEnumHandlersForProtocolByApplication.
  virtual HRESULT EnumHandlersForProtocol(const wchar_t* protocol, REFIID iid,
                                          void** enumerator) = 0;
  // SHAssocEnumHandlers with ASSOC_FILTER_NONE.
  virtual HRESULT EnumHandlersForExtension(const wchar_t* extension,
                                           IEnumAssocHandlers** enumerator) = 0;
};

// The check itself, run in the checking copy: asks the shell for the association
// registration object through five interface identifiers in a fixed order; for the older
// two it also requires that the companion interface and the handlers of "http", "https",
// ".htm" and ".html" answer. False on a system without these interfaces (Wine among them).
// Every interface obtained is released before it returns.
bool CheckInterfaceInProcess();
// The same walk over another shell (not owned).
bool CheckInterfaceInProcessForTesting(AssociationShell* shell);

// The parent-side check, for Windows 10 and later (version class 7 and up): false below.
// Otherwise `*code` receives the availability code and the result says whether the
// interface can be used: known-good builds pass without a copy, all others ask one.
bool IsInterfaceAvailable(uint32_t* code);

// Runs the checking copy: the own program (from the process command line) with
// "check-the-interface", waited for at most 3 seconds and terminated with exit code 22 if it
// overruns. True when the copy answered 700. Every other outcome sets its reason in `*code`
// (the version part is kept) and writes an ERROR line under
// "IsInternalInterfaceAvailableSafeCheck"; a 700 or 701 answer writes an INFO line.
bool IsInternalInterfaceAvailableSafeCheck(uint32_t* code);

// Makes the checks start `program` instead of the own executable, and wait for it up to
// `timeout_ms`, while the object lives (tests only, one at a time). A test that is not about
// the time limit gives a slow test machine more time than the 3 seconds.
class ScopedCheckProgramForTesting {
 public:
  explicit ScopedCheckProgramForTesting(std::wstring program,
                                        uint32_t timeout_ms = kCheckTimeoutMs);
  ~ScopedCheckProgramForTesting();
  ScopedCheckProgramForTesting(const ScopedCheckProgramForTesting&) = delete;
  ScopedCheckProgramForTesting& operator=(const ScopedCheckProgramForTesting&) = delete;

 private:
  std::wstring program_;
  const std::wstring* previous_;
  uint32_t previous_timeout_ms_;
};

}  // namespace win10_default_browser
}  // namespace installer

#endif  // INSTALL_WIN10_DEFAULT_BROWSER_H_
