// Process entry of the installer.
#include <windows.h>

#include "startup/logging.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  wchar_t temp[MAX_PATH];
  DWORD length = GetTempPathW(MAX_PATH, temp);
  std::wstring folder = (length > 0 && length < MAX_PATH) ? std::wstring(temp, length) : L"";
  logging::InitLogging(folder + L"\\lite_installer.log");
  LOG_AT(INFO, "wWinMain", 131) << "-------------------------------------- Start install.";
  LOG(ERROR, "wWinMain") << "The entry flow is not built yet.";
  return 400;
}
