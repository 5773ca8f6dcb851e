// What every window of the installer needs from the system, for the whole master run.
//
// COM for the main thread (the shell objects, the taskbar progress), the common controls
// of the link and progress classes, and GDI+ (every picture is decoded and drawn with it).
// The object is made before the first window and dies after the last one; it undoes what
// it did in reverse order. A part that fails to start is not undone, and the installer goes
// on: the window then shows what it can.
#ifndef UI_UI_ENVIRONMENT_H_
#define UI_UI_ENVIRONMENT_H_

#include <windows.h>

#include <cstdint>

namespace installer {

// InitCommonControlsEx classes: ICC_LINK_CLASS | ICC_PROGRESS_CLASS.
inline constexpr DWORD kCommonControlClasses = 0x8020;

class UiEnvironment {
 public:
  UiEnvironment();
  ~UiEnvironment();
  UiEnvironment(const UiEnvironment&) = delete;
  UiEnvironment& operator=(const UiEnvironment&) = delete;

  bool com_initialized() const { return com_initialized_; }
  bool common_controls_initialized() const { return common_controls_initialized_; }
  bool gdiplus_started() const { return gdiplus_token_ != 0; }

 private:
  bool com_initialized_ = false;
  bool common_controls_initialized_ = false;
  ULONG_PTR gdiplus_token_ = 0;
};

}  // namespace installer

#endif  // UI_UI_ENVIRONMENT_H_
