#include "tests/support/ui_canvas.h"

#include <cstdlib>

namespace test_support {
namespace {

constexpr wchar_t kTestWindowClass[] = L"LiteInstallerUiTestWindow";

void RegisterTestWindowClass(WNDPROC procedure) {
  WNDCLASSEXW window_class = {};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = procedure;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = kTestWindowClass;
  window_class.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  RegisterClassExW(&window_class);  // fails harmlessly when already registered
}

bool Differ(COLORREF a, COLORREF b, int tolerance) {
  return abs(GetRValue(a) - GetRValue(b)) > tolerance ||
         abs(GetGValue(a) - GetGValue(b)) > tolerance ||
         abs(GetBValue(a) - GetBValue(b)) > tolerance;
}

}  // namespace

TestWindow::TestWindow(int width, int height) {
  RegisterTestWindowClass(&TestWindow::WindowProc);
  hwnd_ = CreateWindowExW(WS_EX_TOOLWINDOW, kTestWindowClass, L"", WS_POPUP, 0, 0, width,
                          height, nullptr, nullptr, GetModuleHandleW(nullptr), this);
}

TestWindow::~TestWindow() {
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);
}

HWND TestWindow::AddChild(const wchar_t* class_name, int id, const wchar_t* text, DWORD style,
                          int x, int y, int width, int height) {
  return CreateWindowExW(0, class_name, text, WS_CHILD | WS_VISIBLE | style, x, y, width, height,
                         hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                         GetModuleHandleW(nullptr), nullptr);
}

LRESULT CALLBACK TestWindow::WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<TestWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (message == WM_COMMAND && self != nullptr) {
    self->commands_.push_back(LOWORD(wparam));
    return 0;
  }
  if (message == WM_NCDESTROY && self != nullptr) self->hwnd_ = nullptr;
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

MemoryCanvas::MemoryCanvas(int width, int height, COLORREF fill)
    : width_(width), height_(height) {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  bitmap_ = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  bits_ = static_cast<uint32_t*>(bits);
  dc_ = CreateCompatibleDC(nullptr);
  old_bitmap_ = SelectObject(dc_, bitmap_);
  HBRUSH brush = CreateSolidBrush(fill);
  RECT all = {0, 0, width, height};
  FillRect(dc_, &all, brush);
  DeleteObject(brush);
}

MemoryCanvas::~MemoryCanvas() {
  SelectObject(dc_, old_bitmap_);
  DeleteDC(dc_);
  DeleteObject(bitmap_);
}

uint32_t MemoryCanvas::Raw(int x, int y) const {
  GdiFlush();
  if (bits_ == nullptr || x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
  return bits_[y * width_ + x];
}

COLORREF MemoryCanvas::Pixel(int x, int y) const {
  const uint32_t raw = Raw(x, y);
  return RGB((raw >> 16) & 0xFF, (raw >> 8) & 0xFF, raw & 0xFF);
}

int MemoryCanvas::DarkestChannel(const RECT& rect) const {
  int darkest = 255;
  for (int y = rect.top; y < rect.bottom; ++y) {
    for (int x = rect.left; x < rect.right; ++x) {
      const COLORREF c = Pixel(x, y);
      const int channels[3] = {GetRValue(c), GetGValue(c), GetBValue(c)};
      for (int v : channels) {
        if (v < darkest) darkest = v;
      }
    }
  }
  return darkest;
}

int MemoryCanvas::CountDifferent(const RECT& rect, COLORREF color, int tolerance) const {
  int count = 0;
  for (int y = rect.top; y < rect.bottom; ++y) {
    for (int x = rect.left; x < rect.right; ++x) {
      if (Differ(Pixel(x, y), color, tolerance)) ++count;
    }
  }
  return count;
}

int MemoryCanvas::CountDifferent(const MemoryCanvas& other, int tolerance) const {
  int count = 0;
  for (int y = 0; y < height_; ++y) {
    for (int x = 0; x < width_; ++x) {
      if (Differ(Pixel(x, y), other.Pixel(x, y), tolerance)) ++count;
    }
  }
  return count;
}

bool MemoryCanvas::CopyScreen(int x, int y) {
  HDC screen = GetDC(nullptr);
  const bool copied = BitBlt(dc_, 0, 0, width_, height_, screen, x, y, SRCCOPY) != FALSE;
  ReleaseDC(nullptr, screen);
  return copied;
}

bool MemoryCanvas::CopyWindow(HWND window, int x, int y) {
  HDC source = GetWindowDC(window);
  const bool copied = BitBlt(dc_, 0, 0, width_, height_, source, x, y, SRCCOPY) != FALSE;
  ReleaseDC(window, source);
  return copied;
}

}  // namespace test_support
