#include "ui/custom_progress_bar.h"

#include <commctrl.h>
#include <uxtheme.h>

#include <cstdint>

#include "resources/image_ids.h"
#include "ui/offscreen_buffer.h"

namespace lite_installer {

int FilledWidth(int width, int low, int high, int position) {
  if (high <= low || width <= 0) return 0;
  if (position < low) position = low;
  if (position > high) position = high;
  // 64-bit: a wide bar times a large range overflows 32 bits. Both factors are
  // non-negative here, and the range is above 0.
  const uint64_t filled = static_cast<uint64_t>(width) *
                          static_cast<uint64_t>(int64_t{position} - low);
  return static_cast<int>(filled / static_cast<uint64_t>(int64_t{high} - low));
}

CustomProgressBar::CustomProgressBar(HWND control, const installer::ResourceBitmap* background,
                                     bool paints_own_background)
    : background_(background), paints_own_background_(paints_own_background) {
  filled_.LoadScaled(IDB_PROGRESS_FILLED);
  empty_.LoadScaled(IDB_PROGRESS_EMPTY);
  if (Attach(control)) {
    // The themed bar animates on its own timers and draws outside WM_PAINT; the classic one
    // only invalidates.
    SetWindowTheme(control, L" ", L" ");
    // The classic bar gives itself a static edge; the pictures fill the whole window
    // instead (WM_NCCALCSIZE below), so the frame is computed again without it.
    SetWindowPos(control, nullptr, 0, 0, 0, 0,
                 SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    Invalidate();
  }
}

void CustomProgressBar::SetRange(int low, int high) {
  if (hwnd() != nullptr) SendMessageW(hwnd(), PBM_SETRANGE32, low, high);
}

void CustomProgressBar::SetPosition(int position) {
  if (hwnd() != nullptr) SendMessageW(hwnd(), PBM_SETPOS, position, 0);
}

int CustomProgressBar::GetPosition() const {
  return hwnd() != nullptr ? static_cast<int>(SendMessageW(hwnd(), PBM_GETPOS, 0, 0)) : 0;
}

void CustomProgressBar::Paint(HDC dc) const {
  RECT client;
  if (hwnd() == nullptr || !GetClientRect(hwnd(), &client)) return;
  const int width = client.right;
  const int height = client.bottom;
  const bool draw_parent = !paints_own_background_ && background_ != nullptr;
  OffscreenBuffer buffer(dc, 0, 0, width, height, !draw_parent);
  if (!buffer.valid()) return;
  if (draw_parent) installer::DrawParentBackground(buffer.dc(), hwnd(), *background_);
  PBRANGE range = {};
  SendMessageW(hwnd(), PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
  const int filled = FilledWidth(width, range.iLow, range.iHigh, GetPosition());
  if (filled > 0) filled_.Draw(buffer.dc(), RECT{0, 0, filled, height});
  if (filled < width) empty_.Draw(buffer.dc(), RECT{filled, 0, width, height});
  buffer.CopyTo();
}

LRESULT CustomProgressBar::WindowProc(UINT message, WPARAM wparam, LPARAM lparam) {
  LRESULT painted = 0;
  if (HandlePaintMessages(message, wparam, &painted)) {
    return painted;
  }
  switch (message) {
    case WM_NCCALCSIZE:
      // No non-client area: the client rectangle is the window rectangle.
      return 0;
    case WM_NCPAINT:
      return 0;
    case PBM_SETPOS:
    case PBM_DELTAPOS:
    case PBM_STEPIT:
    case PBM_SETRANGE:
    case PBM_SETRANGE32: {
      const LRESULT result = CallOriginal(message, wparam, lparam);
      Invalidate();
      return result;
    }
    default:
      return CallOriginal(message, wparam, lparam);
  }
}

}  // namespace lite_installer
