#include "startup/elevated_archive.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <vector>

#include "download/download_sink.h"
#include "platform/file_path.h"
#include "platform/file_util.h"
#include "platform/scoped_handle.h"
#include "platform/strings.h"
#include "startup/logging.h"

namespace installer {

namespace {

constexpr DWORD kCopyBufferBytes = 64 * 1024;

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// Creates folders with the private folder's security descriptor.
class PrivateFolderCreator : public platform::FolderCreator {
 public:
  explicit PrivateFolderCreator(PSECURITY_DESCRIPTOR descriptor) {
    attributes_.nLength = sizeof(attributes_);
    attributes_.lpSecurityDescriptor = descriptor;
    attributes_.bInheritHandle = FALSE;
  }
  bool CreateFolder(const platform::FilePath& path) override {
    return CreateDirectoryW(path.value().c_str(), &attributes_) != FALSE;
  }

 private:
  SECURITY_ATTRIBUTES attributes_;
};

// The machine-wide folders the persistent parent may be made in, in this order: the system
// Windows folder's "Temp" (GetWindowsDirectoryW would give a Remote Desktop user a folder of
// their own), then the common application data folder, for systems whose Temp is missing or
// refuses the administrator. Neither comes from the user's environment.
std::vector<std::wstring> MachineWideRoots() {
  std::vector<std::wstring> roots;
  wchar_t buffer[MAX_PATH];
  UINT length = GetSystemWindowsDirectoryW(buffer, MAX_PATH);
  if (length != 0 && length < MAX_PATH) {
    std::wstring folder(buffer, length);
    if (folder.back() != L'\\') folder += L'\\';
    roots.push_back(folder + L"Temp");
  }
  if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT,
                                 buffer))) {
    roots.emplace_back(buffer);
  }
  return roots;
}

bool IsAdministratorsOrSystem(PSID sid) {
  return IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
         IsWellKnownSid(sid, WinLocalSystemSid);
}

// An existing parent, judged on one handle that does not follow a reparse point.
bool IsPrivateParent(const std::wstring& path) {
  platform::ScopedKernelHandle folder(CreateFileW(
      path.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION information = {};
  if (!folder || !GetFileInformationByHandle(folder.get(), &information) ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
      !(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return false;
  }
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(folder.get(), SE_FILE_OBJECT,
                      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                      &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  const bool is_private = OnlyAdministratorsCanWrite(owner, dacl);
  LocalFree(descriptor);
  return is_private;
}

// The persistent parent in `root`, made with `creator`'s descriptor. One that exists and
// that somebody else could write is deleted (links inside it as links) and made anew: a
// user's folder is never used, and one that cannot be replaced refuses the root.
bool UsePrivateParent(const std::wstring& root, platform::FolderCreator* creator,
                      platform::FilePath* parent) {
  const platform::FilePath path = platform::FilePath(root).Append(kPrivateParentName);
  if (!creator->CreateFolder(path)) {
    if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
    if (!IsPrivateParent(path.value())) {
      LOG(WARNING, kElevatedChildTag) << "Others could write " << path.value() << "; made anew.";
      if (!platform::DeletePath(path, true) || !creator->CreateFolder(path)) return false;
    }
  }
  *parent = path;
  return true;
}

// True for "li_<id>_<n>" when process <id> has ended (no such process any more). Any other
// name, and a process that may still run (or cannot be asked), keeps the folder.
bool NamesEndedProcess(const std::wstring& name) {
  const size_t end = name.find(L'_', 3);
  uint64_t id = 0;
  if (name.compare(0, 3, L"li_") != 0 || end == std::wstring::npos ||
      !platform::StringToUint64(std::wstring_view(name).substr(3, end - 3), &id) ||
      id > 0xFFFFFFFFu || id == GetCurrentProcessId()) {
    return false;
  }
  platform::ScopedKernelHandle process(OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(id)));
  if (!process) return GetLastError() == ERROR_INVALID_PARAMETER;
  return WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0;
}

// Copies the whole file behind `source` into `target`.
bool CopyFromHandle(HANDLE source, HANDLE target) {
  LARGE_INTEGER start = {};
  if (!SetFilePointerEx(source, start, nullptr, FILE_BEGIN)) return false;
  std::vector<char> buffer(kCopyBufferBytes);
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(source, buffer.data(), kCopyBufferBytes, &read, nullptr)) return false;
    if (read == 0) return true;
    DWORD written = 0;
    if (!WriteFile(target, buffer.data(), read, &written, nullptr) || written != read) {
      return false;
    }
  }
}

}  // namespace

DWORD FileSystemView::Attributes(const std::wstring& path) {
  return GetFileAttributesW(path.c_str());
}

UINT FileSystemView::DriveType(const std::wstring& root) { return GetDriveTypeW(root.c_str()); }

const char* LocalFileProblem(const std::wstring& path, FileSystemView* view) {
  FileSystemView system;
  if (view == nullptr) view = &system;
  if (path.size() < 4 || !IsDriveLetter(path[0]) || path[1] != L':' || path[2] != L'\\') {
    return "not a local absolute path";
  }
  if (path.size() >= MAX_PATH) return "too long";
  if (path.find_first_of(L"/:*?\"<>|", 2) != std::wstring::npos ||
      platform::FilePath(path).ReferencesParent()) {
    return "not a plain path";
  }
  switch (view->DriveType(path.substr(0, 3))) {
    case DRIVE_FIXED:
    case DRIVE_REMOVABLE:
    case DRIVE_CDROM:
    case DRIVE_RAMDISK:
      break;
    default:
      return "not on a local drive";
  }
  // Every folder on the way, then the file itself.
  size_t begin = 3;
  for (;;) {
    size_t end = path.find(L'\\', begin);
    const bool last = end == std::wstring::npos;
    const std::wstring part = path.substr(begin, last ? std::wstring::npos : end - begin);
    if (part.empty() || part == L"." || part == L"..") return "not a plain path";
    const DWORD attributes = view->Attributes(last ? path : path.substr(0, end));
    if (attributes == INVALID_FILE_ATTRIBUTES) return "missing";
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return "a reparse point on the way";
    if (last) {
      return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? "not a regular file" : nullptr;
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return "a file on the way";
    begin = end + 1;
  }
}

PrivateFolderDescriptor::PrivateFolderDescriptor() {
  // Owned by Administrators (an administrator's own account as owner could change the DACL
  // from any of that user's processes); protected (P): nothing is inherited from the parent.
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
          L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", SDDL_REVISION_1, &descriptor_, nullptr)) {
    descriptor_ = nullptr;
  }
}

PrivateFolderDescriptor::~PrivateFolderDescriptor() {
  if (descriptor_) LocalFree(descriptor_);
}

bool OnlyAdministratorsCanWrite(PSID owner, const ACL* dacl) {
  // What lets somebody add or remove entries, remove the folder, or rewrite its security.
  constexpr ACCESS_MASK kWriteRights = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY |
                                       FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER |
                                       GENERIC_WRITE | GENERIC_ALL | MAXIMUM_ALLOWED;
  // A missing DACL lets everybody in.
  if (owner == nullptr || dacl == nullptr || !IsAdministratorsOrSystem(owner)) return false;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* entry = nullptr;
    if (!GetAce(const_cast<ACL*>(dacl), i, &entry)) return false;
    const auto* header = static_cast<const ACE_HEADER*>(entry);
    // Inherit-only entries say what new entries get; the private folders get their own DACL.
    if ((header->AceFlags & INHERIT_ONLY_ACE) || header->AceType == ACCESS_DENIED_ACE_TYPE) {
      continue;
    }
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) return false;
    const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
    if ((allowed->Mask & kWriteRights) &&
        !IsAdministratorsOrSystem(const_cast<DWORD*>(&allowed->SidStart))) {
      return false;
    }
  }
  return true;
}

void RemoveStalePrivateFolders(const std::wstring& parent) {
  platform::FolderWalker walker(platform::FilePath(parent), false,
                                platform::FolderWalker::kFolders, L"li_*");
  for (platform::FilePath folder = walker.Next(); !folder.empty(); folder = walker.Next()) {
    if (!NamesEndedProcess(folder.BaseName().value())) continue;
    if (!platform::DeletePath(folder, true)) {
      LOG(ERROR, kElevatedChildTag) << "Cannot remove the stale private folder " << folder.value();
    }
  }
}

PrivateArchiveCopy::~PrivateArchiveCopy() { Remove(); }

bool PrivateArchiveCopy::Create(const std::wstring& source,
                                const std::vector<std::wstring>& roots) {
  Remove();
  // One open of the source: what is copied is what this handle reads, whatever the path
  // points at later. A reparse point is opened as itself and then refused. Nobody can write
  // the file while the handle is open, so its size is the size of the copy.
  platform::ScopedKernelHandle file(
      CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                  FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  BY_HANDLE_FILE_INFORMATION information = {};
  if (!file || !GetFileInformationByHandle(file.get(), &information)) {
    LOG(ERROR, kElevatedChildTag) << "Cannot open the archive: " << source;
    return false;
  }
  if (information.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) {
    LOG(ERROR, kElevatedChildTag) << "The archive is no regular file: " << source;
    return false;
  }
  // The download's own cap: no archive the master could have downloaded is larger.
  if (information.nFileSizeHigh != 0 || information.nFileSizeLow > kMaxArchiveBytes) {
    LOG(ERROR, kElevatedChildTag) << "The archive is larger than " << kMaxArchiveBytes
                                  << " bytes: " << source;
    return false;
  }

  PrivateFolderDescriptor descriptor;
  if (!descriptor.get()) {
    LOG(ERROR, kElevatedChildTag) << "Cannot build the private folder's security descriptor.";
    return false;
  }
  PrivateFolderCreator creator(descriptor.get());
  platform::FilePath folder;
  for (const std::wstring& root : roots.empty() ? MachineWideRoots() : roots) {
    platform::FilePath parent;
    if (UsePrivateParent(root, &creator, &parent)) {
      RemoveStalePrivateFolders(parent.value());
      if (platform::MakeTempFolderIn(parent, L"li_", &creator, &folder)) break;
    }
    LOG(ERROR, kElevatedChildTag) << "Cannot create a private folder in " << root;
  }
  if (folder.empty()) return false;
  // A child that is killed or crashes never reaches its clean-up; the next reboot does it.
  // The folder is marked at once (a child killed before its copy exists leaves it empty) and
  // again after the copy: Windows deletes in the order of its list, and skips a folder that
  // still holds something.
  platform::DeletePathAtReboot(folder);
  folder_ = folder.value();
  path_ = folder.Append(kPrivateCopyName).value();
  platform::ScopedKernelHandle out(CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr,
                                               CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (out) {
    platform::DeletePathAtReboot(platform::FilePath(path_));
    platform::DeletePathAtReboot(folder);
  }
  if (!out || !CopyFromHandle(file.get(), out.get())) {
    LOG(ERROR, kElevatedChildTag) << "Cannot copy the archive to " << path_;
    out.reset();
    Remove();
    return false;
  }
  LOG(INFO, kElevatedChildTag) << "Archive copied to " << path_;
  return true;
}

void PrivateArchiveCopy::Remove() {
  if (folder_.empty()) return;
  if (!platform::DeletePath(platform::FilePath(folder_), true)) {
    LOG(ERROR, kElevatedChildTag) << "Cannot remove the private folder " << folder_;
  }
  folder_.clear();
  path_.clear();
}

}  // namespace installer
