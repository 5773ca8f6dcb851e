// Holds the downloaded setup archive open so that nobody can change it between the download,
// the signature check and the setup run.
//
// Created for writing with read sharing (others may read, nobody else may write), then
// converted in place, without ever closing the file, into a read-and-execute handle that
// still denies writers. The file itself is deleted by the install step; the lock only owns
// the handle.
#ifndef PLATFORM_ARCHIVE_LOCK_H_
#define PLATFORM_ARCHIVE_LOCK_H_

#include <windows.h>

#include <string>

#include "platform/scoped_handle.h"

namespace installer {

class ArchiveLock {
 public:
  // Creates (or truncates, unless `keep_contents`) the archive for writing, sharing read
  // access only.
  explicit ArchiveLock(const std::wstring& path, bool keep_contents = false);
  ArchiveLock(const ArchiveLock&) = delete;
  ArchiveLock& operator=(const ArchiveLock&) = delete;

  bool IsValid() const { return handle_.is_valid(); }
  HANDLE handle() const { return handle_.get(); }
  const std::wstring& path() const { return path_; }

  // Reopens the handle for read and execute: first with read and write sharing (a new
  // handle cannot deny sharing that the existing handle holds), then, once the write handle
  // is gone, with read sharing only. Each new handle is opened before the previous one is
  // closed, so the file can never be renamed, replaced or deleted. Between the two reopens
  // the only handle shares write access, so another writer may open the file then: if it
  // still holds it, the second reopen fails; if it wrote and let go, the signature check,
  // which comes after the conversion, sees the change. ReOpenFile does it where the system
  // has it (Vista and later); on XP the file is opened again by its path and must be the
  // same file (same volume, index, size and times; a file whose index is 0 is refused),
  // else ERROR_FILE_INVALID. False when either reopen fails; the lock then keeps whatever
  // handle it still holds.
  bool ConvertToReadExecute();

 private:
  std::wstring path_;
  platform::ScopedKernelHandle handle_;
};

// Tests: behave as on XP, whose kernel32 lacks ReOpenFile.
void SetReOpenFileMissingForTesting(bool missing);

// Opens an existing archive for read and execute, denying other writers.
platform::ScopedKernelHandle LockArchiveForExecution(const std::wstring& path);

}  // namespace installer

#endif  // PLATFORM_ARCHIVE_LOCK_H_
