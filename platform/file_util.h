// Files and folders on disk: presence, temporary names, copying, deleting and searching.
//
// Every operation reports failure by returning false (or an empty path from
// `FolderWalker::Next`), leaves its out-parameter untouched then, and keeps the thread's
// last error as the failing Windows call set it, so the caller can log it. Operations that
// hand a path to Windows refuse paths of `FilePath::kMaxPath` characters or more where
// Windows would silently truncate or misread them; such a refusal sets ERROR_FILENAME_EXCED_RANGE.
#ifndef PLATFORM_FILE_UTIL_H_
#define PLATFORM_FILE_UTIL_H_

#include <windows.h>
#include <accctrl.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_path.h"
#include "platform/scoped_handle.h"

namespace platform {

// Attempts `MakeTempFolderIn` makes before it gives up.
inline constexpr int kMaxTempFolderAttempts = 50;

// True when GetFileAttributesW succeeds for the path (a file or a folder exists).
bool IsPresent(const FilePath& path);

// The user's temporary folder (GetTempPathW into 260 characters) without trailing
// separators. Fails when Windows returns 0 or a path longer than 259 characters.
bool TempFolder(FilePath* folder);

// The path of this process's executable (GetModuleFileNameW); empty when the call fails or
// the path needs `FilePath::kMaxPath` characters or more.
FilePath OwnExecutablePath();

// Creates a new empty file with GetTempFileNameW (folder, prefix, 0); only the first three
// characters of `prefix` are used by Windows. Fails when it returns 0; any other result is
// the number of the file it created (111 too: that is "<pre>6F.tmp", not an error code).
// The result is the long form of the name when GetLongPathNameW can give it, else the name
// as created. The caller owns the file.
bool MakeTempFileIn(const FilePath& folder, std::wstring_view prefix, FilePath* file);
// `MakeTempFileIn` in `TempFolder`.
bool MakeTempFile(std::wstring_view prefix, FilePath* file);

// The GetTempFileNameW behind `MakeTempFileIn`; tests substitute one.
class TempFileNamer {
 public:
  virtual ~TempFileNamer() = default;
  // GetTempFileNameW(folder, prefix, 0, name) with `name` of `FilePath::kMaxPath` characters.
  virtual UINT MakeName(const wchar_t* folder, const wchar_t* prefix, wchar_t* name) = 0;
};
bool MakeTempFileInForTesting(const FilePath& folder, std::wstring_view prefix,
                              TempFileNamer* namer, FilePath* file);

// Creates a new folder `base`\<prefix><process id>_<random 0..32767> (decimal), trying up
// to `kMaxTempFolderAttempts` random numbers. The caller owns (and deletes) the folder.
bool MakeTempFolderIn(const FilePath& base, std::wstring_view prefix, FilePath* folder);
// `MakeTempFolderIn` in `TempFolder`.
bool MakeTempFolder(std::wstring_view prefix, FilePath* folder);

// How `MakeTempFolderIn` creates its candidates: CreateDirectoryW without a descriptor, or a
// stand-in in tests.
class FolderCreator {
 public:
  virtual ~FolderCreator() = default;
  // CreateDirectoryW semantics: false (with the last error set) when the folder exists or
  // cannot be made.
  virtual bool CreateFolder(const FilePath& path) = 0;
};
bool MakeTempFolderIn(const FilePath& base, std::wstring_view prefix, FolderCreator* creator,
                      FilePath* folder);

// Writes `bytes` as the whole content of `path` (created or truncated, shared with nobody
// while it is written). On any failure (also a file another process holds open) the file is
// removed again where possible, so that nobody takes a partial or stale file for the new
// one, and false comes back with the first error.
bool WriteWholeFile(const FilePath& path, std::string_view bytes);

// Copies a file with CopyFileW, replacing an existing target, and clears the read-only
// attribute of the copy. Refuses paths that reference a parent folder or are 260
// characters or longer (ERROR_BAD_PATHNAME / ERROR_FILENAME_EXCED_RANGE).
bool CopyFileTo(const FilePath& from, const FilePath& to);

// Deletes a file or a folder. An empty path is success; a missing path is success; a path
// of 260 characters or more fails without touching the disk. A `*` or `?` in the last
// component deletes every matching entry of that folder (none matching is success). Files
// lose their read-only attribute first. A folder is removed with RemoveDirectoryW, so
// without `recursive` only an empty folder goes; with it, its contents go first (reparse
// points are removed as links, never followed). An entry that cannot be deleted does not
// stop the others from going; the call then fails with the last error of the first failure.
bool DeletePath(const FilePath& path, bool recursive);

// Marks a file or an empty folder for deletion at the next reboot (MoveFileExW without a
// target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT). Needs rights to write
// the pending-rename list; fails for paths of 260 characters or more.
bool DeletePathAtReboot(const FilePath& path);

// Operations on an open handle, for code that must act on the very file it checked (a path
// may point elsewhere by the time it is used again). GetFinalPathNameByHandleW came with
// Vista: it is looked up in kernel32 at run time, and on XP `FinalPathOf` fails with
// ERROR_CALL_NOT_IMPLEMENTED. The open, rename and delete relative to handles call ntdll's
// native functions (looked up there at run time too, present on XP), since the documented
// ones turn a bare name into a path of the current directory.
//
// Whether this system has the final-path query.
bool FinalPathAvailable();
// The path the file behind `file` has now, as GetFinalPathNameByHandleW gives it with DOS
// drive letters, without its "\\?\" prefix ("\\?\UNC\" becomes "\\"). Empty on failure.
std::wstring FinalPathOf(HANDLE file);
// Opens (FILE_OPEN_IF) the file `name`, a bare name, inside the folder behind `folder`
// (NtCreateFile with the folder as root: nothing on the folder's path is looked at again),
// never following a reparse point on the name and never a folder, with `access` plus
// FILE_READ_ATTRIBUTES and SYNCHRONIZE, `share`, synchronous I/O and anonymous impersonation
// only (a named pipe's server learns nothing). A file someone holds an opportunistic lock on
// is refused at once (ERROR_OPLOCK_BREAK_IN_PROGRESS) instead of waiting for its holder to
// let go. `*created` says whether this open made it. Fails with the native status's Win32
// error.
bool OpenFileInFolder(HANDLE folder, const std::wstring& name, DWORD access, DWORD share,
                      ScopedKernelHandle* file, bool* created);
// Renames the file behind `file` (opened with DELETE access) to the bare name `name` inside
// the folder behind `folder`, replacing a file of that name (FILE_RENAME_INFORMATION with the
// folder as its root directory).
bool RenameThroughHandle(HANDLE file, HANDLE folder, const std::wstring& name);
// Marks the file or empty folder behind `file` (opened with DELETE access) for deletion when
// its last handle closes (FILE_DISPOSITION_INFORMATION). A folder that is not empty fails.
bool DeleteThroughHandle(HANDLE file);
// Clears the read-only attribute of the file behind `file` (opened with
// FILE_WRITE_ATTRIBUTES), which a delete through the handle would otherwise refuse. True
// when the file is not read-only (any more).
bool ClearReadOnlyThroughHandle(HANDLE file);
// The owner of the file or folder behind `object` (opened with READ_CONTROL), as a SID's
// bytes (GetSecurityInfo, which XP has).
bool OwnerOf(HANDLE object, std::vector<uint8_t>* owner);

// Tests: the final-path and owner queries the functions above use; null restores the system's.
using FinalPathQuery = DWORD(WINAPI*)(HANDLE file, wchar_t* path, DWORD size, DWORD flags);
void SetFinalPathQueryForTesting(FinalPathQuery query);
using OwnerQuery = DWORD(WINAPI*)(HANDLE object, SE_OBJECT_TYPE type, SECURITY_INFORMATION what,
                                  PSID* owner, PSID* group, PACL* dacl, PACL* sacl,
                                  PSECURITY_DESCRIPTOR* descriptor);
void SetOwnerQueryForTesting(OwnerQuery query);

// Lists the entries of a folder that match a pattern, one at a time.
//
// Searches `root`\`pattern` ("*" when the pattern is empty). Before Windows 7 it uses
// FindFirstFileW; later FindFirstFileExW with basic information and large fetches. "." and
// ".." are never returned. With `recursive`, every matching folder that is not a reparse
// point is searched with the same pattern after the current folder is finished (so a
// pattern that folders do not match does not descend). Not thread-safe; one walk per object.
class FolderWalker {
 public:
  enum FileType { kFiles = 1, kFolders = 2 };

  FolderWalker(const FilePath& root, bool recursive, int file_types,
               std::wstring_view pattern = std::wstring_view());
  FolderWalker(const FolderWalker&) = delete;
  FolderWalker& operator=(const FolderWalker&) = delete;

  // The full path of the next match, or an empty path when there is none (also when the
  // root cannot be searched).
  FilePath Next();
  // Whether a search failed for another reason than finding nothing (a folder that is gone
  // or cannot be read): the walk then missed entries. The error is the first such one.
  bool failed() const { return error_ != ERROR_SUCCESS; }
  DWORD error() const { return error_; }

 private:
  bool StartSearch(const FilePath& folder);

  std::wstring pattern_;
  bool recursive_;
  int file_types_;
  // Folders still to search, in the order found; those before next_pending_ are done.
  std::vector<FilePath> pending_;
  size_t next_pending_ = 0;
  FilePath current_folder_;
  ScopedFindHandle find_;
  WIN32_FIND_DATAW data_{};
  bool has_data_ = false;
  DWORD error_ = ERROR_SUCCESS;
};

}  // namespace platform

#endif  // PLATFORM_FILE_UTIL_H_
