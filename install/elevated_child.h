// The elevated child: the copy of the installer that its master restarted through the
// shell's "runas" verb ("run-as-admin") to run the browser setup with administrator rights.
// Its whole side of the protocol is here (the master's is install/elevated_process.h):
//
// 1. wait for the master's go, its stop or its end (the events its command line names),
//    and confirm the go at once;
// 2. read the delayed parameter block from the master's section (install/elevated_process.h);
// 3. make a private folder and copy the archive and every handed-over file into it;
// 4. verify the archive's copy and hold it locked; run the setup on the copies;
// 5. clean up, then report to the master and exit with the setup's code (-1: no setup ran).
//
// The child runs with administrator rights on paths its master handed over: only what the
// command line (the master's, shown by the consent) names is taken, never a name or a shared
// memory another process could have made first. The paths themselves are the user's, and
// so it decides nothing on a path that someone else can change:
// - The private folder is a fresh folder directly in a machine-wide folder (the system
//   Windows folder's "Temp", else the common application data folder), named "li_" and 16
//   hexadecimal digits of the system's random bytes, and made in one CreateDirectoryW call
//   with a protected DACL for Administrators and SYSTEM only. A name that exists is never
//   opened: another is drawn (up to `kPrivateFolderAttempts`). No folder of the program has
//   a predictable name in a shared place.
// - Every create, open for writing and delete of the child lies in that folder, under names
//   the child gave, or (what its setup left there) under the names of the folder's own
//   listing, which only administrators and the system can add to or change.
// - Each source (the archive, every file of the setup command line) is opened once for
//   reading, without following a reparse point on its last name, must be a disk file below a
//   size cap, and is copied from that handle: what the setup gets is what this handle read.
// - Clean-up opens each copy, then the folder, by the name the child gave it, without
//   following a reparse point, checks on the handle that it is the very object the child
//   made (volume and file index, one name, no reparse point) and deletes it through that
//   handle; what else the folder holds directly (the setup's temporary files) is opened as
//   itself and deleted through its handle, never descended into. Only what could not be
//   removed is marked for deletion at the next reboot. A
//   child killed before its clean-up leaves its folder behind: only administrators can reach
//   it, and no run ever uses its name again.
#ifndef INSTALL_ELEVATED_CHILD_H_
#define INSTALL_ELEVATED_CHILD_H_

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "install/progress_listener.h"
#include "platform/scoped_handle.h"

namespace installer {

class CommandLine;

// Log tag of the elevated child's lines.
inline constexpr char kElevatedChildTag[] = "ExecuteAsAdmin";

// The elevated child ends with its setup's exit code, or this when it ran none.
inline constexpr int kExitElevatedFailure = -1;

// Names drawn for a private folder before the child gives up.
inline constexpr int kPrivateFolderAttempts = 16;
// The largest handed-over file (installer data, clids, packages, seed) the child copies.
inline constexpr uint64_t kMaxHandedOverFileBytes = 16u << 20;

// The file operations of the child, one Windows call each; tests record them.
class ChildFileSystem {
 public:
  virtual ~ChildFileSystem() = default;
  // CreateDirectoryW.
  virtual bool CreateFolder(const std::wstring& path, SECURITY_ATTRIBUTES* attributes);
  // CreateFileW without security attributes or template.
  virtual HANDLE Open(const std::wstring& path, DWORD access, DWORD share, DWORD disposition,
                      DWORD flags);
  // Deletion through `file`, which was opened from `path` (platform::DeleteThroughHandle).
  virtual bool DeleteThrough(HANDLE file, const std::wstring& path);
  // platform::DeletePathAtReboot.
  virtual bool DeleteAtReboot(const std::wstring& path);
};

// The security descriptor of the private folder: owned by Administrators, with a protected
// DACL that gives full access to Administrators and SYSTEM only, inherited by the copies.
// Owns it; null when Windows cannot build it.
class PrivateFolderDescriptor {
 public:
  PrivateFolderDescriptor();
  ~PrivateFolderDescriptor();
  PrivateFolderDescriptor(const PrivateFolderDescriptor&) = delete;
  PrivateFolderDescriptor& operator=(const PrivateFolderDescriptor&) = delete;

  PSECURITY_DESCRIPTOR get() const { return descriptor_; }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
};

// The child's private folder and the copies in it, as the header says. Owns them: the
// destructor removes them.
class PrivateFolder {
 public:
  // `file_system` (not owned) makes every file operation; null: the system's.
  explicit PrivateFolder(ChildFileSystem* file_system = nullptr);
  ~PrivateFolder();
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;

  // Makes the folder in the first of `roots` that takes one (none given: the machine-wide
  // folders). Logs why and returns false when none does. Without `protect` the folder gets
  // no descriptor of its own but its root's inherited one: for a process with no more
  // rights than the user whose folder the root is.
  bool Create(const std::vector<std::wstring>& roots = {}, bool protect = true);
  // Copies the file at `source` into the folder as `name` (a plain name, used once) through
  // one handle: refused, with an ERROR line, when it is no disk file, a reparse point or
  // larger than `max_bytes`. The copy's path; empty on failure (nothing is left of it).
  std::wstring CopyIn(const std::wstring& source, const wchar_t* name, uint64_t max_bytes);
  // Makes `CopyIn` open each source impersonating `token` (an impersonation token, not
  // owned; null: with this process's own rights), so that a source only administrators
  // could read is refused.
  void ReadSourcesAs(HANDLE token) { source_token_ = token; }
  // Makes the folder this process's TEMP and TMP (and so the temporary folder of every
  // process it starts from now on). False when there is no folder or it cannot be set.
  bool MakeProcessTemp() const;
  // Deletes the copies and the folder; marks for deletion at the next reboot what is still
  // in use or otherwise cannot go now. A protected folder is emptied first of whatever else
  // this run put into it (what the setup or the master's own parts left there).
  void Remove();

  const std::wstring& path() const { return path_; }

 private:
  struct Made {
    std::wstring path;
    DWORD volume = 0;
    DWORD index_high = 0;
    DWORD index_low = 0;
  };
  bool Record(HANDLE handle, const std::wstring& path);
  bool DeleteMade(const Made& made, bool folder);
  void SweepLeftovers();

  ChildFileSystem* file_system_;
  HANDLE source_token_ = nullptr;
  std::wstring path_;
  bool protected_ = false;
  // The folder first, then every copy in the order made.
  std::vector<Made> made_;
};

// The child's stand-in for the master's window: progress goes to the window whose handle
// the master passed in "progress-window", by posted messages only.
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

// The master's process id from "parent-installer-process-id": the low 32 bits of its
// unsigned conversion, also when that reports failure (then `*well_formed` is false).
uint32_t ParentProcessIdFrom(const CommandLine& command_line, bool* well_formed);

// Steps 1 to 5 for the process command line; the exit code.
int RunElevatedChild(const CommandLine& command_line);

// Tests: the file operations of every later `RunElevatedChild` (null: the system's).
void SetChildFileSystemForTesting(ChildFileSystem* file_system);

}  // namespace installer

#endif  // INSTALL_ELEVATED_CHILD_H_
