#include "platform/file_util.h"

#include <aclapi.h>
#include <winternl.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/random.h"
#include "platform/strings.h"
#include "platform/system_library.h"
#include "platform/windows_version.h"

namespace platform {

namespace {

bool TooLong(const FilePath& path) { return path.value().size() >= FilePath::kMaxPath; }

bool HasWildcard(const FilePath& path) {
  return path.BaseName().value().find_first_of(L"*?") != std::wstring::npos;
}

bool IsDotOrDotDot(const wchar_t* name) {
  return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

class SystemTempFileNamer : public TempFileNamer {
 public:
  UINT MakeName(const wchar_t* folder, const wchar_t* prefix, wchar_t* name) override {
    return ::GetTempFileNameW(folder, prefix, 0, name);
  }
};

class SystemFolderCreator : public FolderCreator {
 public:
  bool CreateFolder(const FilePath& path) override {
    return ::CreateDirectoryW(path.value().c_str(), nullptr) != FALSE;
  }
};

// Remembers the first failure of a sequence of deletions.
class FirstError {
 public:
  void Record() {
    if (ok_) error_ = ::GetLastError();
    ok_ = false;
  }
  bool Finish() const {
    if (!ok_) ::SetLastError(error_);
    return ok_;
  }

 private:
  bool ok_ = true;
  DWORD error_ = ERROR_SUCCESS;
};

bool DeleteEntry(const FilePath& path, DWORD attributes, bool recursive);

// Deletes every entry that `query` (a folder plus a pattern) finds in `folder`.
bool DeleteMatches(const FilePath& folder, const FilePath& query, bool recursive) {
  WIN32_FIND_DATAW data;
  ScopedFindHandle find(::FindFirstFileW(query.value().c_str(), &data));
  if (!find.is_valid()) {
    DWORD error = ::GetLastError();
    // Nothing matching, or no such folder: nothing to delete.
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
           error == ERROR_NO_MORE_FILES;
  }
  FirstError result;
  do {
    if (IsDotOrDotDot(data.cFileName)) continue;
    FilePath entry = folder.Append(data.cFileName);
    if (TooLong(entry)) {
      ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
      result.Record();
      continue;
    }
    if (!DeleteEntry(entry, data.dwFileAttributes, recursive)) result.Record();
  } while (::FindNextFileW(find.get(), &data));
  return result.Finish();
}

bool DeleteEntry(const FilePath& path, DWORD attributes, bool recursive) {
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    FirstError result;
    // A reparse point (junction, symbolic link) is removed as the link itself; its target
    // belongs to somebody else.
    if (recursive && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
        !DeleteMatches(path, path.Append(L"*"), true)) {
      result.Record();
    }
    if (!::RemoveDirectoryW(path.value().c_str())) result.Record();
    return result.Finish();
  }
  if ((attributes & FILE_ATTRIBUTE_READONLY) &&
      !::SetFileAttributesW(path.value().c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)) {
    return false;
  }
  return ::DeleteFileW(path.value().c_str()) != FALSE;
}

}  // namespace

bool IsPresent(const FilePath& path) {
  return ::GetFileAttributesW(path.value().c_str()) != INVALID_FILE_ATTRIBUTES;
}

FilePath OwnExecutablePath() {
  wchar_t buffer[FilePath::kMaxPath];
  const DWORD length = ::GetModuleFileNameW(nullptr, buffer, FilePath::kMaxPath);
  // A full buffer means the name was cut short.
  if (length == 0 || length >= FilePath::kMaxPath) return FilePath();
  return FilePath(std::wstring_view(buffer, length));
}

bool TempFolder(FilePath* folder) {
  wchar_t buffer[FilePath::kMaxPath];
  DWORD length = ::GetTempPathW(FilePath::kMaxPath, buffer);
  if (length == 0) return false;
  if (length > FilePath::kMaxPath - 1) {
    // The return value is the size the path needs; nothing was written.
    ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  *folder = FilePath(std::wstring_view(buffer, length)).StripTrailingSeparators();
  return true;
}

bool MakeTempFileInForTesting(const FilePath& folder, std::wstring_view prefix,
                              TempFileNamer* namer, FilePath* file) {
  std::wstring prefix_text(prefix);
  wchar_t name[FilePath::kMaxPath];
  name[0] = L'\0';
  if (namer->MakeName(folder.value().c_str(), prefix_text.c_str(), name) == 0) return false;
  name[FilePath::kMaxPath - 1] = L'\0';
  wchar_t long_name[FilePath::kMaxPath];
  DWORD saved_error = ::GetLastError();
  DWORD length = ::GetLongPathNameW(name, long_name, FilePath::kMaxPath);
  // The temporary folder is often given in its short 8.3 form ("C:\Users\JOHNSM~1\...");
  // callers compare and log the long form.
  if (length > 0 && length < FilePath::kMaxPath) {
    *file = FilePath(std::wstring_view(long_name, length));
  } else {
    *file = FilePath(name);
  }
  ::SetLastError(saved_error);
  return true;
}

bool MakeTempFileIn(const FilePath& folder, std::wstring_view prefix, FilePath* file) {
  SystemTempFileNamer namer;
  return MakeTempFileInForTesting(folder, prefix, &namer, file);
}

bool MakeTempFile(std::wstring_view prefix, FilePath* file) {
  FilePath folder;
  return TempFolder(&folder) && MakeTempFileIn(folder, prefix, file);
}

bool MakeTempFolderIn(const FilePath& base, std::wstring_view prefix, FolderCreator* creator,
                      FilePath* folder) {
  std::wstring stem(prefix);
  stem += ToWString(static_cast<unsigned long>(::GetCurrentProcessId()));
  stem += L'_';
  for (int attempt = 0; attempt < kMaxTempFolderAttempts; ++attempt) {
    FilePath candidate = base.Append(stem + ToWString(RandomInRange(0, 32767)));
    if (creator->CreateFolder(candidate)) {
      *folder = candidate;
      return true;
    }
  }
  return false;
}

bool MakeTempFolderIn(const FilePath& base, std::wstring_view prefix, FilePath* folder) {
  SystemFolderCreator creator;
  return MakeTempFolderIn(base, prefix, &creator, folder);
}

bool MakeTempFolder(std::wstring_view prefix, FilePath* folder) {
  FilePath base;
  return TempFolder(&base) && MakeTempFolderIn(base, prefix, folder);
}

bool WriteWholeFile(const FilePath& path, std::string_view bytes) {
  bool ok = false;
  {
    ScopedKernelHandle file(::CreateFileW(path.value().c_str(), GENERIC_WRITE, 0, nullptr,
                                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ok = file.is_valid();
    for (size_t offset = 0; ok && offset < bytes.size();) {
      const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - offset, 1 << 20));
      DWORD written = 0;
      ok = ::WriteFile(file.get(), bytes.data() + offset, chunk, &written, nullptr) != FALSE;
      if (ok && written != chunk) {
        ::SetLastError(ERROR_WRITE_FAULT);
        ok = false;
      }
      offset += chunk;
    }
  }
  if (ok) return true;
  const DWORD error = ::GetLastError();
  ::DeleteFileW(path.value().c_str());
  ::SetLastError(error);
  return false;
}

bool CopyFileTo(const FilePath& from, const FilePath& to) {
  if (from.ReferencesParent() || to.ReferencesParent()) {
    ::SetLastError(ERROR_BAD_PATHNAME);
    return false;
  }
  if (TooLong(from) || TooLong(to)) {
    ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  if (!::CopyFileW(from.value().c_str(), to.value().c_str(), FALSE)) return false;
  // CopyFileW carries the attributes over; a read-only copy could not be replaced or
  // deleted by the next run.
  DWORD attributes = ::GetFileAttributesW(to.value().c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    return ::SetFileAttributesW(to.value().c_str(), attributes & ~FILE_ATTRIBUTE_READONLY) !=
           FALSE;
  }
  return true;
}

bool DeletePath(const FilePath& path, bool recursive) {
  if (path.empty()) return true;
  if (TooLong(path)) {
    ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  if (HasWildcard(path)) return DeleteMatches(path.DirName(), path, recursive);
  DWORD attributes = ::GetFileAttributesW(path.value().c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  return DeleteEntry(path, attributes, recursive);
}

bool DeletePathAtReboot(const FilePath& path) {
  if (TooLong(path)) {
    ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  return ::MoveFileExW(path.value().c_str(), nullptr,
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}

namespace {

FinalPathQuery g_final_path_query_for_testing = nullptr;
OwnerQuery g_owner_query_for_testing = nullptr;

FinalPathQuery CurrentFinalPathQuery() {
  if (g_final_path_query_for_testing) return g_final_path_query_for_testing;
  return reinterpret_cast<FinalPathQuery>(KernelFunction("GetFinalPathNameByHandleW"));
}

}  // namespace

bool FinalPathAvailable() { return CurrentFinalPathQuery() != nullptr; }

std::wstring FinalPathOf(HANDLE file) {
  FinalPathQuery query = CurrentFinalPathQuery();
  if (query == nullptr) {
    ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return std::wstring();
  }
  // FILE_NAME_NORMALIZED | VOLUME_NAME_DOS.
  std::wstring path(FilePath::kMaxPath + 8, L'\0');
  DWORD length = query(file, path.data(), static_cast<DWORD>(path.size()), 0);
  if (length >= path.size()) {
    path.resize(length + 1);
    length = query(file, path.data(), static_cast<DWORD>(path.size()), 0);
  }
  if (length == 0 || length >= path.size()) return std::wstring();
  path.resize(length);
  if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) return L"\\\\" + path.substr(8);
  if (path.compare(0, 4, L"\\\\?\\") == 0) return path.substr(4);
  return path;
}

namespace {

using NtCreateFileFunction = NTSTATUS(NTAPI*)(HANDLE*, ACCESS_MASK, OBJECT_ATTRIBUTES*,
                                               IO_STATUS_BLOCK*, LARGE_INTEGER*, ULONG, ULONG,
                                               ULONG, ULONG, void*, ULONG);
using NtSetInformationFileFunction = NTSTATUS(NTAPI*)(HANDLE, IO_STATUS_BLOCK*, void*, ULONG,
                                                       FILE_INFORMATION_CLASS);
using RtlNtStatusToDosErrorFunction = ULONG(NTAPI*)(NTSTATUS);

// Sets the thread's last error from a native status; false unless it is a success.
bool Succeeded(NTSTATUS status) {
  if (status >= 0) return true;
  const auto to_error =
      reinterpret_cast<RtlNtStatusToDosErrorFunction>(NtdllFunction("RtlNtStatusToDosError"));
  ::SetLastError(to_error ? to_error(status) : ERROR_GEN_FAILURE);
  return false;
}

// The open's answer for a file with an opportunistic lock on it (ntstatus.h), and its Win32
// code (winerror.h; MinGW's lacks both).
constexpr NTSTATUS kOplockBreakInProgress = 0x00000108;
constexpr DWORD kErrorOplockBreakInProgress = 742;

// NtSetInformationFile with `info` of the class; false with the last error set.
bool SetInformation(HANDLE file, void* info, ULONG bytes, ULONG information_class) {
  const auto set = reinterpret_cast<NtSetInformationFileFunction>(
      NtdllFunction("NtSetInformationFile"));
  if (set == nullptr) {
    ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return false;
  }
  IO_STATUS_BLOCK io = {};
  return Succeeded(
      set(file, &io, info, bytes, static_cast<FILE_INFORMATION_CLASS>(information_class)));
}

bool NameFits(const std::wstring& name) {
  if (name.size() * sizeof(wchar_t) < 0x10000) return true;
  ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
  return false;
}

}  // namespace

bool OpenFileInFolder(HANDLE folder, const std::wstring& name, DWORD access, DWORD share,
                      ScopedKernelHandle* file, bool* created) {
  const auto create = reinterpret_cast<NtCreateFileFunction>(NtdllFunction("NtCreateFile"));
  if (create == nullptr) {
    ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return false;
  }
  if (!NameFits(name)) return false;
  UNICODE_STRING native_name;
  native_name.Buffer = const_cast<wchar_t*>(name.c_str());
  native_name.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  native_name.MaximumLength = native_name.Length;
  SECURITY_QUALITY_OF_SERVICE quality = {};
  quality.Length = sizeof(quality);
  quality.ImpersonationLevel = SecurityAnonymous;
  quality.ContextTrackingMode = SECURITY_STATIC_TRACKING;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &native_name, OBJ_CASE_INSENSITIVE, folder, nullptr);
  attributes.SecurityQualityOfService = &quality;
  IO_STATUS_BLOCK io = {};
  HANDLE opened = nullptr;
  const NTSTATUS status = create(
      &opened, access | FILE_READ_ATTRIBUTES | SYNCHRONIZE, &attributes, &io, nullptr,
      FILE_ATTRIBUTE_NORMAL, share, FILE_OPEN_IF,
      FILE_OPEN_REPARSE_POINT | FILE_NON_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT |
          FILE_COMPLETE_IF_OPLOCKED,
      nullptr, 0);
  if (!Succeeded(status)) return false;
  file->reset(opened);
  if (status == kOplockBreakInProgress) {
    // Writing would wait, without bound, for whoever holds the lock to let it go.
    file->reset();
    ::SetLastError(kErrorOplockBreakInProgress);
    return false;
  }
  *created = io.Information == FILE_CREATED;
  return true;
}

bool RenameThroughHandle(HANDLE file, HANDLE folder, const std::wstring& name) {
  if (!NameFits(name)) return false;
  // SetFileInformationByHandle would make the bare name a path of the current directory
  // (and then refuse it beside a root directory): the native call takes it as it is. The
  // structure ends in the name's first character; the name follows it in one block.
  const size_t bytes = sizeof(FILE_RENAME_INFORMATION) + name.size() * sizeof(wchar_t);
  std::vector<uint8_t> block(bytes, 0);
  auto* info = reinterpret_cast<FILE_RENAME_INFORMATION*>(block.data());
  info->ReplaceIfExists = TRUE;
  info->RootDirectory = folder;
  info->FileNameLength = static_cast<ULONG>(name.size() * sizeof(wchar_t));
  memcpy(info->FileName, name.data(), info->FileNameLength);
  return SetInformation(file, info, static_cast<ULONG>(bytes), FileRenameInformation);
}

bool DeleteThroughHandle(HANDLE file) {
  // FILE_DISPOSITION_INFORMATION: one BOOLEAN. The native class (13) works on XP too.
  BOOLEAN delete_file = TRUE;
  return SetInformation(file, &delete_file, sizeof(delete_file), 13);
}

bool ClearReadOnlyThroughHandle(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION information = {};
  if (!::GetFileInformationByHandle(file, &information)) return false;
  if (!(information.dwFileAttributes & FILE_ATTRIBUTE_READONLY)) return true;
  // FILE_BASIC_INFORMATION (class 4, on XP too): times of 0 stay as they are.
  struct {
    LARGE_INTEGER creation, last_access, last_write, change;
    ULONG attributes;
  } basic = {};
  basic.attributes = information.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY;
  if (basic.attributes == 0) basic.attributes = FILE_ATTRIBUTE_NORMAL;
  return SetInformation(file, &basic, sizeof(basic), 4);
}

bool OwnerOf(HANDLE object, std::vector<uint8_t>* owner) {
  PSID sid = nullptr;
  ScopedLocalMemory descriptor;
  const DWORD error = (g_owner_query_for_testing ? g_owner_query_for_testing : ::GetSecurityInfo)(
      object, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &sid, nullptr, nullptr, nullptr,
      reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.receive()));
  if (error != ERROR_SUCCESS || sid == nullptr) {
    ::SetLastError(error != ERROR_SUCCESS ? error : ERROR_INVALID_SID);
    return false;
  }
  const auto* bytes = static_cast<const uint8_t*>(sid);
  owner->assign(bytes, bytes + ::GetLengthSid(sid));
  return true;
}

void SetFinalPathQueryForTesting(FinalPathQuery query) { g_final_path_query_for_testing = query; }
void SetOwnerQueryForTesting(OwnerQuery query) { g_owner_query_for_testing = query; }

FolderWalker::FolderWalker(const FilePath& root, bool recursive, int file_types,
                           std::wstring_view pattern)
    : pattern_(pattern.empty() ? std::wstring(L"*") : std::wstring(pattern)),
      recursive_(recursive),
      file_types_(file_types) {
  pending_.push_back(root);
}

bool FolderWalker::StartSearch(const FilePath& folder) {
  std::wstring query = folder.Append(pattern_).value();
  if (WindowsVersionClass() < kWindows7) {
    find_.reset(::FindFirstFileW(query.c_str(), &data_));
  } else {
    // Basic information skips the 8.3 names; large fetches cut the round trips to the file
    // system. Both flags are unknown before Windows 7.
    find_.reset(::FindFirstFileExW(query.c_str(), FindExInfoBasic, &data_,
                                   FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
  }
  if (!find_.is_valid()) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error_ == ERROR_SUCCESS) error_ = error;
    return false;
  }
  current_folder_ = folder;
  has_data_ = true;
  return true;
}

FilePath FolderWalker::Next() {
  for (;;) {
    if (!find_.is_valid()) {
      if (next_pending_ == pending_.size()) return FilePath();
      FilePath folder = std::move(pending_[next_pending_++]);
      if (!StartSearch(folder)) continue;
    } else if (!has_data_) {
      if (!::FindNextFileW(find_.get(), &data_)) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_NO_MORE_FILES && error_ == ERROR_SUCCESS) error_ = error;
        find_.reset();
        continue;
      }
      has_data_ = true;
    }
    has_data_ = false;
    if (IsDotOrDotDot(data_.cFileName)) continue;
    FilePath match = current_folder_.Append(data_.cFileName);
    bool is_folder = (data_.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (recursive_ && is_folder && !(data_.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      pending_.push_back(match);
    }
    if (is_folder ? (file_types_ & kFolders) : (file_types_ & kFiles)) return match;
  }
}

}  // namespace platform
