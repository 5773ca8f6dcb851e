// Text drawn with partial opacity, and the two controls that use it: plain text pieces and
// links.
//
// `DrawTextWithOpacity` copies the destination area into an off-screen bitmap, draws the
// text on that copy and blends the copy back with one constant opacity, so the text shows
// the picture under it at (255 − opacity) / 255. A `TextLabel` paints its control's window
// text that way over the window's background; a `LinkLabel` is a `TextLabel` with the hand
// cursor that reports a click (mouse, or one press of Enter or space however long it is
// held) to its parent as WM_COMMAND with the control's id and BN_CLICKED, draws its text on
// one line and a focus rectangle while it has the keyboard focus.
// Either works over any control class (static or link); the wrapper does all the painting
// and input handling itself.
#ifndef UI_TEXT_LABEL_H_
#define UI_TEXT_LABEL_H_

#include <windows.h>

#include <string>
#include <string_view>

#include "ui/resource_bitmap.h"
#include "ui/subclassed_control.h"

namespace installer {

// Draws `text` into `rect` of `dc` in `font` and `color` on a transparent background with
// DrawText `format` (word breaks by default), blended with constant `opacity` (0..255, no
// per-pixel alpha). False, with nothing drawn, when the off-screen bitmap cannot be made or
// the blend fails.
bool DrawTextWithOpacity(HDC dc, std::wstring_view text, const RECT& rect, HFONT font,
                         COLORREF color, BYTE opacity, UINT format = DT_WORDBREAK);

// The size `text` takes in `font` on one line (GetTextExtentPoint32 on a screen-compatible
// device context, device units).
SIZE MeasureText(std::wstring_view text, HFONT font);
// The size `text` takes in `font` broken into lines of at most `width` pixels, as DrawText
// breaks and centres it (no prefix characters); 0 x 0 for an empty text.
SIZE MeasureWrappedText(std::wstring_view text, HFONT font, int width);
// The height of one line of the font selected into `dc`; 0 when unreadable.
int FontLineHeight(HDC dc);
// The height of one line of `font` (its text metrics on the screen); 0 when unreadable.
int FontLineHeight(HFONT font);
// The window text that DefWindowProc keeps for `window` (a link control's own parsed copy is
// not what it shows).
std::wstring WindowText(HWND window);

}  // namespace installer

namespace lite_installer {

class TextLabel : public SubclassedControl {
 public:
  // `control` is the child control whose window text is drawn; `font` is not owned;
  // `background` (may be null, not owned) is the window's background picture: when given,
  // the part behind the control is drawn first; otherwise the parent is asked to print its
  // client area behind the control (WM_PRINTCLIENT), so that a changing text never stands
  // over its previous value, and a parent that does not answer leaves what the screen shows.
  TextLabel(HWND control, COLORREF color, BYTE opacity, HFONT font,
            const installer::ResourceBitmap* background = nullptr, UINT format = DT_WORDBREAK);

  // The control's window text measured on one line in the label's font.
  SIZE MeasureText() const;
  // Paints the control into `dc` (client coordinates).
  void Paint(HDC dc) const override;

  COLORREF color() const { return color_; }
  BYTE opacity() const { return opacity_; }
  HFONT font() const { return font_; }

 protected:
  LRESULT WindowProc(UINT message, WPARAM wparam, LPARAM lparam) override;
  std::wstring Text() const;

 private:
  COLORREF color_;
  BYTE opacity_;
  HFONT font_;
  const installer::ResourceBitmap* background_;
  UINT format_;
};

class LinkLabel : public TextLabel {
 public:
  LinkLabel(HWND control, COLORREF color, BYTE opacity, HFONT font,
            const installer::ResourceBitmap* background = nullptr);

  void Paint(HDC dc) const override;

 protected:
  LRESULT WindowProc(UINT message, WPARAM wparam, LPARAM lparam) override;

 private:
  void NotifyParent() const;
  bool pressed_ = false;
};

}  // namespace lite_installer

#endif  // UI_TEXT_LABEL_H_
