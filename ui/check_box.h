// A check box drawn by the installer: the part of the window's background behind it, a
// glyph from picture 299, and the text to the right of the glyph.
//
// Picture 299 is six square cells as tall as the picture: unchecked normal, hot, pressed,
// then checked normal, hot, pressed. The wrapper keeps the checked state itself (the
// control's own check state is not used): the window calls `Toggle` when the control reports
// a click (WM_COMMAND with the control's id), and each change of the state is announced to
// accessibility clients (EVENT_OBJECT_STATECHANGE). Hot follows the mouse; pressed follows the
// mouse button or Space, and ends when the box loses the focus.
#ifndef UI_CHECK_BOX_H_
#define UI_CHECK_BOX_H_

#include <windows.h>

#include <string>

#include "ui/resource_bitmap.h"
#include "ui/subclassed_control.h"

namespace lite_installer {

// The glyph cell (0..5) for a state, in the order above.
int SelectCheckBoxCell(bool checked, bool hot, bool pressed);

class CheckBox : public SubclassedControl {
 public:
  // Space between the glyph and the text, in design pixels (scaled).
  static constexpr int kTextGap = 8;

  // `control` is the dialog's check-box control; `font` (not owned) and `text_color` draw
  // the text (the control's window text); `multi_line` wraps it at the control's width;
  // `background` (may be null, not owned) is the window's background picture.
  CheckBox(HWND control, COLORREF text_color, HFONT font, bool checked, bool multi_line,
           const installer::ResourceBitmap* background);

  bool IsChecked() const { return checked_; }
  void Toggle() { SetChecked(!checked_); }
  void SetChecked(bool checked);

  // Distance from the control's left edge to its text: the glyph's width plus the gap.
  int text_offset() const;
  // The height the control needs at `width` for its text (wrapped when multi-line), and at
  // least the glyph's height.
  int HeightForWidth(int width) const;

  // Paints the whole control into `dc` (client coordinates).
  void Paint(HDC dc) const override;

 protected:
  LRESULT WindowProc(UINT message, WPARAM wparam, LPARAM lparam) override;

 private:
  RECT TextRect(const RECT& client) const;

  installer::ResourceBitmap glyphs_;
  COLORREF text_color_;
  HFONT font_;
  bool checked_;
  bool multi_line_;
  const installer::ResourceBitmap* background_;
  bool hot_ = false;
  bool pressed_ = false;
  bool tracking_ = false;
};

}  // namespace lite_installer

#endif  // UI_CHECK_BOX_H_
