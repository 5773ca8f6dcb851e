// Runs the DLL-search hardening as on a system without SetDefaultDllDirectories, for the
// tests of the private-folder relaunch.
//   secure_env_probe.exe [--exit-code=<n>] [--report=<file>] [--plant-dll]
//                        [--spawned_in_protected_dir]
// With --report the copy started in the private folder appends its own path and command
// line (one line each, UTF-16) to the file. With --plant-dll that copy first puts a file
// "planted.dll" next to itself. Then the check runs; the probe ends as the installer's entry
// would: outcomes 0 and 4 with the check's exit code, 3 with -200, 1 with 1001, and 2 with
// the --exit-code value (0 by default).
#include <windows.h>

#include <string>

#include "entry/secure_environment.h"
#include "platform/command_line.h"
#include "platform/file_path.h"
#include "platform/strings.h"
#include "platform/switches.h"

namespace {

class SystemWithoutSafeSearch : public installer::SecureEnvironmentSystem {
 public:
  bool EnableSafeDllSearch() override {
    SetDllDirectoryW(L"");
    return false;
  }
};

void AppendLine(const std::wstring& path, const std::wstring& line) {
  HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  std::wstring text = line + L"\n";
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size() * 2), &written, nullptr);
  CloseHandle(file);
}

}  // namespace

int wmain() {
  const installer::CommandLine& command_line = installer::ProcessCommandLine();
  SystemWithoutSafeSearch system;
  platform::FilePath self = system.ExecutablePath();
  if (command_line.Has(installer::switches::kSpawnedInProtectedDir)) {
    if (command_line.Has("report")) {
      AppendLine(command_line.Value("report"), self.value());
      AppendLine(command_line.Value("report"), GetCommandLineW());
    }
    if (command_line.Has("plant-dll")) {
      std::wstring dll = self.DirName().Append(L"planted.dll").value();
      HANDLE file = CreateFileW(dll.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    }
  }
  int exit_code = 0;
  switch (installer::CheckSecureEnvironment(&system, &exit_code)) {
    case installer::kEnvironmentCopyRefused:
    case installer::kEnvironmentCopyFinished:
      return exit_code;
    case installer::kEnvironmentDllsFound:
      return installer::kInsecureEnvironmentExitCode;
    case installer::kEnvironmentNotSecured:
      return 1001;
    default: {
      uint64_t code = 0;
      platform::StringToUint64(command_line.Value("exit-code"), &code);
      return static_cast<int>(code);
    }
  }
}
