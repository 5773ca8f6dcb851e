#include "tests/support/dialog_driver.h"

#include <oleacc.h>

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

bool PressKey(WORD key) { return PressKeys({key}); }

bool PressKeys(std::initializer_list<WORD> keys, int repeats) {
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
