#include "ui/ui_environment.h"

#include <commctrl.h>
#include <objbase.h>
#include <objidl.h>
#include <gdiplus.h>

namespace installer {

UiEnvironment::UiEnvironment() {
  // S_FALSE (already initialised on this thread) also needs its CoUninitialize.
  com_initialized_ = SUCCEEDED(CoInitialize(nullptr));
  INITCOMMONCONTROLSEX controls = {sizeof(controls), kCommonControlClasses};
  common_controls_initialized_ = InitCommonControlsEx(&controls) != FALSE;
  Gdiplus::GdiplusStartupInput input;
  ULONG_PTR token = 0;
  if (Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok) gdiplus_token_ = token;
}

UiEnvironment::~UiEnvironment() {
  if (gdiplus_token_ != 0) Gdiplus::GdiplusShutdown(gdiplus_token_);
  // The common controls have nothing to release.
  if (com_initialized_) CoUninitialize();
}

}  // namespace installer
