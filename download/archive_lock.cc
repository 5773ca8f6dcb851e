#include "download/archive_lock.h"

namespace installer {

ArchiveLock::ArchiveLock(const std::wstring& path)
    : path_(path),
      handle_(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr)) {}

bool ArchiveLock::ConvertToReadExecute() {
  if (!handle_) return false;
  HANDLE shared = ReOpenFile(handle_.get(), GENERIC_READ | GENERIC_EXECUTE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, 0);
  if (shared == INVALID_HANDLE_VALUE) return false;
  handle_.reset(shared);
  HANDLE exclusive = ReOpenFile(handle_.get(), GENERIC_READ | GENERIC_EXECUTE, FILE_SHARE_READ, 0);
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
