#include "ui/offscreen_buffer.h"

namespace lite_installer {

OffscreenBuffer::OffscreenBuffer(HDC target, int x, int y, int width, int height,
                                 bool copy_target)
    : target_(target), x_(x), y_(y), width_(width), height_(height) {
  if (target == nullptr || width <= 0 || height <= 0) return;
  dc_.reset(CreateCompatibleDC(target));
  bitmap_.reset(CreateCompatibleBitmap(target, width, height));
  if (!valid()) return;
  old_bitmap_ = SelectObject(dc_.get(), bitmap_.get());
  if (copy_target) BitBlt(dc_.get(), 0, 0, width, height, target, x, y, SRCCOPY);
}

OffscreenBuffer::~OffscreenBuffer() {
  // The bitmap must leave the device context before either is deleted.
  if (old_bitmap_ != nullptr) SelectObject(dc_.get(), old_bitmap_);
}

bool OffscreenBuffer::CopyTo() const {
  return valid() &&
         BitBlt(target_, x_, y_, width_, height_, dc_.get(), 0, 0, SRCCOPY) != FALSE;
}

void PrintParentBehind(HDC dc, HWND control) {
  HWND parent = GetParent(control);
  if (parent == nullptr) return;
  POINT origin = {0, 0};
  MapWindowPoints(control, parent, &origin, 1);
  POINT old_origin;
  if (!SetViewportOrgEx(dc, -origin.x, -origin.y, &old_origin)) return;
  SendMessageW(parent, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
  SetViewportOrgEx(dc, old_origin.x, old_origin.y, nullptr);
}

}  // namespace lite_installer
