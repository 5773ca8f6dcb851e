#include "ui/shadow_window.h"

#include <gdiplus.h>

#include "resources/image_ids.h"
#include "startup/logging.h"
#include "ui/scale.h"

namespace lite_installer {
namespace {

// Draws the whole of `picture` stretched into `target` on `graphics`.
void DrawStretched(Gdiplus::Graphics& graphics, const installer::ResourceBitmap& picture,
                   const RECT& target) {
  Gdiplus::Image* image = picture.image();
  if (image == nullptr || target.right <= target.left || target.bottom <= target.top) return;
  Gdiplus::ImageAttributes attributes;
  // Mirrored edges: a 1-pixel strip stretched with clamped sampling fades at its ends.
  attributes.SetWrapMode(Gdiplus::WrapModeTileFlipXY);
  const Gdiplus::RectF destination(
      static_cast<Gdiplus::REAL>(target.left), static_cast<Gdiplus::REAL>(target.top),
      static_cast<Gdiplus::REAL>(target.right - target.left),
      static_cast<Gdiplus::REAL>(target.bottom - target.top));
  graphics.DrawImage(image, destination, 0.0f, 0.0f,
                     static_cast<Gdiplus::REAL>(picture.pixel_width()),
                     static_cast<Gdiplus::REAL>(picture.pixel_height()), Gdiplus::UnitPixel,
                     &attributes);
}

}  // namespace

bool ShadowWindow::Create(HWND target, Style style) {
  target_ = target;
  style_ = style;
  width_ = installer::ScaleLength(kShadowWidth);
  const uint32_t corner_ids[4] = {IDB_SHADOW_TOP_LEFT, IDB_SHADOW_TOP_RIGHT,
                                  IDB_SHADOW_BOTTOM_RIGHT, IDB_SHADOW_BOTTOM_LEFT};
  const uint32_t edge_ids[4] = {IDB_SHADOW_LEFT, IDB_SHADOW_TOP, IDB_SHADOW_RIGHT,
                                IDB_SHADOW_BOTTOM};
  for (int i = 0; i < 4; ++i) {
    if (style == Style::kMainWindow) corners_[i].LoadScaled(corner_ids[i]);
    edges_[i].LoadScaled(edge_ids[i]);
  }
  // Unowned, so that it can sit behind the window it follows (an owned window always stays
  // above its owner); a tool window stays out of the taskbar; clicks go through it.
  window_.reset(CreateWindowExW(
      WS_EX_LAYERED | WS_EX_TRANSPARENT | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, L"Static", L"",
      WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr));
  if (!window_) {
    LOG(ERROR, "Create") << "Failed to create the shadow window";
    return false;
  }
  composed_size_ = SIZE{0, 0};
  UpdatePosition();
  return true;
}

HBITMAP ShadowWindow::Compose(SIZE target_size, void** bits) const {
  const int total_width = target_size.cx + 2 * width_;
  const int total_height = target_size.cy + 2 * width_;
  if (total_width <= 0 || total_height <= 0) return nullptr;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = total_width;
  info.bmiHeader.biHeight = -total_height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* pixels = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
  if (bitmap == nullptr || pixels == nullptr) {
    if (bitmap != nullptr) DeleteObject(bitmap);
    return nullptr;
  }
  {
    // GDI+ over the section's own memory keeps the alpha channel, which drawing through a
    // device context would drop. A new section is all zero: fully transparent.
    Gdiplus::Bitmap canvas(total_width, total_height, total_width * 4,
                           PixelFormat32bppPARGB, static_cast<BYTE*>(pixels));
    Gdiplus::Graphics graphics(&canvas);
    graphics.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
    const int w = width_;
    const int right = total_width;
    const int bottom = total_height;
    if (style_ == Style::kMainWindow) {
      const int c = corners_[0].width();
      DrawStretched(graphics, corners_[0], RECT{0, 0, c, c});
      DrawStretched(graphics, corners_[1], RECT{right - c, 0, right, c});
      DrawStretched(graphics, corners_[2], RECT{right - c, bottom - c, right, bottom});
      DrawStretched(graphics, corners_[3], RECT{0, bottom - c, c, bottom});
      DrawStretched(graphics, edges_[0], RECT{0, c, w, bottom - c});
      DrawStretched(graphics, edges_[1], RECT{c, 0, right - c, w});
      DrawStretched(graphics, edges_[2], RECT{right - w, c, right, bottom - c});
      DrawStretched(graphics, edges_[3], RECT{c, bottom - w, right - c, bottom});
    } else {
      DrawStretched(graphics, edges_[1], RECT{0, 0, right, w});
      DrawStretched(graphics, edges_[3], RECT{0, bottom - w, right, bottom});
      DrawStretched(graphics, edges_[0], RECT{0, w, w, bottom - w});
      DrawStretched(graphics, edges_[2], RECT{right - w, w, right, bottom - w});
    }
  }
  GdiFlush();
  if (bits != nullptr) *bits = pixels;
  return bitmap;
}

void ShadowWindow::Redraw(const RECT& shadow_rect) {
  const SIZE target_size = {shadow_rect.right - shadow_rect.left - 2 * width_,
                            shadow_rect.bottom - shadow_rect.top - 2 * width_};
  platform::ScopedBitmap bitmap(Compose(target_size, nullptr));
  if (!bitmap) return;
  HDC screen = GetDC(nullptr);
  platform::ScopedMemoryDc source(CreateCompatibleDC(screen));
  if (source) {
    HGDIOBJ old_bitmap = SelectObject(source.get(), bitmap.get());
    POINT destination = {shadow_rect.left, shadow_rect.top};
    SIZE size = {shadow_rect.right - shadow_rect.left, shadow_rect.bottom - shadow_rect.top};
    POINT origin = {0, 0};
    BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    if (UpdateLayeredWindow(window_.get(), screen, &destination, &size, source.get(), &origin,
                            0, &blend, ULW_ALPHA)) {
      composed_size_ = size;
    }
    SelectObject(source.get(), old_bitmap);
  }
  if (screen != nullptr) ReleaseDC(nullptr, screen);
}

void ShadowWindow::UpdatePosition() {
  RECT rect;
  if (!window_ || target_ == nullptr || !GetWindowRect(target_, &rect)) return;
  InflateRect(&rect, width_, width_);
  const SIZE size = {rect.right - rect.left, rect.bottom - rect.top};
  if (size.cx != composed_size_.cx || size.cy != composed_size_.cy) Redraw(rect);
  // Right behind the target in the z-order.
  SetWindowPos(window_.get(), target_, rect.left, rect.top, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
}

void ShadowWindow::Show(bool visible) {
  if (!window_) return;
  if (visible) {
    UpdatePosition();
    ShowWindow(window_.get(), SW_SHOWNOACTIVATE);
  } else {
    ShowWindow(window_.get(), SW_HIDE);
  }
}

}  // namespace lite_installer
