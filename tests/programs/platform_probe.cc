// A child process for the platform tests. The first argument picks what it does:
//   exit <code>           ends with that exit code
//   sleep <ms>            sleeps, then ends with 0
//   print <text>          writes the text to its standard output, ends with 0
//   signal <hex handle>   sets the (inherited) event with that handle value: 0 when that
//                         worked, 1 when the handle is not valid here
//   env <name>            0 when the environment variable exists, 1 when not
//   window <title> <ms>   shows a top-level window with that title for that long, ends with 0
//   fatal                 calls platform::FatalStop
// Anything else ends with 99.
#include <windows.h>

#include <cstdint>
#include <string>

#include "platform/fatal.h"
#include "platform/strings.h"

namespace {

uint64_t Number(const wchar_t* text) {
  uint64_t value = 0;
  platform::StringToUint64(std::wstring_view(text), &value);
  return value;
}

uint64_t HexNumber(const wchar_t* text) {
  uint64_t value = 0;
  for (; *text; ++text) {
    wchar_t c = *text;
    unsigned digit = c >= L'0' && c <= L'9'   ? c - L'0'
                     : c >= L'a' && c <= L'f' ? c - L'a' + 10
                     : c >= L'A' && c <= L'F' ? c - L'A' + 10
                                              : 16;
    if (digit == 16) break;
    value = value * 16 + digit;
  }
  return value;
}

int ShowWindowFor(const wchar_t* title, DWORD duration_ms) {
  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = DefWindowProcW;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"PlatformProbeWindow";
  RegisterClassW(&window_class);
  HWND window = CreateWindowExW(0, window_class.lpszClassName, title, WS_OVERLAPPEDWINDOW, 10, 10,
                                200, 100, nullptr, nullptr, window_class.hInstance, nullptr);
  if (!window) return 2;
  ShowWindow(window, SW_SHOWNORMAL);
  DWORD end = GetTickCount() + duration_ms;
  MSG message;
  while (static_cast<int32_t>(end - GetTickCount()) > 0) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  DestroyWindow(window);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 99;
  std::wstring mode = argv[1];
  if (mode == L"exit" && argc >= 3) return static_cast<int>(static_cast<uint32_t>(Number(argv[2])));
  if (mode == L"sleep" && argc >= 3) {
    Sleep(static_cast<DWORD>(Number(argv[2])));
    return 0;
  }
  if (mode == L"print" && argc >= 3) {
    std::string text = platform::Narrow(argv[2]);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()),
              &written, nullptr);
    return written == text.size() ? 0 : 1;
  }
  if (mode == L"signal" && argc >= 3) {
    HANDLE event = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(HexNumber(argv[2])));
    return SetEvent(event) ? 0 : 1;
  }
  if (mode == L"env" && argc >= 3) {
    wchar_t value[16];
    return GetEnvironmentVariableW(argv[2], value, 16) > 0 ? 0 : 1;
  }
  if (mode == L"window" && argc >= 4) {
    return ShowWindowFor(argv[2], static_cast<DWORD>(Number(argv[3])));
  }
  if (mode == L"fatal") platform::FatalStop("probe asked for it");
  return 99;
}
