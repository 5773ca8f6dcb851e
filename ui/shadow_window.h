// A soft drop shadow behind a borderless window: a separate layered popup of the system
// static class, `width` pixels larger than the window on every side, kept just behind it
// in the z-order and painted with per-pixel alpha.
//
// The main window's shadow is made of eight pictures (four 16 x 16 corners, four edges
// stretched between them); a message dialog's of the four edges only, the top and bottom
// ones running the full width. The shadow does not follow its window by itself: the window
// calls `Follow` on every WM_WINDOWPOSCHANGED, the one message that every show, hide, move,
// resize and change of the z-order sends (EndDialog hides a dialog without WM_SHOWWINDOW),
// and `Destroy` when it is destroyed itself.
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

  // Creates the shadow window for `target` and lets it follow the target at once. Call it
  // before the target is first shown: a shadow made later may stand over its target under
  // Wine. False (logged) when the window cannot be made.
  bool Create(HWND target, Style style);
  // Matches the target: while the target is visible and not minimised, the shadow is shown
  // (without activating) around its rectangle and just behind it in the z-order, its picture
  // composed again when the size changed (the pictures are loaded the first time);
  // otherwise it is hidden.
  void Follow();
  // Destroys the shadow window (a later `Follow` does nothing).
  void Destroy() { window_.reset(); }

  HWND hwnd() const { return window_.get(); }
  HWND target() const { return target_; }

  // Composes the shadow picture for a target of `target_size` into a new 32-bit top-down
  // premultiplied-alpha DIB section of (target size + 2 × width) in each direction; `bits`
  // receives its pixels. Null when the bitmap cannot be made.
  HBITMAP ComposeForTesting(SIZE target_size, void** bits) { return Compose(target_size, bits); }

 private:
  // A new 32-bit top-down DIB section of `size`, all clear; null when GDI refuses.
  static HBITMAP NewCanvas(SIZE size, void** bits);
  void LoadPictures();
  HBITMAP Compose(SIZE target_size, void** bits);
  void Redraw(const RECT& shadow_rect);
  // Makes `picture` the window's per-pixel-alpha picture at `rect` of the screen.
  bool Present(HBITMAP picture, const RECT& rect);

  HWND target_ = nullptr;
  Style style_ = Style::kMainWindow;
  int width_ = 0;
  // Corners: top-left, top-right, bottom-right, bottom-left; edges: left, top, right, bottom.
  installer::ResourceBitmap corners_[4];
  installer::ResourceBitmap edges_[4];
  bool pictures_loaded_ = false;
  platform::ScopedWindow window_;
  SIZE composed_size_ = {0, 0};
};

}  // namespace lite_installer

#endif  // UI_SHADOW_WINDOW_H_
