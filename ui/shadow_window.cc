#include "ui/shadow_window.h"

#include <gdiplus.h>

#include <cstdint>
#include <vector>

#include "platform/logging.h"
#include "resources/image_ids.h"
#include "ui/scale.h"

namespace lite_installer {
namespace {

// The pixels of `picture` at its own size, premultiplied 0xAARRGGBB, copied 1:1.
std::vector<uint32_t> PicturePixels(const installer::ResourceBitmap& picture) {
  const int width = picture.pixel_width();
  const int height = picture.pixel_height();
  if (picture.image() == nullptr || width == 0 || height == 0) return {};
  std::vector<uint32_t> pixels(static_cast<size_t>(width) * height, 0);
  Gdiplus::Bitmap copy(width, height, width * 4, PixelFormat32bppPARGB,
                       reinterpret_cast<BYTE*>(pixels.data()));
  Gdiplus::Graphics graphics(&copy);
  graphics.SetCompositingMode(Gdiplus::CompositingModeSourceCopy);
  graphics.DrawImage(picture.image(), 0, 0, width, height);
  return pixels;
}

// Stretches `picture` into `target` of the canvas by nearest pixels. Done by hand: the
// pieces are a few pixels thick, and a resampling filter (Wine's GDI+ at a factor other
// than 1 shifts a stretched strip by a pixel) would blur or move the shadow's profile.
void DrawStretched(uint32_t* canvas, int canvas_width, int canvas_height,
                   const installer::ResourceBitmap& picture, const RECT& target) {
  const std::vector<uint32_t> source = PicturePixels(picture);
  const int source_width = picture.pixel_width();
  const int source_height = picture.pixel_height();
  const int target_width = target.right - target.left;
  const int target_height = target.bottom - target.top;
  if (source.empty() || target_width <= 0 || target_height <= 0) return;
  for (int y = target.top; y < target.bottom; ++y) {
    if (y < 0 || y >= canvas_height) continue;
    const int source_y = (y - target.top) * source_height / target_height;
    for (int x = target.left; x < target.right; ++x) {
      if (x < 0 || x >= canvas_width) continue;
      const int source_x = (x - target.left) * source_width / target_width;
      canvas[y * canvas_width + x] = source[source_y * source_width + source_x];
    }
  }
}

}  // namespace

bool ShadowWindow::Create(HWND target, Style style) {
  target_ = target;
  style_ = style;
  width_ = installer::ScaleLength(kShadowWidth);
  // Unowned, so that it can sit behind the window it follows (an owned window always stays
  // above its owner); a tool window stays out of the taskbar; clicks go through it.
  window_.reset(CreateWindowExW(
      WS_EX_LAYERED | WS_EX_TRANSPARENT | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, L"Static", L"",
      WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr));
  if (!window_) {
    logging::LogText(logging::kERROR, "Create", __LINE__, "Failed to create the shadow window");
    return false;
  }
  composed_size_ = SIZE{0, 0};
  // A first picture with per-pixel alpha, one clear pixel, while the target is not shown
  // yet. Wine's X11 driver gives a window an X window of its own with an alpha channel the
  // first time it gets such a picture, and a new X window comes at the top of the stack;
  // the driver only ever raises windows, never places one below another. Made now, the
  // shadow's X window goes under the target as soon as the target is shown. Made after
  // that, it would cover the target, and its clear pixels show black where no compositing
  // window manager runs.
  void* pixel = nullptr;
  platform::ScopedBitmap clear(NewCanvas(SIZE{1, 1}, &pixel));
  if (clear) Present(clear.get(), RECT{0, 0, 1, 1});
  Follow();
  return true;
}

void ShadowWindow::LoadPictures() {
  if (pictures_loaded_) return;
  pictures_loaded_ = true;
  const uint32_t corner_ids[4] = {IDB_SHADOW_TOP_LEFT, IDB_SHADOW_TOP_RIGHT,
                                  IDB_SHADOW_BOTTOM_RIGHT, IDB_SHADOW_BOTTOM_LEFT};
  const uint32_t edge_ids[4] = {IDB_SHADOW_LEFT, IDB_SHADOW_TOP, IDB_SHADOW_RIGHT,
                                IDB_SHADOW_BOTTOM};
  for (int i = 0; i < 4; ++i) {
    if (style_ == Style::kMainWindow) corners_[i].LoadScaled(corner_ids[i]);
    edges_[i].LoadScaled(edge_ids[i]);
  }
}

HBITMAP ShadowWindow::NewCanvas(SIZE size, void** bits) {
  if (size.cx <= 0 || size.cy <= 0) return nullptr;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = size.cx;
  info.bmiHeader.biHeight = -size.cy;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* pixels = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
  if (bitmap == nullptr || pixels == nullptr) {
    if (bitmap != nullptr) DeleteObject(bitmap);
    return nullptr;
  }
  *bits = pixels;
  return bitmap;
}

HBITMAP ShadowWindow::Compose(SIZE target_size, void** bits) {
  const int total_width = target_size.cx + 2 * width_;
  const int total_height = target_size.cy + 2 * width_;
  void* pixels = nullptr;
  HBITMAP bitmap = NewCanvas(SIZE{total_width, total_height}, &pixels);
  if (bitmap == nullptr) return nullptr;
  LoadPictures();
  // A new section is all zero: fully transparent. The pieces do not overlap.
  uint32_t* canvas = static_cast<uint32_t*>(pixels);
  const int w = width_;
  const int right = total_width;
  const int bottom = total_height;
  auto draw = [&](const installer::ResourceBitmap& picture, const RECT& target) {
    DrawStretched(canvas, total_width, total_height, picture, target);
  };
  if (style_ == Style::kMainWindow) {
    const int c = corners_[0].width();
    draw(corners_[0], RECT{0, 0, c, c});
    draw(corners_[1], RECT{right - c, 0, right, c});
    draw(corners_[2], RECT{right - c, bottom - c, right, bottom});
    draw(corners_[3], RECT{0, bottom - c, c, bottom});
    draw(edges_[0], RECT{0, c, w, bottom - c});
    draw(edges_[1], RECT{c, 0, right - c, w});
    draw(edges_[2], RECT{right - w, c, right, bottom - c});
    draw(edges_[3], RECT{c, bottom - w, right - c, bottom});
  } else {
    draw(edges_[1], RECT{0, 0, right, w});
    draw(edges_[3], RECT{0, bottom - w, right, bottom});
    draw(edges_[0], RECT{0, w, w, bottom - w});
    draw(edges_[2], RECT{right - w, w, right, bottom - w});
  }
  GdiFlush();
  if (bits != nullptr) *bits = pixels;
  return bitmap;
}

void ShadowWindow::Redraw(const RECT& shadow_rect) {
  const SIZE target_size = {shadow_rect.right - shadow_rect.left - 2 * width_,
                            shadow_rect.bottom - shadow_rect.top - 2 * width_};
  platform::ScopedBitmap bitmap(Compose(target_size, nullptr));
  if (bitmap && Present(bitmap.get(), shadow_rect)) {
    composed_size_ =
        SIZE{shadow_rect.right - shadow_rect.left, shadow_rect.bottom - shadow_rect.top};
  }
}

bool ShadowWindow::Present(HBITMAP picture, const RECT& rect) {
  HDC screen = GetDC(nullptr);
  platform::ScopedMemoryDc source(CreateCompatibleDC(screen));
  bool presented = false;
  if (source) {
    HGDIOBJ old_bitmap = SelectObject(source.get(), picture);
    POINT destination = {rect.left, rect.top};
    SIZE size = {rect.right - rect.left, rect.bottom - rect.top};
    POINT origin = {0, 0};
    BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    presented = UpdateLayeredWindow(window_.get(), screen, &destination, &size, source.get(),
                                    &origin, 0, &blend, ULW_ALPHA) != FALSE;
    SelectObject(source.get(), old_bitmap);
  }
  if (screen != nullptr) ReleaseDC(nullptr, screen);
  return presented;
}

void ShadowWindow::Follow() {
  if (!window_ || target_ == nullptr) return;
  RECT rect;
  if (!IsWindowVisible(target_) || IsIconic(target_) || !GetWindowRect(target_, &rect)) {
    if (IsWindowVisible(window_.get())) {
      SetWindowPos(window_.get(), nullptr, 0, 0, 0, 0,
                   SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_HIDEWINDOW);
    }
    return;
  }
  InflateRect(&rect, width_, width_);
  const SIZE size = {rect.right - rect.left, rect.bottom - rect.top};
  if (size.cx != composed_size_.cx || size.cy != composed_size_.cy) Redraw(rect);
  // Shown right behind the target in one call.
  SetWindowPos(window_.get(), target_, rect.left, rect.top, 0, 0,
               SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
}

}  // namespace lite_installer
