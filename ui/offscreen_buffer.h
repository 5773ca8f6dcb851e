// A memory device context with a bitmap compatible with a target device context, for
// painting without flicker: start from a copy of the target's pixels, paint into `dc()`, then
// copy the result back with `CopyTo`. All GDI objects are released with the buffer.
// `PrintParentBehind` fills such a buffer with what a control's parent shows behind it, for
// controls that have no picture of their own to paint their background from.
#ifndef UI_OFFSCREEN_BUFFER_H_
#define UI_OFFSCREEN_BUFFER_H_

#include <windows.h>

#include "platform/scoped_handle.h"

namespace lite_installer {

class OffscreenBuffer {
 public:
  // A `width` × `height` buffer compatible with `target`, holding a copy of the target's
  // pixels at (`x`, `y`) when `copy_target` is set. `valid()` is false when GDI refuses.
  OffscreenBuffer(HDC target, int x, int y, int width, int height, bool copy_target);
  ~OffscreenBuffer();
  OffscreenBuffer(const OffscreenBuffer&) = delete;
  OffscreenBuffer& operator=(const OffscreenBuffer&) = delete;

  bool valid() const { return dc_.is_valid() && bitmap_.is_valid(); }
  HDC dc() const { return dc_.get(); }
  // Copies the whole buffer back to the target at (x, y). False when the copy fails.
  bool CopyTo() const;

 private:
  HDC target_;
  int x_;
  int y_;
  int width_;
  int height_;
  platform::ScopedMemoryDc dc_;
  platform::ScopedBitmap bitmap_;
  HGDIOBJ old_bitmap_ = nullptr;
};

// Asks the parent of `control` to paint its client area into `dc` (WM_PRINTCLIENT), shifted
// so that the part behind the control lands at the control's own origin. A parent that does
// not answer the message leaves `dc` as it was.
void PrintParentBehind(HDC dc, HWND control);

}  // namespace lite_installer

#endif  // UI_OFFSCREEN_BUFFER_H_
