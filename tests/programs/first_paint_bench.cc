// Benchmark program: the time from process start until a program's first window is on the
// screen and painted (visible, no update region left), for the installer and for a minimal
// Win32 program that opens one window of the same size (this program itself, started with
// "--minimal-window"), alternating, `runs` starts each; prints every run and the medians.
//   first_paint_bench.exe <installer.exe> [runs] [installer arguments...]
// The window is polled every 2 ms from the moment CreateProcess is called; each program is
// ended (TerminateProcess) once its window is painted. This program uses nothing of the
// installer's code, so as the minimal program it loads only what any window needs.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 728;
constexpr int kHeight = 400;
constexpr double kGiveUpMs = 30000;

LRESULT CALLBACK MinimalWindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_PAINT) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(hwnd, &paint);
    FillRect(dc, &paint.rcPaint, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    EndPaint(hwnd, &paint);
    return 0;
  }
  if (message == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

int RunMinimalWindow() {
  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = MinimalWindowProc;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"FirstPaintBenchMinimal";
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  RegisterClassW(&window_class);
  HWND hwnd = CreateWindowExW(0, window_class.lpszClassName, L"Minimal", WS_POPUP,
                              (GetSystemMetrics(SM_CXSCREEN) - kWidth) / 2,
                              (GetSystemMetrics(SM_CYSCREEN) - kHeight) / 2, kWidth, kHeight,
                              nullptr, nullptr, window_class.hInstance, nullptr);
  ShowWindow(hwnd, SW_SHOW);
  UpdateWindow(hwnd);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  return 0;
}

struct Search {
  DWORD process_id;
  HWND found;
};

BOOL CALLBACK FindPaintedWindow(HWND hwnd, LPARAM lparam) {
  auto* search = reinterpret_cast<Search*>(lparam);
  DWORD owner = 0;
  GetWindowThreadProcessId(hwnd, &owner);
  RECT rect;
  if (owner != search->process_id || !IsWindowVisible(hwnd) || !GetWindowRect(hwnd, &rect) ||
      rect.right - rect.left < kWidth || rect.bottom - rect.top < kHeight ||
      GetUpdateRect(hwnd, nullptr, FALSE)) {
    return TRUE;
  }
  search->found = hwnd;
  return FALSE;
}

double NowMs() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER value;
    QueryPerformanceFrequency(&value);
    return value;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Milliseconds from CreateProcess to the painted window; negative when none came.
double TimeToPaint(const std::wstring& command_line) {
  std::wstring mutable_line = command_line;
  STARTUPINFOW startup = {sizeof(startup)};
  PROCESS_INFORMATION info = {};
  double start = NowMs();
  if (!CreateProcessW(nullptr, &mutable_line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info)) {
    std::fprintf(stderr, "cannot start %ls (error %lu)\n", command_line.c_str(), GetLastError());
    return -1;
  }
  CloseHandle(info.hThread);
  double elapsed = -1;
  for (;;) {
    Search search = {info.dwProcessId, nullptr};
    EnumWindows(FindPaintedWindow, reinterpret_cast<LPARAM>(&search));
    double now = NowMs();
    if (search.found != nullptr) {
      elapsed = now - start;
      break;
    }
    if (now - start > kGiveUpMs || WaitForSingleObject(info.hProcess, 2) == WAIT_OBJECT_0) break;
  }
  TerminateProcess(info.hProcess, 0);
  WaitForSingleObject(info.hProcess, 10000);
  CloseHandle(info.hProcess);
  return elapsed;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc >= 2 && std::wstring(argv[1]) == L"--minimal-window") return RunMinimalWindow();
  if (argc < 2) {
    std::fprintf(stderr, "usage: first_paint_bench.exe <installer.exe> [runs] [arguments...]\n");
    return 2;
  }
  int runs = argc >= 3 ? std::max(1, _wtoi(argv[2])) : 7;
  std::wstring installer = L"\"" + std::wstring(argv[1]) + L"\"";
  for (int i = 3; i < argc; ++i) installer += L" " + std::wstring(argv[i]);
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring minimal = L"\"" + std::wstring(self) + L"\" --minimal-window";

  std::vector<double> installer_ms, minimal_ms;
  for (int run = 0; run < runs; ++run) {
    double a = TimeToPaint(minimal);
    double b = TimeToPaint(installer);
    if (a < 0 || b < 0) {
      std::fprintf(stderr, "run %d: a window never painted (minimal %.1f, installer %.1f)\n",
                   run + 1, a, b);
      return 1;
    }
    std::printf("run %d: minimal %.1f ms, installer %.1f ms\n", run + 1, a, b);
    minimal_ms.push_back(a);
    installer_ms.push_back(b);
  }
  double minimal_median = Median(minimal_ms);
  double installer_median = Median(installer_ms);
  std::printf("median: minimal %.1f ms, installer %.1f ms, ratio %.2f\n", minimal_median,
              installer_median, installer_median / minimal_median);
  return 0;
}
