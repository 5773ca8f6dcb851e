// Driving the installer's dialogs from a test: a dialog runs modally on the test's main
// thread while a second thread (or another process) looks at its controls and presses them.
#ifndef TESTS_SUPPORT_DIALOG_DRIVER_H_
#define TESTS_SUPPORT_DIALOG_DRIVER_H_

#include <windows.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>

namespace test_support {

// Polls `condition` every 20 ms for up to `timeout_ms`; whether it became true.
bool WaitUntil(const std::function<bool()>& condition, uint32_t timeout_ms);

// The first visible top-level dialog box (window class "#32770") of `process_id` other than
// `except`; null when there is none.
HWND FindVisibleDialog(DWORD process_id, HWND except = nullptr);
// The same, waiting up to `timeout_ms` for one to appear.
HWND WaitForVisibleDialog(DWORD process_id, uint32_t timeout_ms, HWND except = nullptr);

// The window text of control `id` of `dialog`; empty when there is no such control.
std::wstring ControlText(HWND dialog, int id);
// Whether `dialog` has a child with `id` that is visible.
bool ControlVisible(HWND dialog, int id);
// The control's rectangle in the client coordinates of `dialog`; empty when it is missing.
RECT ControlRect(HWND dialog, int id);

// Presses a push button like a mouse click does (BM_CLICK); false without the button.
bool ClickButton(HWND dialog, int id);
// Sends WM_COMMAND with `id` and BN_CLICKED, as a control reports a click.
void SendCommand(HWND dialog, int id);

// Waits up to `timeout_ms` until the thread that owns `window` has handled everything queued
// for it so far (posted messages, input, painting): a timer of that thread has fired, which
// Windows delivers only once nothing else is waiting. False when the thread does not get there
// (it ended its dialog and waits elsewhere, or a download keeps posting its progress).
bool WaitForIdle(HWND window, uint32_t timeout_ms = 20000);
// Brings `window` to the front and waits up to `timeout_ms` until it is the foreground window
// (where real keyboard input goes), `focus` (unless null) has its thread's keyboard focus, and
// its thread is idle. False, with the reason on stderr, when that state never came.
bool WaitForInput(HWND window, HWND focus, uint32_t timeout_ms = 20000);
// Presses `keys` in order and releases them in reverse (a chord such as Alt+F4) as real
// keyboard input (SendInput), once `window` is ready for it (WaitForInput, any focus); with
// `repeats`, the last key's key-down comes that many times more, as a held key repeats.
// Returns once the input is queued: wait for what it does with WaitForIdle, or for the
// window's end. False when the window never got ready or the input was refused.
bool PressKeys(HWND window, std::initializer_list<WORD> keys, int repeats = 0);
// The control with the keyboard focus in the thread that owns `dialog`.
HWND FocusedControl(HWND dialog);
// The name `dialog`'s control `id` gives assistive technology (its MSAA client object).
std::wstring AccessibleName(HWND dialog, int id);

// Runs `run_dialog` on this thread and `script` on a second thread that gets the dialog's
// window once `window_of` reports one and it is visible (a script that needs it painted
// waits for that itself: WaitForIdle). A dialog still open when the script
// returns is closed with the system close command. Returns what `run_dialog` returned.
INT_PTR DriveDialog(const std::function<INT_PTR()>& run_dialog,
                    const std::function<HWND()>& window_of,
                    const std::function<void(HWND)>& script);

}  // namespace test_support

#endif  // TESTS_SUPPORT_DIALOG_DRIVER_H_
