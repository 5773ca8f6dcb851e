#include "tests/support/dialog_driver.h"

#include <oleacc.h>

#include <cstdio>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace test_support {

namespace {

struct DialogSearch {
  DWORD process_id;
  HWND except;
  HWND found;
};

BOOL CALLBACK CheckWindow(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<DialogSearch*>(parameter);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search->process_id || window == search->except || !IsWindowVisible(window)) {
    return TRUE;
  }
  wchar_t class_name[16] = {};
  GetClassNameW(window, class_name, 16);
  if (std::wstring(class_name) != L"#32770") return TRUE;
  search->found = window;
  return FALSE;
}

// The idle probe: a message posted to the window's thread, seen there by a message hook, which
// starts a timer of that thread; the timer's procedure signals the waiting thread.
UINT IdleProbeMessage() {
  static const UINT message = RegisterWindowMessageW(L"li-test-idle-probe");
  return message;
}

std::mutex g_probes_lock;
std::map<UINT_PTR, HANDLE> g_probe_timers;  // timer id -> event, under the lock

void CALLBACK ProbeTimerFired(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  std::lock_guard<std::mutex> hold(g_probes_lock);
  auto probe = g_probe_timers.find(timer);
  if (probe == g_probe_timers.end()) return;
  SetEvent(probe->second);
  g_probe_timers.erase(probe);
}

LRESULT CALLBACK WatchForProbe(int code, WPARAM removed, LPARAM lparam) {
  const MSG* msg = reinterpret_cast<const MSG*>(lparam);
  if (code == HC_ACTION && removed == PM_REMOVE && msg->hwnd == nullptr &&
      msg->message == IdleProbeMessage()) {
    std::lock_guard<std::mutex> hold(g_probes_lock);
    const UINT_PTR timer = SetTimer(nullptr, 0, USER_TIMER_MINIMUM, &ProbeTimerFired);
    if (timer != 0) g_probe_timers[timer] = reinterpret_cast<HANDLE>(msg->lParam);
  }
  return CallNextHookEx(nullptr, code, removed, lparam);
}

}  // namespace

bool WaitUntil(const std::function<bool()>& condition, uint32_t timeout_ms) {
  DWORD start = GetTickCount();
  for (;;) {
    if (condition()) return true;
    if (GetTickCount() - start >= timeout_ms) return false;
    Sleep(20);
  }
}

HWND FindVisibleDialog(DWORD process_id, HWND except) {
  DialogSearch search = {process_id, except, nullptr};
  EnumWindows(CheckWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND WaitForVisibleDialog(DWORD process_id, uint32_t timeout_ms, HWND except) {
  HWND found = nullptr;
  WaitUntil([&] { return (found = FindVisibleDialog(process_id, except)) != nullptr; },
            timeout_ms);
  return found;
}

std::wstring ControlText(HWND dialog, int id) {
  HWND control = GetDlgItem(dialog, id);
  if (control == nullptr) return std::wstring();
  wchar_t text[1024] = {};
  GetWindowTextW(control, text, 1024);
  return text;
}

bool ControlVisible(HWND dialog, int id) {
  HWND control = GetDlgItem(dialog, id);
  return control != nullptr && IsWindowVisible(control);
}

RECT ControlRect(HWND dialog, int id) {
  RECT rect = {};
  HWND control = GetDlgItem(dialog, id);
  if (control == nullptr || !GetWindowRect(control, &rect)) return RECT{};
  MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

bool ClickButton(HWND dialog, int id) {
  HWND button = GetDlgItem(dialog, id);
  if (button == nullptr) return false;
  SendMessageW(button, BM_CLICK, 0, 0);
  return true;
}

void SendCommand(HWND dialog, int id) {
  SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

INT_PTR DriveDialog(const std::function<INT_PTR()>& run_dialog,
                    const std::function<HWND()>& window_of,
                    const std::function<void(HWND)>& script) {
  std::thread driver([&] {
    HWND window = nullptr;
    if (!WaitUntil([&] { return (window = window_of()) != nullptr && IsWindowVisible(window); },
                   30000)) {
      return;
    }
    script(window);
    // Nothing may be left waiting for a user: close what the script left open.
    if (IsWindow(window)) PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
  });
  INT_PTR result = run_dialog();
  driver.join();
  return result;
}

bool WaitForIdle(HWND window, uint32_t timeout_ms) {
  const DWORD thread = GetWindowThreadProcessId(window, nullptr);
  if (thread == 0) return false;
  HANDLE idle = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HHOOK hook = SetWindowsHookExW(WH_GETMESSAGE, &WatchForProbe, nullptr, thread);
  bool reached = false;
  if (idle != nullptr && hook != nullptr &&
      PostThreadMessageW(thread, IdleProbeMessage(), 0, reinterpret_cast<LPARAM>(idle))) {
    reached = WaitForSingleObject(idle, timeout_ms) == WAIT_OBJECT_0;
  }
  if (hook != nullptr) UnhookWindowsHookEx(hook);
  {
    // A probe that never fired must not signal a closed event later.
    std::lock_guard<std::mutex> hold(g_probes_lock);
    for (auto probe = g_probe_timers.begin(); probe != g_probe_timers.end();) {
      probe = probe->second == idle ? g_probe_timers.erase(probe) : std::next(probe);
    }
  }
  if (idle != nullptr) CloseHandle(idle);
  return reached;
}

bool WaitForInput(HWND window, HWND focus, uint32_t timeout_ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (GetForegroundWindow() != window) SetForegroundWindow(window);
    const DWORD spent = GetTickCount() - start;
    if (spent >= timeout_ms) break;
    // Idle after the window came to the front: the activation and the focus it brings have
    // been handled, and nothing queued before is still to come.
    if (WaitForIdle(window, timeout_ms - spent) && GetForegroundWindow() == window &&
        (focus == nullptr || FocusedControl(window) == focus)) {
      return true;
    }
    Sleep(20);
  }
  fprintf(stderr, "dialog_driver: window %p not ready for input: foreground %p, focus %p\n",
          static_cast<void*>(window), static_cast<void*>(GetForegroundWindow()),
          static_cast<void*>(FocusedControl(window)));
  return false;
}

bool PressKeys(HWND window, std::initializer_list<WORD> keys, int repeats) {
  if (!WaitForInput(window, nullptr)) return false;
  std::vector<INPUT> inputs;
  auto add = [&](WORD key, DWORD flags) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.dwFlags = flags;
    inputs.push_back(input);
  };
  for (WORD key : keys) add(key, 0);
  for (int i = 0; i < repeats; ++i) add(*(keys.end() - 1), 0);
  for (auto key = keys.end(); key != keys.begin();) add(*--key, KEYEVENTF_KEYUP);
  return SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT)) == inputs.size();
}

HWND FocusedControl(HWND dialog) {
  GUITHREADINFO info = {sizeof(info)};
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

std::wstring AccessibleName(HWND dialog, int id) {
  IAccessible* accessible = nullptr;
  if (FAILED(AccessibleObjectFromWindow(GetDlgItem(dialog, id), static_cast<DWORD>(OBJID_CLIENT),
                                        __uuidof(IAccessible),
                                        reinterpret_cast<void**>(&accessible)))) {
    return L"<no accessible object>";
  }
  VARIANT self;
  VariantInit(&self);
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  BSTR name = nullptr;
  std::wstring result;
  if (SUCCEEDED(accessible->get_accName(self, &name)) && name != nullptr) {
    result.assign(name, SysStringLen(name));
    SysFreeString(name);
  }
  accessible->Release();
  return result;
}

}  // namespace test_support
