#include "ui/ui_environment.h"

#include <objbase.h>
#include <objidl.h>
#include <gdiplus.h>

#include <gtest/gtest.h>

namespace installer {
namespace {

TEST(UiEnvironmentTest, ReadyWhileAliveAndUndoneAfterwards) {
  {
    UiEnvironment environment;
    EXPECT_TRUE(environment.com_initialized());
    EXPECT_TRUE(environment.common_controls_initialized());
    ASSERT_TRUE(environment.gdiplus_started());
    // GDI+ can decode and draw: a bitmap can be made.
    Gdiplus::GpBitmap* bitmap = nullptr;
    EXPECT_EQ(Gdiplus::Ok, Gdiplus::DllExports::GdipCreateBitmapFromScan0(
                               4, 4, 0, PixelFormat32bppARGB, nullptr, &bitmap));
    if (bitmap != nullptr) Gdiplus::DllExports::GdipDisposeImage(bitmap);
    // COM is already initialised on this thread.
    HRESULT again = CoInitialize(nullptr);
    EXPECT_EQ(S_FALSE, again);
    if (SUCCEEDED(again)) CoUninitialize();
    // The progress bar class is registered.
    WNDCLASSEXW progress = {sizeof(progress)};
    EXPECT_TRUE(GetClassInfoExW(nullptr, L"msctls_progress32", &progress));
  }
  // Torn down: COM starts afresh on this thread.
  HRESULT fresh = CoInitialize(nullptr);
  EXPECT_EQ(S_OK, fresh);
  if (SUCCEEDED(fresh)) CoUninitialize();
}

}  // namespace
}  // namespace installer
