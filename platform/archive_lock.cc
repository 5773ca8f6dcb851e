#include "platform/archive_lock.h"

#include "platform/system_library.h"

namespace installer {

namespace {

using ReOpenFileFunction = HANDLE(WINAPI*)(HANDLE, DWORD, DWORD, DWORD);

bool g_reopen_missing_for_testing = false;

// Vista's kernel32 brought ReOpenFile; XP's lacks it, so it is looked up at run time.
ReOpenFileFunction LookUpReOpenFile() {
  if (g_reopen_missing_for_testing) return nullptr;
  return reinterpret_cast<ReOpenFileFunction>(
      reinterpret_cast<void*>(platform::KernelFunction("ReOpenFile")));
}

bool SameTime(const FILETIME& a, const FILETIME& b) {
  return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

// Some network redirectors report 0 for the file index (and the volume serial), which would
// make any two files look the same: such a file is never taken for the same one. Size and
// times are compared too, as a second witness where an index is coarse.
bool IsSameFile(HANDLE a, HANDLE b) {
  BY_HANDLE_FILE_INFORMATION x;
  BY_HANDLE_FILE_INFORMATION y;
  if (!GetFileInformationByHandle(a, &x) || !GetFileInformationByHandle(b, &y)) return false;
  if ((x.nFileIndexHigh | x.nFileIndexLow) == 0) return false;
  return x.dwVolumeSerialNumber == y.dwVolumeSerialNumber &&
         x.nFileIndexHigh == y.nFileIndexHigh && x.nFileIndexLow == y.nFileIndexLow &&
         x.nFileSizeHigh == y.nFileSizeHigh && x.nFileSizeLow == y.nFileSizeLow &&
         SameTime(x.ftCreationTime, y.ftCreationTime) &&
         SameTime(x.ftLastWriteTime, y.ftLastWriteTime);
}

// A second handle, for read and execute with `share`, to the file that `current` holds open.
// Without ReOpenFile the file is opened again by its path. The open handle shares no delete
// access, so nobody can have renamed or replaced the file meanwhile; comparing the file
// identities makes sure of it.
HANDLE Reopen(HANDLE current, const std::wstring& path, DWORD share) {
  constexpr DWORD kAccess = GENERIC_READ | GENERIC_EXECUTE;
  if (ReOpenFileFunction reopen = LookUpReOpenFile()) return reopen(current, kAccess, share, 0);
  platform::ScopedKernelHandle handle(CreateFileW(path.c_str(), kAccess, share, nullptr,
                                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle) return INVALID_HANDLE_VALUE;
  if (!IsSameFile(current, handle.get())) {
    SetLastError(ERROR_FILE_INVALID);
    return INVALID_HANDLE_VALUE;
  }
  return handle.release();
}

}  // namespace

void SetReOpenFileMissingForTesting(bool missing) { g_reopen_missing_for_testing = missing; }

ArchiveLock::ArchiveLock(const std::wstring& path, bool keep_contents)
    : path_(path),
      handle_(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                          keep_contents ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                          nullptr)) {}

bool ArchiveLock::ConvertToReadExecute() {
  if (!handle_) return false;
  HANDLE shared = Reopen(handle_.get(), path_, FILE_SHARE_READ | FILE_SHARE_WRITE);
  if (shared == INVALID_HANDLE_VALUE) return false;
  handle_.reset(shared);
  HANDLE exclusive = Reopen(handle_.get(), path_, FILE_SHARE_READ);
  if (exclusive == INVALID_HANDLE_VALUE) return false;
  handle_.reset(exclusive);
  return true;
}

platform::ScopedKernelHandle LockArchiveForExecution(const std::wstring& path) {
  return platform::ScopedKernelHandle(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_EXECUTE,
                                                  FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                  FILE_ATTRIBUTE_NORMAL, nullptr));
}

}  // namespace installer
