// Helpers for interface tests: the system parts every window needs, a plain parent window
// that records the commands its children send, and a memory canvas whose pixels a test
// can read.
#ifndef TESTS_SUPPORT_UI_CANVAS_H_
#define TESTS_SUPPORT_UI_CANVAS_H_

#include <windows.h>

#include <cstdint>
#include <vector>

#include "ui/ui_environment.h"

namespace test_support {

// COM, the common controls and GDI+ for the length of one test.
class UiTestEnvironment {
 public:
  UiTestEnvironment() = default;
  bool ready() const { return environment_.gdiplus_started(); }

 private:
  installer::UiEnvironment environment_;
};

// A hidden top-level popup of `width` × `height` client pixels, destroyed with the object.
// WM_COMMAND control ids it receives are kept in `commands()`.
class TestWindow {
 public:
  TestWindow(int width, int height);
  ~TestWindow();
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;

  HWND hwnd() const { return hwnd_; }
  std::vector<int>& commands() { return commands_; }
  // A child control of `class_name` at (x, y, width, height) with `id` and `text`.
  HWND AddChild(const wchar_t* class_name, int id, const wchar_t* text, DWORD style, int x,
                int y, int width, int height);

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  HWND hwnd_ = nullptr;
  std::vector<int> commands_;
};

// A 32-bit top-down DIB section selected into a memory device context.
class MemoryCanvas {
 public:
  MemoryCanvas(int width, int height, COLORREF fill);
  ~MemoryCanvas();
  MemoryCanvas(const MemoryCanvas&) = delete;
  MemoryCanvas& operator=(const MemoryCanvas&) = delete;

  HDC dc() const { return dc_; }
  int width() const { return width_; }
  int height() const { return height_; }
  // The colour at (x, y) (GDI has been flushed first).
  COLORREF Pixel(int x, int y) const;
  // The raw 0xAARRGGBB value at (x, y).
  uint32_t Raw(int x, int y) const;
  // The smallest of red, green and blue over a rectangle: how dark the darkest pixel is.
  int DarkestChannel(const RECT& rect) const;
  // How many pixels of `rect` differ from `color` by more than `tolerance` in some channel.
  int CountDifferent(const RECT& rect, COLORREF color, int tolerance) const;
  // The same against the pixel at the same place of `other` (a canvas as large).
  int CountDifferent(const MemoryCanvas& other, int tolerance) const;

  // Copies the canvas's size of the screen from (x, y): what the display shows there,
  // whichever windows it comes from.
  bool CopyScreen(int x, int y);
  // Copies the canvas's size of `window`'s own picture from (x, y) of the window, whatever
  // covers the window on the screen.
  bool CopyWindow(HWND window, int x, int y);

 private:
  int width_;
  int height_;
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ old_bitmap_ = nullptr;
  uint32_t* bits_ = nullptr;
};

}  // namespace test_support

#endif  // TESTS_SUPPORT_UI_CANVAS_H_
