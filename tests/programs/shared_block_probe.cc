// Reads and writes the installer's shared sections from a separate image, for the test that
// two processes of one image see the same bytes.
//   shared_block_probe.exe --write --pid=<n> --ready=<event> --hold=<event>
//     writes an elevated run report (a setup that ran, exit code 7) and the master process
//     id, sets the ready event, and stays until the hold event is set (60 s at most).
//   shared_block_probe.exe --read --out=<file>
//     writes "<exit code>|<setup ran>|<reporting process id>|<master process id>" as UTF-16
//     to the file.
// Ends with 0, or 3 when something fails.
#include <windows.h>

#include <string>

#include "platform/command_line.h"
#include "platform/shared_sections.h"
#include "platform/strings.h"

int wmain() {
  const installer::CommandLine& command_line = installer::ProcessCommandLine();
  if (command_line.Has("write")) {
    installer::WriteElevatedRunReport(true, 7, 0);
    uint64_t pid = 0;
    platform::StringToUint64(command_line.Value("pid"), &pid);
    installer::SetMasterProcessId(static_cast<uint32_t>(pid));
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, command_line.NarrowValue("ready").c_str());
    HANDLE hold = OpenEventA(SYNCHRONIZE, FALSE, command_line.NarrowValue("hold").c_str());
    if (ready == nullptr || hold == nullptr) return 3;
    SetEvent(ready);
    WaitForSingleObject(hold, 60000);
    return 0;
  }
  if (command_line.Has("read")) {
    const installer::ElevatedRunReport report = installer::ReadElevatedRunReport();
    std::wstring text = platform::ToWString(report.setup_exit_code) + L"|" +
                        platform::ToWString(report.setup_ran) + L"|" +
                        platform::ToWString(report.child_process_id) + L"|" +
                        platform::ToWString(installer::MasterProcessId());
    HANDLE file = CreateFileW(command_line.Value("out").c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 3;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size() * 2), &written, nullptr);
    CloseHandle(file);
    return 0;
  }
  return 3;
}
