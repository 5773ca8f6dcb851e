// A push button drawn from a picture strip of three equal cells: normal, hot (mouse over)
// and pressed, each as wide as a third of the picture and as tall as the picture.
//
// The button paints on its parent's NM_CUSTOMDRAW notification: the parent's WM_NOTIFY
// handler passes the notification to `OnCustomDraw` and returns its result (through
// DWLP_MSGRESULT in a dialog). The part of the window behind the button is painted first, so
// transparent parts of the strip show the window: from the background picture when there is
// one, else as the parent prints it (WM_PRINTCLIENT); the optional text is drawn
// centred over the cell in the button's font, white. A focused button shows a dotted focus
// rectangle inside its edge once the keyboard has been used (the window's UI state).
#ifndef UI_IMAGE_BUTTON_H_
#define UI_IMAGE_BUTTON_H_

#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <string>

#include "ui/resource_bitmap.h"

namespace lite_installer {

// The strip cell for a custom-draw item state: selected → 2, else hot → 1, else 0.
int SelectButtonCell(UINT item_state);

class ImageButton {
 public:
  // `control` is the dialog's button; `image_id` the strip (loaded with the automatic
  // variant); `font` (may be null, not owned, must outlive the button) draws the text;
  // `background` (may be null, not owned) is the window's background picture; without one
  // the parent must answer WM_PRINTCLIENT.
  ImageButton(HWND control, uint32_t image_id, HFONT font,
              const installer::ResourceBitmap* background = nullptr);
  ImageButton(const ImageButton&) = delete;
  ImageButton& operator=(const ImageButton&) = delete;

  // For NM_CUSTOMDRAW from this button: paints at the pre-paint stage and returns
  // CDRF_SKIPDEFAULT; CDRF_DODEFAULT for any other stage or another control.
  LRESULT OnCustomDraw(const NMCUSTOMDRAW& draw);
  // Paints the cell for `item_state` into `rect` of `dc` (double-buffered).
  void Paint(HDC dc, const RECT& rect, UINT item_state) const;

  // Sets the button's window text, which is drawn over the cell.
  void SetText(const std::wstring& text);
  // Names a button whose picture says what it does (close, cancel): the window text that
  // screen readers read, not drawn.
  void SetName(const std::wstring& name) const;
  // The logical size of one cell: the size the button is given.
  SIZE cell_size() const;
  // Moves the button to (x, y) of its parent at the size of one cell.
  void PlaceAt(int x, int y) const;

  HWND hwnd() const { return control_; }
  const installer::ResourceBitmap& strip() const { return strip_; }

 private:
  HWND control_;
  installer::ResourceBitmap strip_;
  HFONT font_;
  const installer::ResourceBitmap* background_;
  std::wstring text_;
};

}  // namespace lite_installer

#endif  // UI_IMAGE_BUTTON_H_
