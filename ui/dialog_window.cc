#include "ui/dialog_window.h"

#include "platform/logging.h"

namespace lite_installer {
namespace {

// The axis position of a window of `size` centred in [anchor_low, anchor_high) and then
// moved inside [area_low, area_high); the low edge wins when the window is too large.
LONG CenterAxis(LONG size, LONG anchor_low, LONG anchor_high, LONG area_low, LONG area_high) {
  LONG position = anchor_low + ((anchor_high - anchor_low) - size) / 2;
  if (position + size > area_high) position = area_high - size;
  if (position < area_low) position = area_low;
  return position;
}

bool WorkAreaOf(HMONITOR monitor, RECT* work_area) {
  MONITORINFO info = {};
  info.cbSize = sizeof(info);
  if (monitor == nullptr || !GetMonitorInfoW(monitor, &info)) return false;
  *work_area = info.rcWork;
  return true;
}

}  // namespace

RECT CenterRectInArea(SIZE window_size, const RECT& anchor, const RECT& work_area) {
  const LONG x = CenterAxis(window_size.cx, anchor.left, anchor.right, work_area.left,
                            work_area.right);
  const LONG y = CenterAxis(window_size.cy, anchor.top, anchor.bottom, work_area.top,
                            work_area.bottom);
  return RECT{x, y, x + window_size.cx, y + window_size.cy};
}

bool CenterWindow(HWND window, HWND owner) {
  RECT window_rect;
  if (window == nullptr || !GetWindowRect(window, &window_rect)) return false;
  RECT anchor;
  RECT work_area;
  if (owner != nullptr && GetWindowRect(owner, &anchor)) {
    if (!WorkAreaOf(MonitorFromRect(&anchor, MONITOR_DEFAULTTONEAREST), &work_area)) {
      return false;
    }
  } else {
    if (!WorkAreaOf(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &work_area)) {
      return false;
    }
    anchor = work_area;
  }
  const SIZE size = {window_rect.right - window_rect.left, window_rect.bottom - window_rect.top};
  const RECT placed = CenterRectInArea(size, anchor, work_area);
  return SetWindowPos(window, nullptr, placed.left, placed.top, 0, 0,
                      SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE) != FALSE;
}

DialogWindow::DialogWindow(int template_id) : template_id_(template_id) {}

DialogWindow::~DialogWindow() = default;

INT_PTR DialogWindow::DoModal(HWND owner) {
  owner_ = owner != nullptr ? owner : GetActiveWindow();
  const INT_PTR result =
      DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(template_id_), owner_,
                      &DialogWindow::DialogProc, reinterpret_cast<LPARAM>(this));
  if (result == -1) {
    logging::LogWithValue(logging::kERROR, "DoModal", __LINE__,
                          "Failed to create the dialog ", template_id_);
  }
  return result;
}

INT_PTR DialogWindow::DoModalIndirectForTesting(const DLGTEMPLATE* dialog_template,
                                                HWND owner) {
  owner_ = owner != nullptr ? owner : GetActiveWindow();
  const INT_PTR result =
      DialogBoxIndirectParamW(GetModuleHandleW(nullptr), dialog_template, owner_,
                              &DialogWindow::DialogProc, reinterpret_cast<LPARAM>(this));
  if (result == -1) {
    logging::LogText(logging::kERROR, "DoModal", __LINE__,
                     "Failed to create the dialog from a template in memory");
  }
  return result;
}

void DialogWindow::EndDialog(INT_PTR result) {
  if (hwnd_ == nullptr || ending_) return;
  ending_ = true;
  ::EndDialog(hwnd_, result);
}

bool DialogWindow::CenterOnOwner() { return CenterWindow(hwnd_, owner_); }

INT_PTR DialogWindow::HandleMessage(UINT, WPARAM, LPARAM) { return FALSE; }

INT_PTR CALLBACK DialogWindow::DialogProc(HWND hwnd, UINT message, WPARAM wparam,
                                          LPARAM lparam) {
  DialogWindow* self = nullptr;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<DialogWindow*>(lparam);
    SetWindowLongPtrW(hwnd, DWLP_USER, lparam);
    if (self != nullptr) {
      self->hwnd_ = hwnd;
      self->ending_ = false;
    }
  } else {
    self = reinterpret_cast<DialogWindow*>(GetWindowLongPtrW(hwnd, DWLP_USER));
  }
  if (self == nullptr) return FALSE;
  const INT_PTR handled = self->HandleMessage(message, wparam, lparam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, DWLP_USER, 0);
    self->hwnd_ = nullptr;
  }
  return handled;
}

}  // namespace lite_installer
