#include "ui/check_box.h"

#include "resources/image_ids.h"
#include "ui/offscreen_buffer.h"
#include "ui/scale.h"
#include "ui/text_label.h"

namespace lite_installer {
namespace {

// The hot bit of BM_GETSTATE (common controls 6); MinGW's headers define it only for
// newer targets than this program's.
#ifndef BST_HOT
constexpr LRESULT BST_HOT = 0x0200;
#endif

UINT TextFormat(bool multi_line) {
  return multi_line ? DT_WORDBREAK | DT_LEFT | DT_TOP : DT_SINGLELINE | DT_LEFT | DT_VCENTER;
}

}  // namespace

int SelectCheckBoxCell(bool checked, bool hot, bool pressed) {
  const int base = checked ? 3 : 0;
  if (pressed) return base + 2;
  if (hot) return base + 1;
  return base;
}

CheckBox::CheckBox(HWND control, COLORREF text_color, HFONT font, bool checked, bool multi_line,
                   const installer::ResourceBitmap* background)
    : text_color_(text_color),
      font_(font),
      checked_(checked),
      multi_line_(multi_line),
      background_(background) {
  glyphs_.LoadScaled(IDB_CHECK_BOX);
  Attach(control);
  // Painted by this class; WM_GETFONT still answers with the font the text is drawn in.
  if (control != nullptr) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  Invalidate();
}

void CheckBox::SetChecked(bool checked) {
  if (checked_ == checked) return;
  checked_ = checked;
  if (hwnd() == nullptr) return;
  Invalidate();
  // The button class raises this itself, but its own check state is not used here: without
  // it a screen reader says nothing when Space toggles the box.
  NotifyWinEvent(EVENT_OBJECT_STATECHANGE, hwnd(), OBJID_CLIENT, CHILDID_SELF);
}

int CheckBox::text_offset() const {
  return glyphs_.height() + installer::ScaleLength(kTextGap);
}

RECT CheckBox::TextRect(const RECT& client) const {
  return RECT{client.left + text_offset(), client.top, client.right, client.bottom};
}

int CheckBox::HeightForWidth(int width) const {
  const int glyph = glyphs_.height();
  int text_height = installer::FontLineHeight(font_);
  if (multi_line_ && hwnd() != nullptr) {
    RECT rect = {0, 0, width - text_offset(), 0};
    HDC screen = GetDC(nullptr);
    if (screen != nullptr) {
      HGDIOBJ old_font = font_ != nullptr ? SelectObject(screen, font_) : nullptr;
      const std::wstring text = installer::WindowText(hwnd());
      DrawTextW(screen, text.c_str(), static_cast<int>(text.size()), &rect,
                DT_CALCRECT | DT_WORDBREAK);
      if (old_font != nullptr) SelectObject(screen, old_font);
      ReleaseDC(nullptr, screen);
      text_height = rect.bottom - rect.top;
    }
  }
  return text_height > glyph ? text_height : glyph;
}

void CheckBox::Paint(HDC dc) const {
  RECT client;
  if (hwnd() == nullptr || !GetClientRect(hwnd(), &client)) return;
  OffscreenBuffer buffer(dc, 0, 0, client.right, client.bottom, background_ == nullptr);
  if (!buffer.valid()) return;
  HDC target = buffer.dc();
  if (background_ != nullptr) installer::DrawParentBackground(target, hwnd(), *background_);

  // Square cells as tall as the picture; the glyph sits level with the first text line.
  const int cell = glyphs_.height();
  const int line_height = installer::FontLineHeight(font_);
  int glyph_top = multi_line_ ? (line_height - cell) / 2 : (client.bottom - cell) / 2;
  if (glyph_top < 0) glyph_top = 0;
  const int index = SelectCheckBoxCell(checked_, hot_, pressed_);
  glyphs_.Draw(target, RECT{index * cell, 0, (index + 1) * cell, cell},
               RECT{0, glyph_top, cell, glyph_top + cell});

  const std::wstring text = installer::WindowText(hwnd());
  RECT text_rect = TextRect(client);
  HGDIOBJ old_font = font_ != nullptr ? SelectObject(target, font_) : nullptr;
  SetBkMode(target, TRANSPARENT);
  SetTextColor(target, text_color_);
  const LRESULT ui_state = SendMessageW(hwnd(), WM_QUERYUISTATE, 0, 0);
  const UINT prefix = (ui_state & UISF_HIDEACCEL) != 0 ? DT_HIDEPREFIX : 0;
  DrawTextW(target, text.c_str(), static_cast<int>(text.size()), &text_rect,
            TextFormat(multi_line_) | prefix);
  if (GetFocus() == hwnd() && (ui_state & UISF_HIDEFOCUS) == 0) {
    RECT focus = TextRect(client);
    DrawTextW(target, text.c_str(), static_cast<int>(text.size()), &focus,
              TextFormat(multi_line_) | DT_CALCRECT);
    if (!multi_line_) {
      // DT_CALCRECT ignores vertical centring: put the box where the line was drawn.
      const int offset = (client.bottom - (focus.bottom - focus.top)) / 2;
      focus.top = offset;
      focus.bottom = client.bottom - offset;
    }
    InflateRect(&focus, 1, 0);
    DrawFocusRect(target, &focus);
  }
  if (old_font != nullptr) SelectObject(target, old_font);
  buffer.CopyTo();
}

LRESULT CheckBox::WindowProc(UINT message, WPARAM wparam, LPARAM lparam) {
  // Every message that would make the button paint itself is handled here: the button
  // class draws on state changes directly, not through WM_PAINT.
  auto notify_click = [this] {
    HWND parent = GetParent(hwnd());
    if (parent != nullptr) {
      SendMessageW(parent, WM_COMMAND, MAKEWPARAM(id(), BN_CLICKED),
                   reinterpret_cast<LPARAM>(hwnd()));
    }
  };
  LRESULT painted = 0;
  if (HandlePaintMessages(message, wparam, &painted)) {
    return painted;
  }
  switch (message) {
    case WM_MOUSEMOVE:
      if (!hot_) {
        hot_ = true;
        TRACKMOUSEEVENT track = {sizeof(track), TME_LEAVE, hwnd(), 0};
        tracking_ = TrackMouseEvent(&track) != FALSE;
        Invalidate();
      }
      return 0;
    case WM_MOUSELEAVE:
      hot_ = false;
      tracking_ = false;
      Invalidate();
      return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      pressed_ = true;
      SetCapture(hwnd());
      if (GetFocus() != hwnd()) SetFocus(hwnd());
      Invalidate();
      return 0;
    case WM_LBUTTONUP: {
      const bool was_pressed = pressed_;
      pressed_ = false;
      if (GetCapture() == hwnd()) ReleaseCapture();
      Invalidate();
      RECT client;
      GetClientRect(hwnd(), &client);
      const POINT point = {static_cast<short>(LOWORD(lparam)),
                           static_cast<short>(HIWORD(lparam))};
      if (was_pressed && PtInRect(&client, point)) notify_click();
      return 0;
    }
    case WM_CAPTURECHANGED:
      if (pressed_) {
        pressed_ = false;
        Invalidate();
      }
      return 0;
    case WM_KEYDOWN:
      if (wparam == VK_SPACE) {
        pressed_ = true;
        Invalidate();
        return 0;
      }
      return CallOriginal(message, wparam, lparam);
    case WM_KEYUP:
      if (wparam == VK_SPACE && pressed_) {
        pressed_ = false;
        Invalidate();
        notify_click();
        return 0;
      }
      return CallOriginal(message, wparam, lparam);
    case WM_CHAR:
      return 0;
    case BM_GETCHECK:
      return checked_ ? BST_CHECKED : BST_UNCHECKED;
    case BM_SETCHECK:
      SetChecked(wparam == BST_CHECKED);
      return 0;
    case BM_GETSTATE:
      return (checked_ ? BST_CHECKED : 0) | (pressed_ ? BST_PUSHED : 0) |
             (GetFocus() == hwnd() ? BST_FOCUS : 0) | (hot_ ? BST_HOT : 0);
    case BM_SETSTATE:
      pressed_ = wparam != 0;
      Invalidate();
      return 0;
    case BM_CLICK:
      notify_click();
      return 0;
    case WM_SETTEXT: {
      const LRESULT result = DefWindowProcW(hwnd(), message, wparam, lparam);
      Invalidate();
      return result;
    }
    case WM_GETTEXT:
    case WM_GETTEXTLENGTH:
      return DefWindowProcW(hwnd(), message, wparam, lparam);
    case WM_KILLFOCUS:
      // A press the focus leaves is no press: Space held while Tab moves on must neither
      // leave the box drawn pressed nor toggle it on its release elsewhere.
      pressed_ = false;
      if (GetCapture() == hwnd()) ReleaseCapture();
      Invalidate();
      return 0;
    case WM_SETFOCUS:
    case WM_ENABLE:
    case WM_SIZE:
      Invalidate();
      return 0;
    case WM_UPDATEUISTATE: {
      const LRESULT result = CallOriginal(message, wparam, lparam);
      Invalidate();
      return result;
    }
    default:
      return CallOriginal(message, wparam, lparam);
  }
}

}  // namespace lite_installer
