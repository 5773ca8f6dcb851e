#include "ui/image_button.h"

#include "ui/offscreen_buffer.h"

namespace lite_installer {

int SelectButtonCell(UINT item_state) {
  if ((item_state & CDIS_SELECTED) != 0) return 2;
  if ((item_state & CDIS_HOT) != 0) return 1;
  return 0;
}

ImageButton::ImageButton(HWND control, uint32_t image_id, HFONT font,
                         const installer::ResourceBitmap* background)
    : control_(control), font_(font), background_(background) {
  strip_.LoadScaled(image_id);
  if (control_ != nullptr) {
    const int length = GetWindowTextLengthW(control_);
    text_.assign(length + 1, L'\0');
    text_.resize(GetWindowTextW(control_, text_.data(), length + 1));
    if (font_ != nullptr) SendMessageW(control_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  }
}

LRESULT ImageButton::OnCustomDraw(const NMCUSTOMDRAW& draw) {
  if (control_ == nullptr || draw.hdr.hwndFrom != control_) return CDRF_DODEFAULT;
  if (draw.dwDrawStage != CDDS_PREPAINT) return CDRF_DODEFAULT;
  Paint(draw.hdc, draw.rc, draw.uItemState);
  return CDRF_SKIPDEFAULT;
}

void ImageButton::Paint(HDC dc, const RECT& rect, UINT item_state) const {
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  OffscreenBuffer buffer(dc, rect.left, rect.top, width, height, background_ == nullptr);
  if (!buffer.valid()) return;
  HDC target = buffer.dc();
  // What lies behind the button, painted afresh each time: a strip with clear and soft
  // edges drawn over the button's own last picture would darken its edges at every paint.
  if (background_ != nullptr && control_ != nullptr) {
    installer::DrawParentBackground(target, control_, *background_);
  } else if (control_ != nullptr) {
    PrintParentBehind(target, control_);
  }
  const int cell_width = strip_.width() / 3;
  const int cell = SelectButtonCell(item_state);
  strip_.Draw(target, RECT{cell * cell_width, 0, (cell + 1) * cell_width, strip_.height()},
              RECT{0, 0, width, height});
  if (!text_.empty()) {
    HGDIOBJ old_font = font_ != nullptr ? SelectObject(target, font_) : nullptr;
    SetBkMode(target, TRANSPARENT);
    SetTextColor(target, RGB(255, 255, 255));
    RECT text_rect = {0, 0, width, height};
    DrawTextW(target, text_.c_str(), static_cast<int>(text_.size()), &text_rect,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    if (old_font != nullptr) SelectObject(target, old_font);
  }
  if ((item_state & CDIS_FOCUS) != 0 && control_ != nullptr &&
      (SendMessageW(control_, WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS) == 0) {
    RECT focus = {0, 0, width, height};
    InflateRect(&focus, -2, -2);
    DrawFocusRect(target, &focus);
  }
  buffer.CopyTo();
}

void ImageButton::SetText(const std::wstring& text) {
  text_ = text;
  if (control_ == nullptr) return;
  SetWindowTextW(control_, text.c_str());
  InvalidateRect(control_, nullptr, FALSE);
}

void ImageButton::SetName(const std::wstring& name) const {
  if (control_ != nullptr) SetWindowTextW(control_, name.c_str());
}

SIZE ImageButton::cell_size() const { return SIZE{strip_.width() / 3, strip_.height()}; }

void ImageButton::PlaceAt(int x, int y) const {
  if (control_ == nullptr) return;
  const SIZE size = cell_size();
  SetWindowPos(control_, nullptr, x, y, size.cx, size.cy, SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace lite_installer
