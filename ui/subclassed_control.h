// The common part of the control wrappers: one existing child control whose window
// procedure is replaced (comctl32 subclassing) for as long as the wrapper lives.
//
// The wrapper detaches itself when the control is destroyed first (WM_NCDESTROY), so a
// window may destroy its controls at any time; `hwnd()` is then null and every operation
// on the control does nothing. Destroying the wrapper first restores the original procedure.
#ifndef UI_SUBCLASSED_CONTROL_H_
#define UI_SUBCLASSED_CONTROL_H_

#include <windows.h>

namespace lite_installer {

class SubclassedControl {
 public:
  SubclassedControl() = default;
  virtual ~SubclassedControl();
  SubclassedControl(const SubclassedControl&) = delete;
  SubclassedControl& operator=(const SubclassedControl&) = delete;

  // Takes over `control`; false (and nothing attached) when it is null or the subclass
  // cannot be installed. Attaching again first detaches from the previous control.
  bool Attach(HWND control);
  void Detach();

  HWND hwnd() const { return hwnd_; }
  int id() const;

 protected:
  // The replaced window procedure; `CallOriginal` hands a message on to the control's own.
  virtual LRESULT WindowProc(UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT CallOriginal(UINT message, WPARAM wparam, LPARAM lparam);

  // Paints the whole control into `dc` (client coordinates); for a control that draws all
  // of itself, which answers its painting messages with `HandlePaintMessages`.
  virtual void Paint(HDC dc) const {}
  // Answers the painting messages of a control that draws all of itself: WM_PAINT and
  // WM_PRINTCLIENT draw through `Paint`, WM_ERASEBKGND erases nothing (the paint covers
  // every pixel). True, with `*result` set, when `message` was one of them.
  bool HandlePaintMessages(UINT message, WPARAM wparam, LRESULT* result);
  // Has the whole control painted again at the next WM_PAINT (nothing once detached).
  void Invalidate() const;

 private:
  static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam,
                                       UINT_PTR subclass_id, DWORD_PTR ref_data);
  HWND hwnd_ = nullptr;
};

}  // namespace lite_installer

#endif  // UI_SUBCLASSED_CONTROL_H_
