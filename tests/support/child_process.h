// Starting Windows programs from tests, with their own temporary folder, and reading the
// log that such a program wrote.
#ifndef TESTS_SUPPORT_CHILD_PROCESS_H_
#define TESTS_SUPPORT_CHILD_PROCESS_H_

#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/scoped_handle.h"

namespace test_support {

// One started program. Terminated (exit code 1) if it still runs at destruction.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts `command_line` (program first). With a non-empty `temp_dir` the program's TMP
  // and TEMP point there, so GetTempPathW (and the installer's log) use that folder; an
  // empty log is made there when there is none.
  bool Start(const std::wstring& command_line, const std::wstring& temp_dir = std::wstring());
  // Waits up to `timeout_ms`; true with the full 32-bit exit code when the program ended.
  bool Wait(uint32_t timeout_ms, int32_t* exit_code);
  void Terminate();

  HANDLE handle() const { return process_.get(); }
  DWORD id() const { return id_; }

 private:
  platform::ScopedKernelHandle process_;
  DWORD id_ = 0;
};

// Load orders that Wine gives DLLs in every process started from a program file named
// `program_name` (HKCU\Software\Wine\AppDefaults\<name>\DllOverrides), until destruction:
// "n,b" takes a DLL lying beside the program first, as Windows' search order would; "" makes
// a DLL impossible to load. Wine reads them as a process starts; a Windows process cannot
// hand its own WINEDLLOVERRIDES to the processes it starts. Give the program a name of its
// own, so that no other test's process is affected.
class ScopedWineDllOverrides {
 public:
  ScopedWineDllOverrides(const std::wstring& program_name,
                         const std::vector<std::pair<std::wstring, std::wstring>>& orders);
  ~ScopedWineDllOverrides();
  ScopedWineDllOverrides(const ScopedWineDllOverrides&) = delete;
  ScopedWineDllOverrides& operator=(const ScopedWineDllOverrides&) = delete;

  bool ok() const { return ok_; }

 private:
  std::wstring key_;
  bool ok_ = false;
};

// Start, wait up to `timeout_ms`, and the exit code; false when it did not start or end.
bool RunProgram(const std::wstring& command_line, const std::wstring& temp_dir,
                uint32_t timeout_ms, int32_t* exit_code);

// A built test program, e.g. TestProgram(L"fake_elevated_child.exe").
std::wstring TestProgram(const std::wstring& name);

// The lines of a UTF-16LE log file (byte-order mark dropped, split at line feeds, a final
// empty piece dropped). Empty when the file cannot be read.
std::vector<std::wstring> ReadUtf16Lines(const std::wstring& path);
// How many of `lines` contain `fragment`.
int CountContaining(const std::vector<std::wstring>& lines, const std::wstring& fragment);

// For fixtures whose installer processes log into the fixture's temporary folder
// (lite_installer.log there), read afresh on every call.
class InstallerLogReader {
 protected:
  virtual ~InstallerLogReader() = default;
  virtual std::wstring LogFolder() const = 0;

  std::vector<std::wstring> Log() const;
  int Count(const std::wstring& fragment) const;
  // The whole log, narrowed, for failure messages.
  std::string LogText() const;
};

}  // namespace test_support

#endif  // TESTS_SUPPORT_CHILD_PROCESS_H_
