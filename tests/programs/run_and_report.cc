// Starts a command line, waits for it and prints its exit code as a signed 32-bit decimal
// number (the exit status Wine hands back to the Unix shell keeps only 8 bits).
//   run_and_report.exe [--temp=<folder>] <program> [arguments...]
// With --temp the program gets TMP and TEMP pointing at that folder. Prints
// "exit code: <n>" and ends with the low 8 bits of it; 2 when the program cannot start.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "platform/command_line.h"

int wmain() {
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
  if (argv == nullptr) return 2;
  int first = 1;
  std::wstring prefix = L"--temp=";
  if (first < count && std::wstring(argv[first]).rfind(prefix, 0) == 0) {
    std::wstring folder = std::wstring(argv[first]).substr(prefix.size());
    SetEnvironmentVariableW(L"TMP", folder.c_str());
    SetEnvironmentVariableW(L"TEMP", folder.c_str());
    ++first;
  }
  if (first >= count) {
    fwprintf(stderr, L"usage: run_and_report.exe [--temp=<folder>] <program> [arguments...]\n");
    LocalFree(argv);
    return 2;
  }
  std::wstring command_line;
  for (int i = first; i < count; ++i) {
    if (!command_line.empty()) command_line += L' ';
    command_line += installer::QuoteCommandLineArgument(argv[i]);
  }
  LocalFree(argv);

  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &info)) {
    fwprintf(stderr, L"cannot start: %ls (error %lu)\n", command_line.c_str(), GetLastError());
    return 2;
  }
  CloseHandle(info.hThread);
  WaitForSingleObject(info.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(info.hProcess, &code);
  CloseHandle(info.hProcess);
  printf("exit code: %ld\n", static_cast<long>(static_cast<int32_t>(code)));
  fflush(stdout);
  return static_cast<int>(code & 0xFF);
}
