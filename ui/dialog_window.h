// The base of every installer window: a dialog box made from a template in the installer's
// own module and run modally.
//
// A `DialogWindow` owns its window for the length of `DoModal`: the handle is set when the
// dialog receives WM_INITDIALOG and cleared when the window is destroyed. Derived windows
// handle their messages in `HandleMessage`, which sees every message from WM_INITDIALOG on
// (messages sent earlier, such as WM_SETFONT, go to the default handling). Not copyable;
// the object must outlive its window.
#ifndef UI_DIALOG_WINDOW_H_
#define UI_DIALOG_WINDOW_H_

#include <windows.h>

namespace lite_installer {

// Where a window of size `window_size` goes when centred on `anchor` (the owner's window
// rectangle, or the work area when there is no owner) and then kept inside `work_area`:
// a window larger than the work area is aligned with its top-left corner. Pure geometry.
RECT CenterRectInArea(SIZE window_size, const RECT& anchor, const RECT& work_area);

// Centres `window` on `owner` (may be null: then on the work area of the monitor nearest to
// `window`), kept inside the work area of the monitor nearest to the anchor. Moves without
// resizing, activating or changing the z-order. False when the window or monitor
// rectangles cannot be read.
bool CenterWindow(HWND window, HWND owner);

class DialogWindow {
 public:
  explicit DialogWindow(int template_id);
  virtual ~DialogWindow();
  DialogWindow(const DialogWindow&) = delete;
  DialogWindow& operator=(const DialogWindow&) = delete;

  // Creates the dialog from template `template_id` of the process's own module and runs it
  // modally until `EndDialog`. `owner` null means the currently active window. Returns the
  // value given to `EndDialog`, or -1 when the dialog could not be created (logged).
  INT_PTR DoModal(HWND owner = nullptr);
  // The same from an in-memory template (for tests that have no template resource).
  INT_PTR DoModalIndirectForTesting(const DLGTEMPLATE* dialog_template, HWND owner);

  // Ends the modal loop with `result` (ignored when the dialog is not running). The first
  // result of a run stands: a later call before the loop has ended changes nothing, so a
  // finish cannot be turned into a close that came after it.
  void EndDialog(INT_PTR result);
  // Centres the window on its owner, or on its monitor's work area without an owner.
  bool CenterOnOwner();

  HWND hwnd() const { return hwnd_; }
  HWND owner() const { return owner_; }
  int template_id() const { return template_id_; }
  bool is_running() const { return hwnd_ != nullptr; }

 protected:
  // Handles one message of the dialog; the return value is the dialog procedure's: TRUE
  // when handled (set DWLP_MSGRESULT for messages whose result matters, such as WM_NOTIFY),
  // FALSE for the default handling; for WM_INITDIALOG, TRUE to let the dialog set the focus;
  // for WM_CTLCOLOR* messages, the brush. The base handles nothing and returns FALSE.
  virtual INT_PTR HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

  int template_id_;
  HWND hwnd_ = nullptr;
  bool ending_ = false;
  HWND owner_ = nullptr;
};

}  // namespace lite_installer

#endif  // UI_DIALOG_WINDOW_H_
