#include "ui/resource_bitmap.h"

#include <objbase.h>
#include <gdiplus.h>

#include <atomic>
#include <cstring>

#include "platform/logging.h"
#include "ui/scale.h"

namespace installer {

struct ResourceBitmap::Shared {
  std::atomic<long> references{1};
  Gdiplus::Image* image = nullptr;
};

namespace {

struct VariantEntry {
  uint32_t id;
  uint32_t double_id;
};

constexpr VariantEntry kDoubleResolutionVariants[] = {
    {1065, 1071},
    {301, 1069},
    {304, 1070},
    {1066, 1072},
};

// A stream over a movable copy of `data`; the stream frees the block when released.
IStream* StreamOverCopy(const void* data, size_t size) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size != 0 ? size : 1);
  if (block == nullptr) return nullptr;
  void* target = GlobalLock(block);
  if (target == nullptr) {
    GlobalFree(block);
    return nullptr;
  }
  if (size != 0) memcpy(target, data, size);
  GlobalUnlock(block);
  IStream* stream = nullptr;
  if (FAILED(CreateStreamOnHGlobal(block, TRUE, &stream)) || stream == nullptr) {
    GlobalFree(block);
    return nullptr;
  }
  return stream;
}

bool IsEmptyRect(const RECT& rect) { return rect.right <= rect.left || rect.bottom <= rect.top; }

}  // namespace

BitmapVariant ChooseBitmapVariant(uint32_t id, double device_scale_factor) {
  if (device_scale_factor != 1.0) {
    for (const VariantEntry& entry : kDoubleResolutionVariants) {
      if (entry.id == id) return BitmapVariant{entry.double_id, 2.0};
    }
  }
  return BitmapVariant{id, 1.0};
}

ResourceBitmap::ResourceBitmap(HBITMAP bitmap) {
  HBITMAP copy = bitmap != nullptr
                     ? static_cast<HBITMAP>(CopyImage(bitmap, IMAGE_BITMAP, 0, 0,
                                                      LR_CREATEDIBSECTION))
                     : nullptr;
  Gdiplus::Bitmap* image = nullptr;
  if (copy != nullptr) {
    image = Gdiplus::Bitmap::FromHBITMAP(copy, nullptr);
    DeleteObject(copy);
  }
  if (image == nullptr || image->GetLastStatus() != Gdiplus::Ok) {
    delete image;
    logging::LogText(logging::kERROR, "ResourceBitmap", __LINE__,
                     "Failed to construct a ResourceBitmap from HBITMAP");
    return;
  }
  Adopt(image, 1.0);
}

ResourceBitmap::~ResourceBitmap() { Drop(); }

ResourceBitmap::ResourceBitmap(const ResourceBitmap& other)
    : image_(other.image_), scale_(other.scale_) {
  if (image_ != nullptr) image_->references.fetch_add(1);
}

ResourceBitmap& ResourceBitmap::operator=(const ResourceBitmap& other) {
  if (this != &other) {
    if (other.image_ != nullptr) other.image_->references.fetch_add(1);
    Drop();
    image_ = other.image_;
    scale_ = other.scale_;
  }
  return *this;
}

ResourceBitmap::ResourceBitmap(ResourceBitmap&& other) noexcept
    : image_(other.image_), scale_(other.scale_) {
  other.image_ = nullptr;
}

ResourceBitmap& ResourceBitmap::operator=(ResourceBitmap&& other) noexcept {
  if (this != &other) {
    Drop();
    image_ = other.image_;
    scale_ = other.scale_;
    other.image_ = nullptr;
  }
  return *this;
}

void ResourceBitmap::Adopt(Gdiplus::Image* image, double scale) {
  Drop();
  image_ = new Shared;
  image_->image = image;
  scale_ = scale;
}

void ResourceBitmap::Drop() {
  if (image_ != nullptr && image_->references.fetch_sub(1) == 1) {
    delete image_->image;
    delete image_;
  }
  image_ = nullptr;
}

bool ResourceBitmap::Load(uint32_t id, double asset_scale) {
  return LoadFromModule(GetModuleHandleW(nullptr), id, asset_scale);
}

bool ResourceBitmap::LoadFromModule(HMODULE module, uint32_t id, double asset_scale) {
  Drop();
  IStream* stream = nullptr;
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
  HGLOBAL loaded = found != nullptr ? LoadResource(module, found) : nullptr;
  const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (data != nullptr) stream = StreamOverCopy(data, SizeofResource(module, found));
  if (stream == nullptr) {
    LOG(ERROR, "Load") << "Failed to create the resource " << id << " stream";
    return false;
  }
  const bool loaded_image = LoadFromStream(stream, GetDeviceScaleFactor() / asset_scale);
  stream->Release();
  return loaded_image;
}

bool ResourceBitmap::LoadScaled(uint32_t id) {
  const BitmapVariant variant = ChooseBitmapVariant(id, GetDeviceScaleFactor());
  return Load(variant.id, variant.asset_scale);
}

bool ResourceBitmap::LoadFromStream(IStream* stream, double scale) {
  Drop();
  Gdiplus::Image* image =
      stream != nullptr ? Gdiplus::Image::FromStream(stream, TRUE) : nullptr;
  if (image == nullptr || image->GetLastStatus() != Gdiplus::Ok || image->GetWidth() == 0 ||
      image->GetHeight() == 0) {
    delete image;
    logging::LogText(logging::kERROR, "Load", __LINE__, "Failed to load a bitmap");
    return false;
  }
  Adopt(image, scale);
  return true;
}

bool ResourceBitmap::LoadFromBytes(std::string_view data, double scale) {
  IStream* stream = StreamOverCopy(data.data(), data.size());
  if (stream == nullptr) {
    Drop();
    logging::LogText(logging::kERROR, "Load", __LINE__, "Failed to load a bitmap");
    return false;
  }
  const bool loaded = LoadFromStream(stream, scale);
  stream->Release();
  return loaded;
}

int ResourceBitmap::pixel_width() const {
  return image_ != nullptr ? static_cast<int>(image_->image->GetWidth()) : 0;
}

int ResourceBitmap::pixel_height() const {
  return image_ != nullptr ? static_cast<int>(image_->image->GetHeight()) : 0;
}

int ResourceBitmap::width() const { return static_cast<int>(pixel_width() * scale_); }

int ResourceBitmap::height() const { return static_cast<int>(pixel_height() * scale_); }

Gdiplus::Image* ResourceBitmap::image() const {
  return image_ != nullptr ? image_->image : nullptr;
}

void ResourceBitmap::Draw(HDC dc, const RECT& source, const RECT& destination) const {
  if (image_ == nullptr || dc == nullptr || IsEmptyRect(source) || IsEmptyRect(destination) ||
      scale_ <= 0.0) {
    return;
  }
  Gdiplus::Graphics graphics(dc);
  // Pixel centres on half coordinates and mirrored edges: a stretched 292 x 4 bar or a
  // 1-pixel shadow edge would otherwise blend its border with transparent black.
  graphics.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
  Gdiplus::ImageAttributes attributes;
  attributes.SetWrapMode(Gdiplus::WrapModeTileFlipXY);
  const Gdiplus::Rect target(destination.left, destination.top,
                             destination.right - destination.left,
                             destination.bottom - destination.top);
  const double to_pixels = 1.0 / scale_;
  const Gdiplus::REAL source_x = static_cast<Gdiplus::REAL>(source.left * to_pixels);
  const Gdiplus::REAL source_y = static_cast<Gdiplus::REAL>(source.top * to_pixels);
  const Gdiplus::REAL source_width =
      static_cast<Gdiplus::REAL>((source.right - source.left) * to_pixels);
  const Gdiplus::REAL source_height =
      static_cast<Gdiplus::REAL>((source.bottom - source.top) * to_pixels);
  if (target.Width == source_width && target.Height == source_height) {
    graphics.SetInterpolationMode(Gdiplus::InterpolationModeNearestNeighbor);
  }
  const Gdiplus::RectF target_f(static_cast<Gdiplus::REAL>(target.X),
                                static_cast<Gdiplus::REAL>(target.Y),
                                static_cast<Gdiplus::REAL>(target.Width),
                                static_cast<Gdiplus::REAL>(target.Height));
  graphics.DrawImage(image_->image, target_f, source_x, source_y, source_width, source_height,
                     Gdiplus::UnitPixel, &attributes);
}

void ResourceBitmap::Draw(HDC dc, const RECT& destination) const {
  Draw(dc, RECT{0, 0, width(), height()}, destination);
}

void ResourceBitmap::DrawAt(HDC dc, int x, int y) const {
  Draw(dc, RECT{x, y, x + width(), y + height()});
}

void DrawParentBackground(HDC dc, HWND control, const ResourceBitmap& background) {
  HWND parent = GetParent(control);
  RECT rect;
  if (parent == nullptr || !GetWindowRect(control, &rect)) return;
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
  background.Draw(dc, rect, RECT{0, 0, rect.right - rect.left, rect.bottom - rect.top});
}

}  // namespace installer
