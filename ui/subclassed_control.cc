#include "ui/subclassed_control.h"

#include <commctrl.h>

namespace lite_installer {

SubclassedControl::~SubclassedControl() { Detach(); }

bool SubclassedControl::Attach(HWND control) {
  Detach();
  if (control == nullptr) return false;
  if (!SetWindowSubclass(control, &SubclassedControl::SubclassProc,
                         reinterpret_cast<UINT_PTR>(this), reinterpret_cast<DWORD_PTR>(this))) {
    return false;
  }
  hwnd_ = control;
  return true;
}

void SubclassedControl::Detach() {
  if (hwnd_ == nullptr) return;
  RemoveWindowSubclass(hwnd_, &SubclassedControl::SubclassProc,
                       reinterpret_cast<UINT_PTR>(this));
  hwnd_ = nullptr;
}

int SubclassedControl::id() const { return hwnd_ != nullptr ? GetDlgCtrlID(hwnd_) : 0; }

LRESULT SubclassedControl::WindowProc(UINT message, WPARAM wparam, LPARAM lparam) {
  return CallOriginal(message, wparam, lparam);
}

LRESULT SubclassedControl::CallOriginal(UINT message, WPARAM wparam, LPARAM lparam) {
  return DefSubclassProc(hwnd_, message, wparam, lparam);
}

bool SubclassedControl::HandlePaintMessages(UINT message, WPARAM wparam, LRESULT* result) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd_, &ps);
      if (dc != nullptr) Paint(dc);
      EndPaint(hwnd_, &ps);
      *result = 0;
      return true;
    }
    case WM_PRINTCLIENT:
      Paint(reinterpret_cast<HDC>(wparam));
      *result = 0;
      return true;
    case WM_ERASEBKGND:
      *result = 1;
      return true;
    default:
      return false;
  }
}

void SubclassedControl::Invalidate() const {
  // A null window would have the whole desktop painted again.
  if (hwnd_ != nullptr) InvalidateRect(hwnd_, nullptr, FALSE);
}

LRESULT CALLBACK SubclassedControl::SubclassProc(HWND hwnd, UINT message, WPARAM wparam,
                                                 LPARAM lparam, UINT_PTR, DWORD_PTR ref_data) {
  auto* self = reinterpret_cast<SubclassedControl*>(ref_data);
  if (message == WM_NCDESTROY) {
    // The control goes first: hand the message on, then forget the control so the wrapper
    // never touches a dead handle.
    RemoveWindowSubclass(hwnd, &SubclassedControl::SubclassProc,
                         reinterpret_cast<UINT_PTR>(self));
    self->hwnd_ = nullptr;
    return DefSubclassProc(hwnd, message, wparam, lparam);
  }
  return self->WindowProc(message, wparam, lparam);
}

}  // namespace lite_installer
