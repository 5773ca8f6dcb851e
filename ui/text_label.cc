#include "ui/text_label.h"

#include "platform/scoped_handle.h"
#include "ui/offscreen_buffer.h"

namespace installer {

bool DrawTextWithOpacity(HDC dc, std::wstring_view text, const RECT& rect, HFONT font,
                         COLORREF color, BYTE opacity, UINT format) {
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  if (dc == nullptr || width <= 0 || height <= 0) return false;
  lite_installer::OffscreenBuffer buffer(dc, rect.left, rect.top, width, height, true);
  if (!buffer.valid()) return false;
  HGDIOBJ old_font = font != nullptr ? SelectObject(buffer.dc(), font) : nullptr;
  SetBkMode(buffer.dc(), TRANSPARENT);
  SetTextColor(buffer.dc(), color);
  RECT text_rect = {0, 0, width, height};
  DrawTextW(buffer.dc(), text.data(), static_cast<int>(text.size()), &text_rect, format);
  if (old_font != nullptr) SelectObject(buffer.dc(), old_font);
  // Constant opacity over a copy of the destination: only the text pixels change, by
  // opacity / 255 of the way from the picture to the text colour.
  const BLENDFUNCTION blend = {AC_SRC_OVER, 0, opacity, 0};
  return AlphaBlend(dc, rect.left, rect.top, width, height, buffer.dc(), 0, 0, width, height,
                    blend) != FALSE;
}

SIZE MeasureText(std::wstring_view text, HFONT font) {
  SIZE size = {0, 0};
  HDC screen = GetDC(nullptr);
  if (screen == nullptr) return size;
  HGDIOBJ old_font = font != nullptr ? SelectObject(screen, font) : nullptr;
  if (!GetTextExtentPoint32W(screen, text.data(), static_cast<int>(text.size()), &size)) {
    size = SIZE{0, 0};
  }
  if (old_font != nullptr) SelectObject(screen, old_font);
  ReleaseDC(nullptr, screen);
  return size;
}

SIZE MeasureWrappedText(std::wstring_view text, HFONT font, int width) {
  if (text.empty()) return SIZE{0, 0};
  HDC screen = GetDC(nullptr);
  if (screen == nullptr) return SIZE{0, 0};
  HGDIOBJ old_font = font != nullptr ? SelectObject(screen, font) : nullptr;
  RECT rect = {0, 0, width, 0};
  DrawTextW(screen, text.data(), static_cast<int>(text.size()), &rect,
            DT_CALCRECT | DT_WORDBREAK | DT_CENTER | DT_NOPREFIX);
  if (old_font != nullptr) SelectObject(screen, old_font);
  ReleaseDC(nullptr, screen);
  return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

int FontLineHeight(HDC dc) {
  TEXTMETRICW metrics = {};
  return GetTextMetricsW(dc, &metrics) ? metrics.tmHeight : 0;
}

int FontLineHeight(HFONT font) {
  HDC screen = GetDC(nullptr);
  if (screen == nullptr) return 0;
  HGDIOBJ old_font = font != nullptr ? SelectObject(screen, font) : nullptr;
  const int height = FontLineHeight(screen);
  if (old_font != nullptr) SelectObject(screen, old_font);
  ReleaseDC(nullptr, screen);
  return height;
}

std::wstring WindowText(HWND window) {
  if (window == nullptr) return std::wstring();
  const int length = static_cast<int>(DefWindowProcW(window, WM_GETTEXTLENGTH, 0, 0));
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const int copied = static_cast<int>(
      DefWindowProcW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data())));
  text.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
  return text;
}

}  // namespace installer

namespace lite_installer {

TextLabel::TextLabel(HWND control, COLORREF color, BYTE opacity, HFONT font,
                     const installer::ResourceBitmap* background, UINT format)
    : color_(color), opacity_(opacity), font_(font), background_(background), format_(format) {
  Attach(control);
  if (hwnd() == nullptr) return;
  // The label paints itself, but WM_GETFONT still tells others (magnifiers, accessibility
  // clients, layout checks) the font it uses.
  SendMessageW(hwnd(), WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  Invalidate();
}

std::wstring TextLabel::Text() const { return installer::WindowText(hwnd()); }

SIZE TextLabel::MeasureText() const { return installer::MeasureText(Text(), font_); }

void TextLabel::Paint(HDC dc) const {
  RECT client;
  if (hwnd() == nullptr || !GetClientRect(hwnd(), &client)) return;
  OffscreenBuffer buffer(dc, 0, 0, client.right, client.bottom, background_ == nullptr);
  if (!buffer.valid()) return;
  if (background_ != nullptr) {
    installer::DrawParentBackground(buffer.dc(), hwnd(), *background_);
  } else {
    PrintParentBehind(buffer.dc(), hwnd());
  }
  installer::DrawTextWithOpacity(buffer.dc(), Text(), client, font_, color_, opacity_, format_);
  buffer.CopyTo();
}

LRESULT TextLabel::WindowProc(UINT message, WPARAM wparam, LPARAM lparam) {
  LRESULT painted = 0;
  if (HandlePaintMessages(message, wparam, &painted)) {
    return painted;
  }
  switch (message) {
    case WM_SETTEXT: {
      // Stored by the default procedure: the control's own would paint the text at once.
      const LRESULT result = DefWindowProcW(hwnd(), message, wparam, lparam);
      Invalidate();
      return result;
    }
    case WM_GETTEXT:
    case WM_GETTEXTLENGTH:
      return DefWindowProcW(hwnd(), message, wparam, lparam);
    case WM_ENABLE:
    case WM_SIZE:
      Invalidate();
      return 0;
    default:
      return CallOriginal(message, wparam, lparam);
  }
}

LinkLabel::LinkLabel(HWND control, COLORREF color, BYTE opacity, HFONT font,
                     const installer::ResourceBitmap* background)
    : TextLabel(control, color, opacity, font, background, DT_SINGLELINE | DT_NOPREFIX) {}

void LinkLabel::Paint(HDC dc) const {
  TextLabel::Paint(dc);
  const LRESULT ui_state = SendMessageW(hwnd(), WM_QUERYUISTATE, 0, 0);
  if (GetFocus() != hwnd() || (ui_state & UISF_HIDEFOCUS) != 0) return;
  RECT client;
  GetClientRect(hwnd(), &client);
  const SIZE text = MeasureText();
  RECT focus = {0, 0, text.cx < client.right ? text.cx : client.right, client.bottom};
  DrawFocusRect(dc, &focus);
}

void LinkLabel::NotifyParent() const {
  HWND parent = GetParent(hwnd());
  if (parent == nullptr) return;
  SendMessageW(parent, WM_COMMAND, MAKEWPARAM(id(), BN_CLICKED),
               reinterpret_cast<LPARAM>(hwnd()));
}

LRESULT LinkLabel::WindowProc(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_NCHITTEST:
      // Static controls are transparent to the mouse unless told otherwise.
      return HTCLIENT;
    case WM_SETCURSOR:
      SetCursor(LoadCursorW(nullptr, IDC_HAND));
      return TRUE;
    case WM_LBUTTONDOWN:
      pressed_ = true;
      SetCapture(hwnd());
      return 0;
    case WM_LBUTTONUP: {
      const bool was_pressed = pressed_;
      pressed_ = false;
      if (GetCapture() == hwnd()) ReleaseCapture();
      RECT client;
      GetClientRect(hwnd(), &client);
      const POINT point = {static_cast<short>(LOWORD(lparam)),
                           static_cast<short>(HIWORD(lparam))};
      if (was_pressed && PtInRect(&client, point)) NotifyParent();
      return 0;
    }
    case WM_CAPTURECHANGED:
      pressed_ = false;
      return 0;
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
      return 0;
    case WM_GETDLGCODE: {
      const MSG* msg = reinterpret_cast<const MSG*>(lparam);
      if (msg != nullptr && msg->message == WM_KEYDOWN && msg->wParam == VK_RETURN) {
        return DLGC_WANTMESSAGE;
      }
      return DLGC_WANTCHARS;
    }
    case WM_KEYDOWN:
      if (wparam == VK_RETURN || wparam == VK_SPACE) {
        // Once per press: a held key repeats its key-down (bit 30 marks the repeats), and
        // each would open the page again and count another click.
        if ((lparam & (1 << 30)) == 0) NotifyParent();
        return 0;
      }
      return CallOriginal(message, wparam, lparam);
    case WM_CHAR:
      return 0;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_UPDATEUISTATE:
      if (message == WM_UPDATEUISTATE) CallOriginal(message, wparam, lparam);
      Invalidate();
      return 0;
    default:
      return TextLabel::WindowProc(message, wparam, lparam);
  }
}

}  // namespace lite_installer
