#include "entry/secure_environment.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "install/elevated_child.h"
#include "platform/command_line.h"
#include "platform/file_util.h"
#include "platform/process.h"
#include "platform/switches.h"
#include "platform/system_library.h"
#include "platform/user_rights.h"

namespace installer {

namespace {

// SetSearchPathMode: BASE_SEARCH_PATH_ENABLE_SAFE_SEARCHMODE | BASE_SEARCH_PATH_PERMANENT.
constexpr DWORD kSafeSearchPathMode = 0x8001;
// SetDefaultDllDirectories: LOAD_LIBRARY_SEARCH_SYSTEM32.
constexpr DWORD kSystemFolderOnly = 0x800;

using SetSearchPathModeFunction = BOOL(WINAPI*)(DWORD);
using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);

// Only a search that found nothing clears the folder: one that failed for another reason
// (a folder that cannot be read, a name too long) counts as a DLL found, and the process
// refuses to run there (-200).
bool HasDllNextTo(const platform::FilePath& executable) {
  platform::FolderWalker walker(executable.DirName(), false, platform::FolderWalker::kFiles,
                                L"*.dll");
  return !walker.Next().empty() || walker.failed();
}

// The largest executable the private-folder copy takes.
constexpr uint64_t kMaxExecutableBytes = 64u << 20;

// The folder the private-folder copy runs from: the user's temporary folder when this
// process has no more rights than the user, else the elevated child's kind of folder in a
// machine-wide place (what the user can write, a copy with more rights must never run
// from). Either way the folder has a fresh random name and the clean-up deletes only the
// copy and the folder, each through a handle checked to be what this process made.
int RelaunchFromPrivateFolder(const platform::FilePath& executable,
                              const CommandLine& command_line, int* exit_code) {
  if (executable.empty()) return kEnvironmentNotSecured;
  const bool more_rights = RunsWithMoreRightsThanFolderUser();
  std::vector<std::wstring> roots;
  if (!more_rights) {
    platform::FilePath temp;
    if (!platform::TempFolder(&temp)) return kEnvironmentNotSecured;
    roots.push_back(temp.value());
  }
  PrivateFolder folder;
  if (!folder.Create(roots, more_rights)) return kEnvironmentNotSecured;
  const std::wstring copy =
      folder.CopyIn(executable.value(), executable.BaseName().value().c_str(), kMaxExecutableBytes);
  if (copy.empty()) return kEnvironmentNotSecured;
  int outcome = kEnvironmentNotSecured;
  CommandLine copy_command_line(command_line);
  copy_command_line.SetProgramPath(copy);
  copy_command_line.Put(switches::kSpawnedInProtectedDir);
  platform::ProcessHandle process =
      platform::StartProcess(copy_command_line.Print(), platform::StartOptions());
  if (process.IsOpen()) {
    uint32_t code = 0;
    if (process.WaitExit(&code)) {
      *exit_code = static_cast<int>(code);
      outcome = *exit_code == kInsecureEnvironmentExitCode ? kEnvironmentCopyRefused
                                                           : kEnvironmentCopyFinished;
    } else {
      // Nothing is known about the copy, and an exit code of 0 would pass for a
      // successful installation: refuse as if it had found DLL files.
      *exit_code = kInsecureEnvironmentExitCode;
      outcome = kEnvironmentCopyRefused;
    }
    process.Close();
  }
  // What cannot go now (a folder something else was put in, a copy still in use) is left
  // for the next reboot.
  folder.Remove();
  return outcome;
}

}  // namespace

bool SecureEnvironmentSystem::EnableSafeDllSearch() {
  SetDllDirectoryW(L"");
  auto set_search_path_mode = reinterpret_cast<SetSearchPathModeFunction>(
      platform::KernelFunction("SetSearchPathMode"));
  auto set_default_dll_directories = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
      platform::KernelFunction("SetDefaultDllDirectories"));
  if (set_search_path_mode == nullptr || set_default_dll_directories == nullptr) return false;
  set_search_path_mode(kSafeSearchPathMode);
  set_default_dll_directories(kSystemFolderOnly);
  return true;
}

platform::FilePath SecureEnvironmentSystem::ExecutablePath() {
  return platform::OwnExecutablePath();
}

const CommandLine& SecureEnvironmentSystem::GetCommandLine() { return ProcessCommandLine(); }

int CheckSecureEnvironment(int* exit_code) {
  SecureEnvironmentSystem system;
  return CheckSecureEnvironment(&system, exit_code);
}

int CheckSecureEnvironment(SecureEnvironmentSystem* system, int* exit_code) {
  *exit_code = 0;
  if (system->EnableSafeDllSearch()) return kEnvironmentSecure;
  platform::FilePath executable = system->ExecutablePath();
  const CommandLine& command_line = system->GetCommandLine();
  if (command_line.Has(switches::kRunAsAdmin) ||
      command_line.Has(switches::kSpawnedInProtectedDir)) {
    if (executable.empty()) {
      // The elevated child would run with administrator rights beside DLLs it cannot look
      // for: it refuses as if it had found them. The private-folder copy has only the user's
      // rights and goes on, as the master does.
      if (!command_line.Has(switches::kRunAsAdmin)) return kEnvironmentNotSecured;
      *exit_code = kInsecureEnvironmentExitCode;
      return kEnvironmentCopyRefused;
    }
    return HasDllNextTo(executable) ? kEnvironmentDllsFound : kEnvironmentSecure;
  }
  return RelaunchFromPrivateFolder(executable, command_line, exit_code);
}

}  // namespace installer
