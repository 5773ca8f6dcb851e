// A DLL that reports itself: planted next to a copy of the installer under the name of a
// system DLL, it writes "<its own path>.ran" (holding the path of the program that loaded
// it) the moment a process maps it.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t path[MAX_PATH + 8];
  DWORD length = GetModuleFileNameW(instance, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return TRUE;
  lstrcpyW(path + length, L".ran");
  HANDLE report = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (report == INVALID_HANDLE_VALUE) return TRUE;
  wchar_t host[MAX_PATH];
  DWORD host_length = GetModuleFileNameW(nullptr, host, MAX_PATH);
  DWORD written = 0;
  WriteFile(report, host, host_length * sizeof(wchar_t), &written, nullptr);
  CloseHandle(report);
  return TRUE;
}
