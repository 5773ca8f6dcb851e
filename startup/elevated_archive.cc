#include "startup/elevated_archive.h"

#include <windows.h>
#include <sddl.h>
#include <shlobj.h>

#include <vector>

#include "download/download_sink.h"
#include "platform/file_path.h"
#include "platform/file_util.h"
#include "platform/scoped_handle.h"
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

// The machine-wide folders a private folder may be made in, in this order: the system
// Windows folder's "Temp" (GetWindowsDirectoryW would give a Remote Desktop user a folder of
// their own), then the common application data folder, for systems whose Temp is missing or
// refuses the administrator. Neither comes from the user's environment, and in neither can
// a user rename or delete what another account made.
std::vector<std::wstring> MachineWideParents() {
  std::vector<std::wstring> parents;
  wchar_t buffer[MAX_PATH];
  UINT length = GetSystemWindowsDirectoryW(buffer, MAX_PATH);
  if (length != 0 && length < MAX_PATH) {
    std::wstring folder(buffer, length);
    if (folder.back() != L'\\') folder += L'\\';
    parents.push_back(folder + L"Temp");
  }
  if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT,
                                 buffer))) {
    parents.emplace_back(buffer);
  }
  return parents;
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
  // Protected (P): nothing is inherited from the parent folder.
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
          L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", SDDL_REVISION_1, &descriptor_, nullptr)) {
    descriptor_ = nullptr;
  }
}

PrivateFolderDescriptor::~PrivateFolderDescriptor() {
  if (descriptor_) LocalFree(descriptor_);
}

PrivateArchiveCopy::~PrivateArchiveCopy() { Remove(); }

bool PrivateArchiveCopy::Create(const std::wstring& source,
                                const std::vector<std::wstring>& parents) {
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
  for (const std::wstring& parent : parents.empty() ? MachineWideParents() : parents) {
    if (platform::MakeTempFolderIn(platform::FilePath(parent), L"li_", &creator, &folder)) break;
    LOG(ERROR, kElevatedChildTag) << "Cannot create a private folder in " << parent;
  }
  if (folder.empty()) return false;
  folder_ = folder.value();
  path_ = folder.Append(platform::FilePath(source).BaseName()).value();
  platform::ScopedKernelHandle out(CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr,
                                               CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (out) {
    // A child that is killed or crashes never reaches its clean-up: then the next reboot
    // removes the copy and, once it is empty, the folder.
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
