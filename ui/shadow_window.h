// A soft drop shadow behind a borderless window: a separate layered popup of the system
// static class, `width` pixels larger than the window on every side, kept just behind it
// in the z-order and painted with per-pixel alpha.
//
// The main window's shadow is made of eight pictures (four 16 x 16 corners, four edges
// stretched between them); a message dialog's of the four edges only, the top and bottom
// ones running the full width. The shadow does not follow its window by itself: the window
// calls `UpdatePosition` when it moves or changes size (WM_WINDOWPOSCHANGED) and `Show`
// when it is shown or hidden. The shadow window is destroyed with the object.
#ifndef UI_SHADOW_WINDOW_H_
#define UI_SHADOW_WINDOW_H_

#include <windows.h>

#include "platform/scoped_handle.h"
#include "ui/resource_bitmap.h"

namespace lite_installer {

class ShadowWindow {
 public:
  enum class Style { kMainWindow, kMessageDialog };
  // Width of the shadow in design pixels (scaled).
  static constexpr int kShadowWidth = 8;

  ShadowWindow() = default;
  ~ShadowWindow() = default;
  ShadowWindow(const ShadowWindow&) = delete;
  ShadowWindow& operator=(const ShadowWindow&) = delete;

  // Loads the pictures, creates the hidden shadow window for `target` and places it. False
  // (logged) when the window cannot be made.
  bool Create(HWND target, Style style);
  // Follows the target's current rectangle: composes the picture again when the size
  // changed, moves the shadow and puts it just behind the target.
  void UpdatePosition();
  // Shows (without activating) or hides the shadow.
  void Show(bool visible);

  HWND hwnd() const { return window_.get(); }
  HWND target() const { return target_; }

  // Composes the shadow picture for a target of `target_size` into a new 32-bit top-down
  // premultiplied-alpha DIB section of (target size + 2 × width) in each direction; `bits`
  // receives its pixels. Null when the bitmap cannot be made.
  HBITMAP ComposeForTesting(SIZE target_size, void** bits) const {
    return Compose(target_size, bits);
  }

 private:
  HBITMAP Compose(SIZE target_size, void** bits) const;
  void Redraw(const RECT& shadow_rect);

  HWND target_ = nullptr;
  Style style_ = Style::kMainWindow;
  int width_ = 0;
  // Corners: top-left, top-right, bottom-right, bottom-left; edges: left, top, right, bottom.
  installer::ResourceBitmap corners_[4];
  installer::ResourceBitmap edges_[4];
  platform::ScopedWindow window_;
  SIZE composed_size_ = {0, 0};
};

}  // namespace lite_installer

#endif  // UI_SHADOW_WINDOW_H_
