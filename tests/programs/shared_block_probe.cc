// Reads and writes the installer's shared sections from a separate image, for the test that
// two processes of one image see the same bytes.
//   shared_block_probe.exe --write=<archive path> --pid=<n> --ready=<event> --hold=<event>
//     writes the delayed parameter block (archive path, send_statistics on) and the master
//     process id, sets the ready event, and stays until the hold event is set (60 s at most).
//   shared_block_probe.exe --read --out=<file>
//     writes "<archive path>|<send_statistics>|<make_default>|<master process id>" as UTF-16
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
    installer::DelayedParams params;
    params.browser_arc_path = command_line.Value("write");
    params.send_statistics = true;
    if (!installer::WriteDelayedParams(params)) return 3;
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
    installer::DelayedParams params = installer::ReadDelayedParams();
    std::wstring text = params.browser_arc_path + L"|" +
                        (params.send_statistics ? L"1" : L"0") + L"|" +
                        (params.make_default ? L"1" : L"0") + L"|" +
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
