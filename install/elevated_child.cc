#include "install/elevated_child.h"

#include <sddl.h>
#include <shlobj.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "install/archive_check.h"
#include "install/delayed_params.h"
#include "install/elevated_process.h"
#include "install/installer.h"
#include "network/download_sink.h"
#include "platform/archive_lock.h"
#include "platform/command_line.h"
#include "platform/file_util.h"
#include "platform/logging.h"
#include "platform/random.h"
#include "platform/shared_sections.h"
#include "platform/strings.h"
#include "platform/switches.h"

namespace installer {

namespace {

constexpr DWORD kCopyBufferBytes = 64 * 1024;
// The copy of the archive the setup runs from.
constexpr wchar_t kArchiveCopyName[] = L"setup.arc";

ChildFileSystem* g_file_system_for_testing = nullptr;

// The files the master hands over, and the names of their copies. The vendor files are
// needed; the others (the distribution info, the variations seed and the configuration
// bundle, which the master may not have fetched) the setup does without: one that cannot
// be copied is not passed on.
struct HandedOverFile {
  const char* switch_name;
  const wchar_t* copy_name;
  bool needed;
};
constexpr HandedOverFile kHandedOverFiles[] = {
    {switches::kInstallerData, L"master_preferences", true},
    {switches::kClidsFile, L"clids.xml", true},
    {switches::kClidsSearchbandFile, L"clids_searchband.xml", true},
    {switches::kBrandPackage, L"BrandFile", true},
    {switches::kPartnerPackage, L"PartnerFile", true},
    {switches::kOverridePartnerPackage, L"PartnerOverrideFile", true},
    {switches::kDistrInfoFile, L"distrib_info", false},
    {switches::kVariationsUpdatePath, L"variations_seed", false},
    {switches::kServerConfigBundlePath, L"server_config_bundle", false},
};

// The machine-wide folders a private folder may be made in, in this order: the system
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
    folder += L"Temp";
    roots.push_back(std::move(folder));
  }
  if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT,
                                 buffer))) {
    roots.emplace_back(buffer);
  }
  return roots;
}

// "li_" and 16 hexadecimal digits from the system generator.
std::wstring RandomFolderName() {
  return L"li_" + platform::Widen(platform::ToHex16(platform::RandomU64()));
}

// Copies the whole file behind `source` into `target`; false once it gives more than
// `max_bytes` (the size the handle reported is no bound: a share or device may serve more).
bool CopyFromHandle(HANDLE source, HANDLE target, uint64_t max_bytes) {
  std::vector<char> buffer(kCopyBufferBytes);
  uint64_t copied = 0;
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(source, buffer.data(), kCopyBufferBytes, &read, nullptr)) return false;
    if (read == 0) return true;
    copied += read;
    if (copied > max_bytes) return false;
    DWORD written = 0;
    if (!WriteFile(target, buffer.data(), read, &written, nullptr) || written != read) {
      return false;
    }
  }
}

ChildFileSystem* SystemFileSystem() {
  static ChildFileSystem* system = new ChildFileSystem;
  return system;
}

// E1. A malformed id is logged and used as converted: the wait then fails at once.
DWORD ReadParentProcessId(const CommandLine& command_line) {
  bool well_formed = true;
  uint32_t id = ParentProcessIdFrom(command_line, &well_formed);
  if (!well_formed) {
    logging::LogWithValue(logging::kERROR, kElevatedChildTag, 68,
                          "Suspicious process id=",
                          command_line.NarrowValue(switches::kParentInstallerProcessId));
  }
  return id;
}

// E3. WAIT_OBJECT_0 is the master's go; anything else (stop, the master gone, an event
// missing, a run id that is none) means there is nothing to run. Only the events the
// command line names are opened: the master made them for this run and nobody before it.
// The go is an auto-reset event any process of the user that finds the master's handles can
// take, so the child confirms at once that it was this one: until then the master keeps its
// wait stoppable.
DWORD WaitForMasterRelease(const std::string& run_id, HANDLE parent) {
  platform::ScopedKernelHandle go;
  platform::ScopedKernelHandle stop;
  if (IsElevatedRunId(run_id)) {
    go.reset(OpenEventA(SYNCHRONIZE, FALSE, ElevatedEventName(run_id, ElevatedEvent::kGo).c_str()));
    stop.reset(
        OpenEventA(SYNCHRONIZE, FALSE, ElevatedEventName(run_id, ElevatedEvent::kStop).c_str()));
  }
  HANDLE handles[] = {go.get(), stop.get(), parent};
  const DWORD result = WaitForMultipleObjects(3, handles, FALSE, INFINITE);
  if (result == WAIT_OBJECT_0) {
    platform::ScopedKernelHandle taken(OpenEventA(
        EVENT_MODIFY_STATE, FALSE, ElevatedEventName(run_id, ElevatedEvent::kTaken).c_str()));
    if (!taken || !SetEvent(taken.get())) {
      // A master that hears nothing may give the run up and stop this child mid-setup:
      // nothing runs unconfirmed.
      logging::LogText(logging::kERROR, kElevatedChildTag, __LINE__, "Cannot confirm the go to the master.");
      return WAIT_FAILED;
    }
  }
  return result;
}

// The block from the master's own section, duplicated out of the master's process by
// the handle value its command line gives, applied to the setup's command line; false, with
// an ERROR line, when there is none.
bool ApplyMastersBlock(const CommandLine& command_line, HANDLE parent,
                       CommandLine* setup_command_line) {
  uint64_t value = 0;
  HANDLE duplicate = nullptr;
  if (!platform::StringToUint64(command_line.NarrowValue(switches::kDelayedParamsHandle),
                                &value) ||
      !DuplicateHandle(parent, reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value)),
                       GetCurrentProcess(), &duplicate, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    logging::LogText(logging::kERROR, kElevatedChildTag, __LINE__,
            "Cannot take the master's delayed parameter block.");
    return false;
  }
  platform::ScopedKernelHandle section(duplicate);
  // Anything but a section at least the block's size fails here.
  platform::ScopedMappedView view(
      MapViewOfFile(section.get(), FILE_MAP_READ, 0, 0, sizeof(DelayedParamBlock)));
  if (!view) {
    logging::LogText(logging::kERROR, kElevatedChildTag, __LINE__,
            "Cannot read the master's delayed parameter block.");
    return false;
  }
  // Copied first: the length scan and the copy of a field then see the same bytes.
  DelayedParamBlock copy;
  memcpy(&copy, view.get(), sizeof(copy));
  ApplyDelayedParams(ReadDelayedParamsFrom(copy), setup_command_line);
  return true;
}

// An impersonation token of the master's own (limited) one; false, with an ERROR line,
// when it cannot be had (the run is then refused).
bool MasterImpersonationToken(HANDLE master, platform::ScopedKernelHandle* token) {
  platform::ScopedKernelHandle primary;
  if (!OpenProcessToken(master, TOKEN_DUPLICATE | TOKEN_QUERY, primary.receive()) ||
      !DuplicateToken(primary.get(), SecurityImpersonation, token->receive())) {
    const unsigned long error = GetLastError();
    logging::LogWithValue(logging::kERROR, kElevatedChildTag, __LINE__,
                          "Cannot take the master's token, error ", error);
    return false;
  }
  return true;
}

// E6. The handle the master passed with the setup command line; 0 without a window.
HWND ProgressWindowFrom(const CommandLine& setup_command_line) {
  uint64_t value = 0;
  if (!platform::StringToUint64(setup_command_line.Value(switches::kProgressWindow), &value)) {
    return nullptr;
  }
  return reinterpret_cast<HWND>(static_cast<uintptr_t>(value));
}

// Steps 3 and 4 after the go; true when the setup ran to its end (`*exit_code` is its code).
bool RunSetupFromPrivateCopies(CommandLine* setup_command_line, PrivateFolder* folder,
                               int32_t* exit_code) {
  // E5.
  const std::wstring archive_path = setup_command_line->ProgramPath();
  if (GetFileAttributesW(archive_path.c_str()) == INVALID_FILE_ATTRIBUTES) {
    LOG_AT(ERROR, kElevatedChildTag, 103)
        << "Browser archive " << archive_path << " does not exist";
    return false;
  }
  if (!folder->Create()) return false;
  // From here on everything this process and its setup make goes where only administrators
  // can change it, not into the user's TEMP it was started with.
  if (!folder->MakeProcessTemp()) {
    logging::LogText(logging::kERROR, kElevatedChildTag, __LINE__,
            "Cannot make the private folder the TEMP.");
    return false;
  }
  const std::wstring archive = folder->CopyIn(archive_path, kArchiveCopyName, kMaxArchiveBytes);
  if (archive.empty()) return false;
  logging::LogWithValue(logging::kINFO, kElevatedChildTag, __LINE__, "Archive copied to ", archive);
  for (const HandedOverFile& file : kHandedOverFiles) {
    if (!setup_command_line->Has(file.switch_name)) continue;
    const std::wstring copy = folder->CopyIn(setup_command_line->Value(file.switch_name),
                                             file.copy_name, kMaxHandedOverFileBytes);
    if (copy.empty() && file.needed) return false;
    if (copy.empty()) {
      LOG(WARNING, kElevatedChildTag) << "The setup runs without " << file.switch_name << ".";
      setup_command_line->PutFlag(file.switch_name, false);
    } else {
      setup_command_line->Put(file.switch_name, copy);
    }
  }

  // E6.
  WindowProgressProxy proxy(ProgressWindowFrom(*setup_command_line));
  Installer installer({.listener = &proxy});
  // Locked against writers until the setup has run.
  platform::ScopedKernelHandle archive_lock;
  const ArchiveCheck check =
      LockAndVerifyArchive(&installer, archive, nullptr, &archive_lock, kElevatedChildTag);
  if (check == ArchiveCheck::kNotVerified) {
    logging::LogWithValue(logging::kERROR, kElevatedChildTag, __LINE__,
                 "Module verification failed: ", archive);
  }
  if (check != ArchiveCheck::kVerified) return false;
  const bool ran = installer.RunModule(archive, *setup_command_line);
  *exit_code = installer.result_code();
  return ran;
}

}  // namespace

bool ChildFileSystem::CreateFolder(const std::wstring& path, SECURITY_ATTRIBUTES* attributes) {
  return CreateDirectoryW(path.c_str(), attributes) != FALSE;
}

HANDLE ChildFileSystem::Open(const std::wstring& path, DWORD access, DWORD share,
                             DWORD disposition, DWORD flags) {
  return CreateFileW(path.c_str(), access, share, nullptr, disposition, flags, nullptr);
}

bool ChildFileSystem::DeleteThrough(HANDLE file, const std::wstring& path) {
  return platform::DeleteThroughHandle(file);
}

bool ChildFileSystem::DeleteAtReboot(const std::wstring& path) {
  return platform::DeletePathAtReboot(platform::FilePath(path));
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

PrivateFolder::PrivateFolder(ChildFileSystem* file_system)
    : file_system_(file_system ? file_system : SystemFileSystem()) {}

PrivateFolder::~PrivateFolder() { Remove(); }

bool PrivateFolder::Record(HANDLE handle, const std::wstring& path) {
  BY_HANDLE_FILE_INFORMATION information = {};
  if (!GetFileInformationByHandle(handle, &information)) return false;
  Made made;
  made.path = path;
  made.volume = information.dwVolumeSerialNumber;
  made.index_high = information.nFileIndexHigh;
  made.index_low = information.nFileIndexLow;
  made_.push_back(std::move(made));
  return true;
}

bool PrivateFolder::Create(const std::vector<std::wstring>& roots, bool protect) {
  Remove();
  PrivateFolderDescriptor descriptor;
  if (protect && !descriptor.get()) {
    logging::LogText(logging::kERROR, kElevatedChildTag, __LINE__,
            "Cannot build the private folder's security descriptor.");
    return false;
  }
  SECURITY_ATTRIBUTES protected_attributes = {sizeof(protected_attributes), descriptor.get(),
                                              FALSE};
  SECURITY_ATTRIBUTES* attributes = protect ? &protected_attributes : nullptr;
  // The caller's roots are walked where they are, not copied.
  const std::vector<std::wstring> machine_wide =
      roots.empty() ? MachineWideRoots() : std::vector<std::wstring>();
  for (const std::wstring& root : roots.empty() ? machine_wide : roots) {
    for (int attempt = 0; attempt < kPrivateFolderAttempts; ++attempt) {
      const std::wstring path = platform::FilePath(root).Append(RandomFolderName()).value();
      if (!file_system_->CreateFolder(path, attributes)) {
        // A name somebody made first is left alone; any other failure refuses the root.
        if (GetLastError() == ERROR_ALREADY_EXISTS) continue;
        break;
      }
      // Only this process can have put anything here, or replaced it: the folder's DACL
      // lets nobody else in. Its identity is taken for the clean-up.
      platform::ScopedKernelHandle folder(file_system_->Open(
          path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT));
      if (!folder || !Record(folder.get(), path)) {
        logging::LogWithValue(logging::kERROR, kElevatedChildTag, __LINE__,
                     "Cannot open the private folder ", path);
        file_system_->DeleteAtReboot(path);
        return false;
      }
      path_ = path;
      protected_ = protect;
      return true;
    }
    logging::LogWithValue(logging::kERROR, kElevatedChildTag, __LINE__, "Cannot create a private folder in ",
                 root);
  }
  return false;
}

std::wstring PrivateFolder::CopyIn(const std::wstring& source, const wchar_t* name,
                                   uint64_t max_bytes) {
  if (path_.empty()) return std::wstring();
  // One open of the source: what is copied is what this handle reads, whatever the path
  // points at later. A reparse point is opened as itself and then refused. Nobody can write
  // the file while the handle is open.
  if (source_token_ && !SetThreadToken(nullptr, source_token_)) {
    logging::LogWithValue(logging::kERROR, kElevatedChildTag, __LINE__,
                 "Cannot take the master's rights to open ", source);
    return std::wstring();
  }
  platform::ScopedKernelHandle file(
      file_system_->Open(source, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                         FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN |
                             SECURITY_SQOS_PRESENT | SECURITY_ANONYMOUS));
  // Back to the own rights for the copy (in a folder only they reach). A revert that fails
  // leaves the thread with the user's rights, where every later step fails.
  if (source_token_) RevertToSelf();
  BY_HANDLE_FILE_INFORMATION information = {};
  if (!file || GetFileType(file.get()) != FILE_TYPE_DISK ||
      !GetFileInformationByHandle(file.get(), &information)) {
    logging::LogWithValue(logging::kERROR, kElevatedChildTag, __LINE__, "Cannot open ", source);
    return std::wstring();
  }
  if (information.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) {
    logging::LogWithValue(logging::kERROR, kElevatedChildTag, __LINE__, "No regular file: ", source);
    return std::wstring();
  }
  const uint64_t size =
      (static_cast<uint64_t>(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
  if (size > max_bytes) {
    LOG(ERROR, kElevatedChildTag) << "Larger than " << max_bytes << " bytes: " << source;
    return std::wstring();
  }
  const std::wstring copy_path = platform::FilePath(path_).Append(name).value();
  platform::ScopedKernelHandle copy(
      file_system_->Open(copy_path, GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL));
  const bool made = copy && Record(copy.get(), copy_path);
  if (!made || !CopyFromHandle(file.get(), copy.get(), max_bytes)) {
    LOG(ERROR, kElevatedChildTag) << "Cannot copy " << source << " to " << copy_path;
    copy.reset();
    if (made) {
      DeleteMade(made_.back(), false);
      made_.pop_back();
    }
    return std::wstring();
  }
  return copy_path;
}

bool PrivateFolder::DeleteMade(const Made& made, bool folder) {
  // Read-and-delete sharing lets a setup that still runs from the copy keep it; the delete
  // then fails and the next reboot takes it.
  platform::ScopedKernelHandle handle(file_system_->Open(
      made.path, DELETE | FILE_READ_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
      FILE_FLAG_OPEN_REPARSE_POINT | (folder ? FILE_FLAG_BACKUP_SEMANTICS : 0)));
  BY_HANDLE_FILE_INFORMATION information = {};
  if (!handle || !GetFileInformationByHandle(handle.get(), &information)) {
    // Already gone (nobody but administrators could take it): nothing is left to delete.
    return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND;
  }
  const bool same = information.dwVolumeSerialNumber == made.volume &&
                    information.nFileIndexHigh == made.index_high &&
                    information.nFileIndexLow == made.index_low &&
                    !(information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                    (folder || information.nNumberOfLinks == 1);
  if (!same) {
    logging::LogWithValue(logging::kERROR, kElevatedChildTag, __LINE__,
                 "Not the file this process made: ", made.path);
    return true;
  }
  return file_system_->DeleteThrough(handle.get(), made.path);
}

bool PrivateFolder::MakeProcessTemp() const {
  if (path_.empty()) return false;
  const std::wstring temp = path_ + L"\\";
  return temp.size() < MAX_PATH && SetEnvironmentVariableW(L"TMP", temp.c_str()) &&
         SetEnvironmentVariableW(L"TEMP", temp.c_str());
}

// Only administrators and the system can add, rename or replace an entry of a protected
// folder, so the names its listing gives are this run's own and cannot be swapped for links
// before they are opened. Only the folder's own entries are swept: a subfolder may carry a
// looser descriptor of its own (a setup's), and what lies deeper would be reached through
// names that others can replace. Each entry is opened as itself (a link is deleted as a link,
// never followed), made writable and deleted through that handle; what cannot go now is
// left for the next reboot.
void PrivateFolder::SweepLeftovers() {
  constexpr size_t kMaxSweptEntries = 4096;
  platform::FolderWalker walker(platform::FilePath(path_), false,
                                platform::FolderWalker::kFiles | platform::FolderWalker::kFolders);
  size_t swept = 0;
  for (platform::FilePath entry = walker.Next(); !entry.empty() && swept < kMaxSweptEntries;
       entry = walker.Next(), ++swept) {
    // The copies had their turn (and what is still in use, its reboot mark) already. The
    // listing names them as they were made (this folder's path and the name given).
    const bool made = std::any_of(made_.begin(), made_.end(),
                                  [&](const Made& item) { return item.path == entry.value(); });
    if (made) continue;
    platform::ScopedKernelHandle handle(file_system_->Open(
        entry.value(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
        FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS));
    if (!handle || !platform::ClearReadOnlyThroughHandle(handle.get()) ||
        !file_system_->DeleteThrough(handle.get(), entry.value())) {
      logging::LogWithValue(logging::kWARNING, kElevatedChildTag, __LINE__,
                   "Left for the next reboot: ", entry.value());
      file_system_->DeleteAtReboot(entry.value());
    }
  }
}

void PrivateFolder::Remove() {
  if (made_.empty()) return;
  // The copies first (newest first), then what else is in a protected folder, the folder
  // last.
  bool all_gone = true;
  for (size_t i = made_.size(); i-- > 0;) {
    const bool folder = i == 0;
    if (folder && protected_) SweepLeftovers();
    // A folder still holding something cannot go now; nor can it later if its copies stay.
    if ((folder && !all_gone) || !DeleteMade(made_[i], folder)) {
      all_gone = false;
      logging::LogWithValue(logging::kWARNING, kElevatedChildTag, __LINE__,
                   "Left for the next reboot: ", made_[i].path);
      file_system_->DeleteAtReboot(made_[i].path);
    }
  }
  made_.clear();
  path_.clear();
}

void WindowProgressProxy::SetRemainingTime(uint32_t seconds, int32_t kind) {
  PostMessageW(window_, kRemainingTimeMessage, static_cast<WPARAM>(seconds),
               static_cast<LPARAM>(kind));
}

void WindowProgressProxy::SetPercent(int32_t percent) {
  PostMessageW(window_, kSetPercentMessage, static_cast<WPARAM>(percent), 0);
}

void WindowProgressProxy::RemoveCancelButton() {
  // Asynchronous: the master's window thread may be busy for a minute (stopping its install
  // flow), and the setup must not wait for it.
  HWND button = GetDlgItem(window_, kCancelButtonId);
  if (button != nullptr) ShowWindowAsync(button, SW_HIDE);
}

uint32_t ParentProcessIdFrom(const CommandLine& command_line, bool* well_formed) {
  uint64_t value = 0;
  *well_formed =
      platform::StringToUint64(command_line.NarrowValue(switches::kParentInstallerProcessId),
                               &value);
  return static_cast<uint32_t>(value);
}

int RunElevatedChild(const CommandLine& command_line) {
  // E1, E2.
  const std::wstring setup_command_text = command_line.Value(switches::kSetupCmdLine);
  const DWORD parent_id = ReadParentProcessId(command_line);
  // The master's token opens the sources (below): a child with administrator rights reads
  // only what the user who handed them over could read.
  platform::ScopedKernelHandle parent(OpenProcess(
      SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_DUP_HANDLE, FALSE, parent_id));
  logging::LogText(logging::kINFO, kElevatedChildTag, 74, "Start installer as admin");

  // E3.
  CommandLine setup_command_line(setup_command_text);
  const DWORD wait_result =
      WaitForMasterRelease(command_line.NarrowValue(switches::kElevatedRunId), parent.get());
  if (wait_result != WAIT_OBJECT_0) {
    logging::LogWithValue(logging::kERROR, kElevatedChildTag, 93,
                          "Installer started as admin has been unexpectedly synced, wr=",
                          static_cast<unsigned long>(wait_result));
    return kExitElevatedFailure;
  }

  // E4 to E6.
  if (!ApplyMastersBlock(command_line, parent.get(), &setup_command_line)) {
    return kExitElevatedFailure;
  }
  int32_t exit_code = kExitElevatedFailure;
  bool success = false;
  {
    PrivateFolder folder(g_file_system_for_testing);
    platform::ScopedKernelHandle master_token;
    if (MasterImpersonationToken(parent.get(), &master_token)) {
      folder.ReadSourcesAs(master_token.get());
      success = RunSetupFromPrivateCopies(&setup_command_line, &folder, &exit_code);
    }
  }

  // E7. The exit code is the setup's own, so that the master reports what a direct run
  // would; -1 when no setup ran to its end. The report tells the master which of the two it
  // is (install/elevated_process.h), since a setup may end with -1 as well, and how many
  // lines this process could not log.
  logging::LogWithValue(logging::kINFO, kElevatedChildTag, 118,
                        "RunModule results: success=", success);
  WriteElevatedRunReport(success, static_cast<uint32_t>(exit_code), logging::DroppedLineCount());
  return success ? exit_code : kExitElevatedFailure;
}

void SetChildFileSystemForTesting(ChildFileSystem* file_system) {
  g_file_system_for_testing = file_system;
}

}  // namespace installer
