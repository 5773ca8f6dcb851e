// Pictures of the interface: images decoded by GDI+ from PNG or JPEG data, from the
// installer's own resources (type RT_RCDATA) or from the network, with a size multiplier.
//
// A `ResourceBitmap` is a small value: copies share one decoded image, which is freed with
// the last copy (the count is atomic, so copies may cross threads; drawing one image from two
// threads at once is not allowed by GDI+). Its logical size is the image's pixel size times
// `scale`, truncated; an empty bitmap measures 0 x 0 and draws nothing. Loading failures are
// logged and leave the bitmap empty. GDI+ must have been started (UiEnvironment) before any
// bitmap is loaded or drawn, and every bitmap must be gone before it is shut down.
#ifndef UI_RESOURCE_BITMAP_H_
#define UI_RESOURCE_BITMAP_H_

#include <windows.h>
#include <objidl.h>

#include <cstdint>
#include <string_view>

namespace Gdiplus {
class Image;
}

namespace installer {

// Which resource to load for a picture id at a device scale factor: the id itself with
// asset scale 1.0 at exactly 1.0, otherwise its double-resolution variant with asset scale
// 2.0 when it has one (301 -> 1069, 304 -> 1070, 1065 -> 1071, 1066 -> 1072).
struct BitmapVariant {
  uint32_t id;
  double asset_scale;
};
BitmapVariant ChooseBitmapVariant(uint32_t id, double device_scale_factor);

class ResourceBitmap {
 public:
  ResourceBitmap() = default;
  // A device-independent copy of `bitmap` (which stays the caller's) turned into a GDI+
  // bitmap, scale 1.0. On failure logs "Failed to construct a ResourceBitmap from HBITMAP"
  // (function "ResourceBitmap") and stays empty.
  explicit ResourceBitmap(HBITMAP bitmap);
  ~ResourceBitmap();
  ResourceBitmap(const ResourceBitmap& other);
  ResourceBitmap& operator=(const ResourceBitmap& other);
  ResourceBitmap(ResourceBitmap&& other) noexcept;
  ResourceBitmap& operator=(ResourceBitmap&& other) noexcept;

  // Loads picture `id` from the installer's own module with `asset_scale` (the resolution the
  // picture was drawn for: 1.0, or 2.0 for a double-resolution asset); on success scale =
  // device scale factor / asset_scale. Failures log under "Load": "Failed to create the
  // resource <id> stream" or "Failed to load a bitmap", and leave the bitmap empty (an
  // earlier image is dropped either way). Returns whether an image is held.
  bool Load(uint32_t id, double asset_scale);
  // The same from `module`, which may be a file loaded as a data file (LoadLibraryEx with
  // LOAD_LIBRARY_AS_DATAFILE).
  bool LoadFromModule(HMODULE module, uint32_t id, double asset_scale);
  // `Load` of the variant `ChooseBitmapVariant` picks for the process's scale factor.
  bool LoadScaled(uint32_t id);
  // Decodes `stream` (GDI+ keeps its own reference for as long as the image lives) and sets
  // `scale`. On a decoding failure logs "Failed to load a bitmap" under "Load".
  bool LoadFromStream(IStream* stream, double scale);
  // `LoadFromStream` over a copy of `data` in a movable memory block.
  bool LoadFromBytes(std::string_view data, double scale);

  bool empty() const { return image_ == nullptr; }
  // Logical size: pixel size × scale, truncated; 0 when empty.
  int width() const;
  int height() const;
  // Size of the decoded image in pixels; 0 when empty.
  int pixel_width() const;
  int pixel_height() const;
  double scale() const { return scale_; }

  // Draws the part `source` (in logical units: the space of width() and height()) into
  // `destination` on `dc`, stretched, with per-pixel alpha, through GDI+. Does nothing when
  // the bitmap is empty or either rectangle is empty.
  void Draw(HDC dc, const RECT& source, const RECT& destination) const;
  // The whole picture into `destination`.
  void Draw(HDC dc, const RECT& destination) const;
  // The whole picture at its logical size with its top-left corner at (x, y).
  void DrawAt(HDC dc, int x, int y) const;

  // The shared image, for code that draws with GDI+ itself (null when empty).
  Gdiplus::Image* image() const;

 private:
  struct Shared;
  void Adopt(Gdiplus::Image* image, double scale);
  void Drop();

  Shared* image_ = nullptr;
  double scale_ = 1.0;
};

// Draws the part of `background` (a picture drawn at its logical size at the origin of the
// client area of `control`'s parent) that lies behind `control`, into `dc` at (0, 0), at
// the control's size. For controls that paint the window's background themselves before
// their own content.
void DrawParentBackground(HDC dc, HWND control, const ResourceBitmap& background);

}  // namespace installer

#endif  // UI_RESOURCE_BITMAP_H_
