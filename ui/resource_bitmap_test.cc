#include "ui/resource_bitmap.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/scoped_handle.h"
#include "platform/system_library.h"
#include "tests/support/log_lines.h"
#include "tests/support/test_log.h"
#include "tests/support/test_paths.h"
#include "tests/support/ui_canvas.h"
#include "ui/scale.h"

namespace installer {
namespace {

struct ImageCase {
  uint32_t id;
  int width;
  int height;
  const char* use;
};

const ImageCase kBuiltInImages[] = {
    {298, 36, 12, "cancel strip"},        {299, 96, 16, "check-box glyphs"},
    {301, 166, 28, "offer logo"},         {302, 36, 12, "close strip"},
    {303, 702, 536, "first slide"},       {304, 166, 28, "progress logo"},
    {307, 728, 400, "background"},        {309, 336, 32, "install strip"},
    {313, 292, 4, "bar filled"},          {314, 292, 4, "bar empty"},
    {315, 410, 186, "dialog background"}, {321, 698, 478, "first slide (ru)"},
    {1057, 16, 16, "shadow corner"},      {1058, 16, 16, "shadow corner"},
    {1059, 16, 16, "shadow corner"},      {1060, 16, 16, "shadow corner"},
    {1061, 8, 1, "shadow edge"},          {1062, 1, 8, "shadow edge"},
    {1063, 8, 1, "shadow edge"},          {1064, 1, 8, "shadow edge"},
    {1065, 166, 28, "offer logo (ru)"},   {1066, 166, 28, "progress logo (ru)"},
    {1069, 332, 56, "offer logo 2x"},     {1070, 332, 56, "progress logo 2x"},
    {1071, 332, 56, "offer logo (ru) 2x"}, {1072, 332, 56, "progress logo (ru) 2x"},
};

// The data's format, from its first bytes.
std::string FormatOf(HMODULE module, uint32_t id) {
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10));
  if (found == nullptr) return "missing";
  const auto* data = static_cast<const unsigned char*>(LockResource(LoadResource(module, found)));
  if (data == nullptr || SizeofResource(module, found) < 4) return "short";
  if (data[0] == 0x89 && data[1] == 'P' && data[2] == 'N' && data[3] == 'G') return "PNG";
  if (data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF) return "JPEG";
  return "other";
}

// Where the system folder has no gdiplus.dll (XP), GDI+ comes through the manifest among the
// resources that names its side-by-side assembly; a name that manifest does not redirect is
// never searched for.
TEST(ResourceBitmapTest, GdiPlusLoadsSideBySideThroughTheManifestAlone) {
  HMODULE gdiplus = platform::LoadSideBySideForTesting(L"gdiplus.dll");
  ASSERT_NE(nullptr, gdiplus);
  EXPECT_NE(nullptr, reinterpret_cast<void*>(GetProcAddress(gdiplus, "GdiplusStartup")));
  EXPECT_EQ(nullptr, platform::LoadSideBySideForTesting(L"version.dll"));
}

TEST(ResourceBitmapTest, EveryBuiltInPictureOfTheInstallerLoads) {
  test_support::UiTestEnvironment environment;
  ASSERT_TRUE(environment.ready());
  platform::ScopedModule module(LoadLibraryExW(
      test_support::BuildFile(L"lite_installer.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  ASSERT_TRUE(module);
  for (const ImageCase& image : kBuiltInImages) {
    ResourceBitmap bitmap;
    ASSERT_TRUE(bitmap.LoadFromModule(module.get(), image.id, 1.0)) << image.id;
    EXPECT_EQ(bitmap.pixel_width(), image.width) << image.id << " " << image.use;
    EXPECT_EQ(bitmap.pixel_height(), image.height) << image.id << " " << image.use;
    const bool jpeg = image.id == 303 || image.id == 307 || image.id == 321;
    EXPECT_EQ(FormatOf(module.get(), image.id), jpeg ? "JPEG" : "PNG") << image.id;
  }
}

// The test program carries the same resources, so the in-process loads see them too; the
// logical size follows the scale factor and the asset scale.
TEST(ResourceBitmapTest, LogicalSizeIsPixelsTimesFactorOverAssetScale) {
  test_support::UiTestEnvironment environment;
  const double factor = GetDeviceScaleFactor();
  for (const ImageCase& image : kBuiltInImages) {
    ResourceBitmap normal;
    ASSERT_TRUE(normal.Load(image.id, 1.0)) << image.id;
    EXPECT_DOUBLE_EQ(normal.scale(), factor);
    EXPECT_EQ(normal.width(), static_cast<int>(image.width * factor)) << image.id;
    ResourceBitmap double_asset;
    ASSERT_TRUE(double_asset.Load(image.id, 2.0)) << image.id;
    EXPECT_DOUBLE_EQ(double_asset.scale(), factor / 2.0);
    EXPECT_EQ(double_asset.width(), static_cast<int>(image.width * factor / 2.0)) << image.id;
    EXPECT_EQ(double_asset.height(), static_cast<int>(image.height * factor / 2.0)) << image.id;
  }
}

TEST(ResourceBitmapTest, DoubleResolutionVariantOnlyAwayFromOne) {
  struct Case {
    uint32_t id;
    double factor;
    uint32_t expected_id;
    double expected_scale;
  };
  const Case cases[] = {
      {301, 1.0, 301, 1.0},   {304, 1.0, 304, 1.0},   {1065, 1.0, 1065, 1.0},
      {1066, 1.0, 1066, 1.0}, {301, 1.5, 1069, 2.0},  {304, 1.25, 1070, 2.0},
      {1065, 2.0, 1071, 2.0}, {1066, 0.75, 1072, 2.0}, {301, 1.0000001, 1069, 2.0},
      {309, 1.5, 309, 1.0},   {307, 2.0, 307, 1.0},   {1069, 2.0, 1069, 1.0},
  };
  for (const Case& c : cases) {
    const BitmapVariant variant = ChooseBitmapVariant(c.id, c.factor);
    EXPECT_EQ(variant.id, c.expected_id) << c.id << " at " << c.factor;
    EXPECT_DOUBLE_EQ(variant.asset_scale, c.expected_scale) << c.id << " at " << c.factor;
  }
}

TEST(ResourceBitmapTest, ScaledLoadUsesTheVariantOfTheProcessFactor) {
  test_support::UiTestEnvironment environment;
  const double factor = GetDeviceScaleFactor();
  ResourceBitmap logo;
  ASSERT_TRUE(logo.LoadScaled(301));
  // Either way the logo keeps its 166 x 28 design size at this factor.
  EXPECT_EQ(logo.pixel_width(), factor == 1.0 ? 166 : 332);
  EXPECT_EQ(logo.width(), static_cast<int>(166 * factor));
  EXPECT_EQ(logo.height(), static_cast<int>(28 * factor));
}

TEST(ResourceBitmapTest, FailuresAreLoggedAndLeaveItEmpty) {
  test_support::UiTestEnvironment environment;
  test_support::ScopedTestLog log;
  ResourceBitmap bitmap;
  ASSERT_TRUE(bitmap.Load(309, 1.0));
  EXPECT_FALSE(bitmap.Load(4242, 1.0));
  EXPECT_TRUE(bitmap.empty());
  EXPECT_EQ(bitmap.width(), 0);
  EXPECT_EQ(bitmap.height(), 0);
  EXPECT_FALSE(bitmap.LoadFromBytes("this is not a picture", 1.0));
  EXPECT_FALSE(bitmap.LoadFromBytes("", 1.0));
  const std::vector<std::wstring> lines = test_support::LogMessagesOf(log, L"Load");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].rfind(L"ERROR: Failed to create the resource 4242 stream", 0), 0u);
  EXPECT_EQ(lines[1].rfind(L"ERROR: Failed to load a bitmap", 0), 0u);
  EXPECT_EQ(lines[2].rfind(L"ERROR: Failed to load a bitmap", 0), 0u);

  // An empty bitmap draws nothing.
  test_support::MemoryCanvas canvas(20, 20, RGB(10, 20, 30));
  bitmap.Draw(canvas.dc(), RECT{0, 0, 20, 20});
  EXPECT_EQ(canvas.CountDifferent(RECT{0, 0, 20, 20}, RGB(10, 20, 30), 0), 0);
}

TEST(ResourceBitmapTest, FromBitmapHandleAndSharedCopies) {
  test_support::UiTestEnvironment environment;
  test_support::ScopedTestLog log;
  ResourceBitmap copy;
  {
    test_support::MemoryCanvas source(30, 10, RGB(200, 40, 60));
    HBITMAP handle = static_cast<HBITMAP>(GetCurrentObject(source.dc(), OBJ_BITMAP));
    // GDI+ wants a bitmap that no device context holds; the constructor copies it first.
    HBITMAP detached = static_cast<HBITMAP>(CopyImage(handle, IMAGE_BITMAP, 0, 0,
                                                      LR_CREATEDIBSECTION));
    ASSERT_NE(detached, nullptr);
    ResourceBitmap original(detached);
    DeleteObject(detached);
    ASSERT_FALSE(original.empty());
    EXPECT_EQ(original.width(), 30);
    EXPECT_EQ(original.height(), 10);
    copy = original;
  }
  // The copy outlives the original and still draws the same picture.
  test_support::MemoryCanvas canvas(30, 10, RGB(255, 255, 255));
  copy.Draw(canvas.dc(), RECT{0, 0, 30, 10});
  EXPECT_EQ(canvas.CountDifferent(RECT{0, 0, 30, 10}, RGB(200, 40, 60), 2), 0);

  ResourceBitmap broken(static_cast<HBITMAP>(nullptr));
  EXPECT_TRUE(broken.empty());
  const std::vector<std::wstring> lines = test_support::LogMessagesOf(log, L"ResourceBitmap");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind(L"ERROR: Failed to construct a ResourceBitmap from HBITMAP", 0), 0u);
}

TEST(ResourceBitmapTest, DrawsASourcePartIntoADestination) {
  test_support::UiTestEnvironment environment;
  ResourceBitmap strip;
  ASSERT_TRUE(strip.Load(309, 1.0));
  const int cell = strip.width() / 3;
  // The pressed cell (third) at its own size, then stretched to twice its size.
  test_support::MemoryCanvas canvas(2 * cell, 2 * strip.height(), RGB(255, 0, 255));
  strip.Draw(canvas.dc(), RECT{2 * cell, 0, 3 * cell, strip.height()},
             RECT{0, 0, 2 * cell, 2 * strip.height()});
  const COLORREF centre = canvas.Pixel(cell, strip.height());
  EXPECT_NEAR(GetRValue(centre), 0x1c, 6);
  EXPECT_NEAR(GetGValue(centre), 0x63, 6);
  EXPECT_NEAR(GetBValue(centre), 0xcf, 6);
}

}  // namespace
}  // namespace installer
