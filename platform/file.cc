#include "platform/file.h"

namespace platform {

File::CreateArguments File::ArgumentsForFlags(uint32_t flags) {
  CreateArguments args;
  // The highest disposition bit wins.
  if (flags & kFlagOpenTruncated) {
    args.disposition = TRUNCATE_EXISTING;
  } else if (flags & kFlagCreateAlways) {
    args.disposition = CREATE_ALWAYS;
  } else if (flags & kFlagOpenAlways) {
    args.disposition = OPEN_ALWAYS;
  } else if (flags & kFlagCreate) {
    args.disposition = CREATE_NEW;
  } else if (flags & kFlagOpen) {
    args.disposition = OPEN_EXISTING;
  }

  if (flags & kFlagRead) args.access |= GENERIC_READ;
  if (flags & kFlagAppend) {
    args.access |= FILE_APPEND_DATA;
  } else if (flags & kFlagWrite) {
    args.access |= GENERIC_WRITE;
  }
  if (flags & kFlagWriteAttributes) args.access |= FILE_WRITE_ATTRIBUTES;
  if (flags & kFlagExecute) args.access |= GENERIC_EXECUTE;
  if (flags & kFlagCanDelete) args.access |= DELETE;

  if (!(flags & kFlagExclusiveRead)) args.sharing |= FILE_SHARE_READ;
  if (!(flags & kFlagExclusiveWrite)) args.sharing |= FILE_SHARE_WRITE;
  if (flags & kFlagShareDelete) args.sharing |= FILE_SHARE_DELETE;

  if (flags & kFlagAsync) args.flags_and_attributes |= FILE_FLAG_OVERLAPPED;
  if (flags & kFlagTemporary) args.flags_and_attributes |= FILE_ATTRIBUTE_TEMPORARY;
  if (flags & kFlagHidden) args.flags_and_attributes |= FILE_ATTRIBUTE_HIDDEN;
  if (flags & kFlagDeleteOnClose) args.flags_and_attributes |= FILE_FLAG_DELETE_ON_CLOSE;
  if (flags & kFlagBackupSemantics) args.flags_and_attributes |= FILE_FLAG_BACKUP_SEMANTICS;
  if (flags & kFlagSequentialScan) args.flags_and_attributes |= FILE_FLAG_SEQUENTIAL_SCAN;
  return args;
}

File::Error File::ErrorFromWindowsError(DWORD windows_error) {
  switch (windows_error) {
    case ERROR_SUCCESS:
      return Error::kOk;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return Error::kInUse;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return Error::kExists;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
      return Error::kNotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      return Error::kAccessDenied;
    case ERROR_TOO_MANY_OPEN_FILES:
      return Error::kTooManyOpened;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return Error::kNoMemory;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return Error::kNoSpace;
    case ERROR_INVALID_PARAMETER:
    case ERROR_INVALID_FUNCTION:
      return Error::kInvalidOperation;
    default:
      return Error::kFailed;
  }
}

bool File::Initialize(const FilePath& path, uint32_t flags) {
  Close();
  CreateArguments args = ArgumentsForFlags(flags);
  if (args.disposition == 0) {
    error_ = Error::kInvalidOperation;
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  HANDLE handle = ::CreateFileW(path.value().c_str(), args.access, args.sharing, nullptr,
                                args.disposition, args.flags_and_attributes, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    DWORD windows_error = ::GetLastError();
    error_ = ErrorFromWindowsError(windows_error);
    ::SetLastError(windows_error);
    return false;
  }
  // Read before anything else can overwrite it: OPEN_ALWAYS and CREATE_ALWAYS report an
  // existing file through ERROR_ALREADY_EXISTS on success.
  DWORD open_error = ::GetLastError();
  handle_.reset(handle);
  if (args.disposition == CREATE_NEW || args.disposition == CREATE_ALWAYS) {
    created_ = true;
  } else if (args.disposition == OPEN_ALWAYS) {
    created_ = open_error != ERROR_ALREADY_EXISTS;
  }
  async_ = (flags & kFlagAsync) != 0;
  error_ = Error::kOk;
  return true;
}

void File::Close() {
  handle_.reset();
  created_ = false;
  async_ = false;
}

bool MappedFile::Open(const FilePath& path) {
  if (view_.is_valid()) {
    ::SetLastError(ERROR_ALREADY_INITIALIZED);
    return false;
  }
  ScopedKernelHandle file(::CreateFileW(path.value().c_str(), GENERIC_READ, FILE_SHARE_READ,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.is_valid()) return false;
  ScopedKernelHandle mapping(
      ::CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping.is_valid()) return false;
  ScopedMappedView view(::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
  if (!view.is_valid()) return false;
  MEMORY_BASIC_INFORMATION region = {};
  if (::VirtualQuery(view.get(), &region, sizeof(region)) == 0) return false;
  file_ = std::move(file);
  mapping_ = std::move(mapping);
  view_ = std::move(view);
  length_ = region.RegionSize;
  return true;
}

}  // namespace platform
