// The progress bar of the progress screen: a standard progress-bar control painted as two
// pictures, the filled part (313) from the left edge and the empty part (314) to the right
// edge, each stretched to its share of the control. Painting is double-buffered; range and
// position stay in the control, so the standard messages (PBM_SETRANGE32, PBM_SETPOS) work
// as well as the methods here.
#ifndef UI_CUSTOM_PROGRESS_BAR_H_
#define UI_CUSTOM_PROGRESS_BAR_H_

#include <windows.h>

#include "ui/resource_bitmap.h"
#include "ui/subclassed_control.h"

namespace lite_installer {

// Width of the filled part: `width` × (position − low) / (high − low), integer division,
// with the position clamped to the range; 0 for an empty or reversed range.
int FilledWidth(int width, int low, int high, int position);

class CustomProgressBar : public SubclassedControl {
 public:
  // `control` is the dialog's progress-bar control (1012). `background` (may be null, not
  // owned) is the window's background picture, drawn behind the bar unless
  // `paints_own_background`.
  CustomProgressBar(HWND control, const installer::ResourceBitmap* background,
                    bool paints_own_background);

  void SetRange(int low, int high);
  void SetPosition(int position);
  int GetPosition() const;

  // Paints the whole control into `dc` (client coordinates) through an off-screen bitmap.
  void Paint(HDC dc) const override;

 protected:
  LRESULT WindowProc(UINT message, WPARAM wparam, LPARAM lparam) override;

 private:
  installer::ResourceBitmap filled_;
  installer::ResourceBitmap empty_;
  const installer::ResourceBitmap* background_;
  bool paints_own_background_;
};

}  // namespace lite_installer

#endif  // UI_CUSTOM_PROGRESS_BAR_H_
