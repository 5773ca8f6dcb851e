// Painting of the self-drawn controls into memory device contexts, checked pixel by pixel
// against the colours of the built-in pictures.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <vector>

#include "platform/scoped_handle.h"
#include "tests/support/ui_canvas.h"
#include "ui/check_box.h"
#include "ui/custom_progress_bar.h"
#include "ui/image_button.h"
#include "ui/scale.h"
#include "ui/shadow_window.h"
#include "ui/text_label.h"

namespace lite_installer {
namespace {

using test_support::MemoryCanvas;
using test_support::TestWindow;
using test_support::UiTestEnvironment;

// The filled picture runs from blue (2d7ff9) to teal (2cc3c9); the empty one is e3e8ef.
bool IsFilledColour(COLORREF c) {
  return GetRValue(c) < 0x60 && GetBValue(c) > 0xb0 && GetGValue(c) > 0x60;
}
bool IsEmptyColour(COLORREF c) {
  return abs(GetRValue(c) - 0xe3) < 10 && abs(GetGValue(c) - 0xe8) < 10 &&
         abs(GetBValue(c) - 0xef) < 10;
}

TEST(CustomProgressBarTest, FilledWidthArithmetic) {
  struct Case {
    int width, low, high, position, expected;
  };
  const Case cases[] = {
      {292, 0, 100, 0, 0},     {292, 0, 100, 100, 292}, {292, 0, 100, 50, 146},
      {292, 0, 100, 33, 96},   {292, 0, 100, 1, 2},     {292, 0, 100, 99, 289},
      {438, 0, 100, 40, 175},  {292, 10, 20, 15, 146},  {292, -50, 50, 0, 146},
      {292, 0, 100, -5, 0},    {292, 0, 100, 150, 292}, {292, 5, 5, 5, 0},
      {292, 10, 0, 5, 0},      {0, 0, 100, 50, 0},      {60000, 0, 2000000000, 1000000000, 30000},
      {292, INT_MIN, INT_MAX, 0, 146},  // a range wider than an int
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FilledWidth(c.width, c.low, c.high, c.position), c.expected)
        << c.width << " " << c.low << ".." << c.high << " at " << c.position;
  }
}

TEST(CustomProgressBarTest, PaintsFilledAndEmptyParts) {
  UiTestEnvironment environment;
  ASSERT_TRUE(environment.ready());
  TestWindow parent(400, 100);
  HWND control = parent.AddChild(PROGRESS_CLASSW, 1012, L"", 0, 0, 0, 292, 4);
  ASSERT_NE(control, nullptr);
  CustomProgressBar bar(control, nullptr, true);
  bar.SetRange(0, 100);
  // No frame of the progress class: the pictures cover the whole 292 x 4.
  RECT client;
  GetClientRect(control, &client);
  EXPECT_EQ(client.right, 292);
  EXPECT_EQ(client.bottom, 4);
  struct Case {
    int position;
    int filled;  // pixels that must show the filled picture
  };
  const Case cases[] = {{0, 0}, {50, 146}, {100, 292}, {1, 2}, {75, 219}};
  for (const Case& c : cases) {
    bar.SetPosition(c.position);
    EXPECT_EQ(bar.GetPosition(), c.position);
    MemoryCanvas canvas(292, 4, RGB(255, 0, 255));
    bar.Paint(canvas.dc());
    for (int x = 0; x < 292; ++x) {
      // One pixel either side of the boundary may blend the two pictures.
      if (c.filled > 0 && c.filled < 292 && abs(x - c.filled) <= 1) continue;
      const COLORREF pixel = canvas.Pixel(x, 2);
      if (x < c.filled) {
        EXPECT_TRUE(IsFilledColour(pixel)) << "position " << c.position << " x " << x
                                           << " colour " << std::hex << pixel;
      } else {
        EXPECT_TRUE(IsEmptyColour(pixel)) << "position " << c.position << " x " << x
                                          << " colour " << std::hex << pixel;
      }
    }
  }
  // The bar still follows the standard message.
  SendMessageW(control, PBM_SETPOS, 100, 0);
  EXPECT_EQ(bar.GetPosition(), 100);
}

// Controls paint the part of the window's background that lies behind them.
TEST(ParentBackgroundTest, DrawsThePartBehindTheControl) {
  UiTestEnvironment environment;
  TestWindow parent(728, 400);
  HWND control = parent.AddChild(L"Static", 1012, L"", 0, 392, 56, 292, 40);
  installer::ResourceBitmap background;
  ASSERT_TRUE(background.Load(307, 1.0));
  MemoryCanvas whole(728, 400, RGB(255, 0, 255));
  background.Draw(whole.dc(), RECT{0, 0, background.width(), background.height()});
  MemoryCanvas part(292, 40, RGB(255, 0, 255));
  installer::DrawParentBackground(part.dc(), control, background);
  // Resampling a part of a stretched picture may differ from the whole by a shade.
  int mismatches = 0;
  for (int y = 0; y < 40; ++y) {
    for (int x = 0; x < 292; ++x) {
      const COLORREF a = part.Pixel(x, y);
      const COLORREF b = whole.Pixel(392 + x, 56 + y);
      if (abs(GetRValue(a) - GetRValue(b)) > 4 || abs(GetGValue(a) - GetGValue(b)) > 4 ||
          abs(GetBValue(a) - GetBValue(b)) > 4) {
        ++mismatches;
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
  // The picture is a gradient: another place of it would not match.
  EXPECT_NE(part.Pixel(0, 0), whole.Pixel(0, 0));
}

TEST(ImageButtonTest, CellFromCustomDrawState) {
  struct Case {
    UINT state;
    int cell;
  };
  const Case cases[] = {
      {0, 0},
      {CDIS_HOT, 1},
      {CDIS_SELECTED, 2},
      {CDIS_SELECTED | CDIS_HOT, 2},
      {CDIS_FOCUS, 0},
      {CDIS_FOCUS | CDIS_HOT, 1},
      {CDIS_DEFAULT | CDIS_SELECTED | CDIS_FOCUS, 2},
      {CDIS_DISABLED, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(SelectButtonCell(c.state), c.cell) << c.state;
}

TEST(ImageButtonTest, PaintsTheCellOfItsState) {
  UiTestEnvironment environment;
  TestWindow parent(728, 400);
  HWND control = parent.AddChild(L"Button", 1, L"", BS_PUSHBUTTON, 0, 0, 10, 10);
  ImageButton button(control, 309, nullptr);
  const SIZE cell = button.cell_size();
  EXPECT_EQ(cell.cx, installer::ScaleLength(112));
  EXPECT_EQ(cell.cy, installer::ScaleLength(32));
  button.PlaceAt(557, 305);
  RECT placed;
  GetWindowRect(control, &placed);
  EXPECT_EQ(placed.right - placed.left, cell.cx);
  EXPECT_EQ(placed.bottom - placed.top, cell.cy);

  COLORREF centres[3];
  const UINT states[3] = {0, CDIS_HOT, CDIS_SELECTED};
  for (int i = 0; i < 3; ++i) {
    MemoryCanvas canvas(cell.cx, cell.cy, RGB(0, 0, 0));
    NMCUSTOMDRAW draw = {};
    draw.hdr.hwndFrom = control;
    draw.hdr.idFrom = 1;
    draw.hdr.code = NM_CUSTOMDRAW;
    draw.dwDrawStage = CDDS_PREPAINT;
    draw.hdc = canvas.dc();
    draw.rc = RECT{0, 0, cell.cx, cell.cy};
    draw.uItemState = states[i];
    EXPECT_EQ(button.OnCustomDraw(draw), CDRF_SKIPDEFAULT);
    centres[i] = canvas.Pixel(cell.cx / 2, cell.cy / 2);
    // Rounded corners are transparent: the black canvas shows through.
    EXPECT_EQ(canvas.Pixel(0, 0), RGB(0, 0, 0));
  }
  // Hot is lighter than normal, pressed darker; pressed is the strip's 1c63cf.
  EXPECT_GT(GetRValue(centres[1]), GetRValue(centres[0]));
  EXPECT_LT(GetRValue(centres[2]), GetRValue(centres[0]));
  EXPECT_NEAR(GetRValue(centres[2]), 0x1c, 6);
  EXPECT_NEAR(GetBValue(centres[2]), 0xcf, 6);

  // Other stages and other controls are left to the default drawing.
  NMCUSTOMDRAW other = {};
  other.hdr.hwndFrom = control;
  other.dwDrawStage = CDDS_POSTPAINT;
  EXPECT_EQ(button.OnCustomDraw(other), CDRF_DODEFAULT);
  other.hdr.hwndFrom = parent.hwnd();
  other.dwDrawStage = CDDS_PREPAINT;
  EXPECT_EQ(button.OnCustomDraw(other), CDRF_DODEFAULT);
}

TEST(ImageButtonTest, DrawsItsTextOverTheCell) {
  UiTestEnvironment environment;
  TestWindow parent(728, 400);
  HWND control = parent.AddChild(L"Button", 1, L"", BS_PUSHBUTTON, 0, 0, 112, 32);
  platform::ScopedFont font(CreateFontW(-15, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                                        DEFAULT_CHARSET, 0, 0, 0, 0, L"Arial"));
  ImageButton button(control, 309, font.get());
  const SIZE cell = button.cell_size();
  MemoryCanvas plain(cell.cx, cell.cy, RGB(0, 0, 0));
  button.Paint(plain.dc(), RECT{0, 0, cell.cx, cell.cy}, 0);
  button.SetText(L"Install");
  MemoryCanvas text(cell.cx, cell.cy, RGB(0, 0, 0));
  button.Paint(text.dc(), RECT{0, 0, cell.cx, cell.cy}, 0);
  // White text appears in the middle of the button, nowhere near its edges.
  int white = 0;
  for (int y = 0; y < cell.cy; ++y) {
    for (int x = 0; x < cell.cx; ++x) {
      const COLORREF c = text.Pixel(x, y);
      if (GetRValue(c) > 230 && GetGValue(c) > 230 && GetBValue(c) > 230) {
        ++white;
        EXPECT_GT(x, cell.cx / 5);
        EXPECT_LT(x, cell.cx * 4 / 5);
      }
    }
  }
  EXPECT_GT(white, 10);
  EXPECT_EQ(plain.CountDifferent(RECT{cell.cx / 4, 8, cell.cx * 3 / 4, cell.cy - 8},
                                 plain.Pixel(cell.cx / 2, cell.cy / 2), 30),
            0);
}

TEST(CheckBoxTest, GlyphCellOrder) {
  struct Case {
    bool checked, hot, pressed;
    int cell;
  };
  const Case cases[] = {
      {false, false, false, 0}, {false, true, false, 1}, {false, false, true, 2},
      {false, true, true, 2},   {true, false, false, 3}, {true, true, false, 4},
      {true, false, true, 5},   {true, true, true, 5},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SelectCheckBoxCell(c.checked, c.hot, c.pressed), c.cell)
        << c.checked << c.hot << c.pressed;
  }
}

TEST(CheckBoxTest, PaintsGlyphAndTextAndToggles) {
  UiTestEnvironment environment;
  TestWindow parent(400, 100);
  HWND control = parent.AddChild(L"Button", 1002, L"&Set as default browser", BS_CHECKBOX, 10,
                                 10, 250, 16);
  platform::ScopedFont font(CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                                        DEFAULT_CHARSET, 0, 0, 0, 0, L"Arial"));
  const COLORREF back = RGB(24, 48, 95);
  CheckBox box(control, RGB(255, 255, 255), font.get(), false, false, nullptr);
  EXPECT_FALSE(box.IsChecked());
  const int glyph = installer::ScaleLength(16);
  EXPECT_EQ(box.text_offset(), glyph + installer::ScaleLength(CheckBox::kTextGap));

  MemoryCanvas unchecked(250, 16, back);
  box.Paint(unchecked.dc());
  // Unchecked: the glyph's middle shows the background, its outline is light.
  EXPECT_EQ(unchecked.Pixel(8, 8), back);
  EXPECT_GT(GetRValue(unchecked.Pixel(2, 8)), 150);
  // The text is drawn in white to the right of the glyph, and only there.
  const RECT text_area = {box.text_offset(), 0, 250, 16};
  EXPECT_GT(unchecked.CountDifferent(text_area, back, 60), 20);
  EXPECT_EQ(unchecked.CountDifferent(RECT{glyph, 0, box.text_offset(), 16}, back, 0), 0);

  box.Toggle();
  EXPECT_TRUE(box.IsChecked());
  EXPECT_EQ(SendMessageW(control, BM_GETCHECK, 0, 0), BST_CHECKED);
  MemoryCanvas checked(250, 16, back);
  box.Paint(checked.dc());
  // Checked: a white box with a blue tick.
  const COLORREF corner = checked.Pixel(3, 3);
  EXPECT_GT(GetRValue(corner), 230);
  EXPECT_GT(GetBValue(corner), 230);
  bool blue_tick = false;
  for (int x = 4; x < 12; ++x) {
    for (int y = 4; y < 12; ++y) {
      const COLORREF c = checked.Pixel(x, y);
      if (GetBValue(c) > 200 && GetRValue(c) < 110) blue_tick = true;
    }
  }
  EXPECT_TRUE(blue_tick);

  SendMessageW(control, BM_SETCHECK, BST_UNCHECKED, 0);
  EXPECT_FALSE(box.IsChecked());

  // A click is reported to the window, which decides to toggle.
  parent.commands().clear();
  SendMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  SendMessageW(control, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
  ASSERT_EQ(parent.commands().size(), 1u);
  EXPECT_EQ(parent.commands()[0], 1002);
  EXPECT_FALSE(box.IsChecked());
  // Releasing outside the control is no click.
  parent.commands().clear();
  SendMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  SendMessageW(control, WM_LBUTTONUP, 0, MAKELPARAM(5, 300));
  EXPECT_TRUE(parent.commands().empty());
}

std::vector<HWND> g_state_changes;
void CALLBACK RecordStateChange(HWINEVENTHOOK, DWORD, HWND hwnd, LONG object, LONG child, DWORD,
                                DWORD) {
  if (object == OBJID_CLIENT && child == CHILDID_SELF) g_state_changes.push_back(hwnd);
}

// Space presses the box and its release clicks it; a press the focus leaves (Tab while Space
// is held) ends unpressed and clicks nothing. Each change of the state is announced.
TEST(CheckBoxTest, SpacePressEndsWithTheFocusAndTogglesAreAnnounced) {
  UiTestEnvironment environment;
  TestWindow parent(400, 100);
  HWND control = parent.AddChild(L"Button", 1002, L"Box", BS_CHECKBOX, 10, 10, 250, 16);
  CheckBox box(control, RGB(255, 255, 255), nullptr, false, false, nullptr);
  auto pushed = [&] { return (SendMessageW(control, BM_GETSTATE, 0, 0) & BST_PUSHED) != 0; };
  SendMessageW(control, WM_KEYDOWN, VK_SPACE, 0);
  EXPECT_TRUE(pushed());
  SendMessageW(control, WM_KEYUP, VK_SPACE, 0xC0000001);
  EXPECT_FALSE(pushed());
  SendMessageW(control, WM_KEYDOWN, VK_SPACE, 0);
  SendMessageW(control, WM_KILLFOCUS, 0, 0);
  EXPECT_FALSE(pushed());
  SendMessageW(control, WM_KEYUP, VK_SPACE, 0xC0000001);
  EXPECT_EQ(parent.commands(), std::vector<int>{1002});

  HWINEVENTHOOK hook =
      SetWinEventHook(EVENT_OBJECT_STATECHANGE, EVENT_OBJECT_STATECHANGE, nullptr,
                      &RecordStateChange, GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT);
  ASSERT_NE(hook, nullptr);
  g_state_changes.clear();
  box.Toggle();
  box.SetChecked(true);  // no change, nothing to announce
  box.Toggle();
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  UnhookWinEvent(hook);
  EXPECT_EQ(g_state_changes, (std::vector<HWND>{control, control}));
}

TEST(CheckBoxTest, MultiLineHeightGrowsWithNarrowerWidth) {
  UiTestEnvironment environment;
  TestWindow parent(600, 200);
  HWND control = parent.AddChild(
      L"Button", 1003,
      L"I want to help improve Zorvin services by sending browser usage statistics to Zorvin",
      BS_CHECKBOX | BS_MULTILINE, 0, 0, 248, 60);
  platform::ScopedFont font(CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                                        DEFAULT_CHARSET, 0, 0, 0, 0, L"Arial"));
  CheckBox box(control, RGB(255, 255, 255), font.get(), true, true, nullptr);
  const int wide = box.HeightForWidth(600);
  const int narrow = box.HeightForWidth(248);
  EXPECT_GE(wide, installer::ScaleLength(16));
  EXPECT_GT(narrow, wide);
}

TEST(TextWithOpacityTest, BlendsTextWithTheGivenOpacity) {
  UiTestEnvironment environment;
  platform::ScopedFont font(CreateFontW(-24, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE,
                                        DEFAULT_CHARSET, 0, 0, 0, 0, L"Arial"));
  struct Case {
    BYTE opacity;
    int darkest;  // black text over white: 255 − opacity where the text fully covers
  };
  const Case cases[] = {{255, 0}, {184, 71}, {128, 127}, {0, 255}};
  for (const Case& c : cases) {
    MemoryCanvas canvas(120, 30, RGB(255, 255, 255));
    ASSERT_TRUE(installer::DrawTextWithOpacity(canvas.dc(), L"HHHH", RECT{0, 0, 120, 30},
                                               font.get(), RGB(0, 0, 0), c.opacity))
        << int(c.opacity);
    EXPECT_NEAR(canvas.DarkestChannel(RECT{0, 0, 120, 30}), c.darkest, 3) << int(c.opacity);
  }
  // Outside the rectangle nothing changes.
  MemoryCanvas canvas(200, 30, RGB(255, 255, 255));
  installer::DrawTextWithOpacity(canvas.dc(), L"HHHHHHHHHHHHHHHHHHHH", RECT{0, 0, 60, 30},
                                 font.get(), RGB(0, 0, 0), 255);
  EXPECT_EQ(canvas.CountDifferent(RECT{60, 0, 200, 30}, RGB(255, 255, 255), 0), 0);
}

TEST(LinkLabelTest, PaintsWithOpacityAndShowsTheHand) {
  UiTestEnvironment environment;
  TestWindow parent(300, 100);
  HWND control = parent.AddChild(L"Static", 1021, L"Privacy policy", 0, 0, 0, 150, 20);
  platform::ScopedFont font(CreateFontW(-16, 0, 0, 0, FW_BOLD, FALSE, TRUE, FALSE,
                                        DEFAULT_CHARSET, 0, 0, 0, 0, L"Arial"));
  LinkLabel link(control, RGB(255, 255, 255), 184, font.get());
  const SIZE size = link.MeasureText();
  EXPECT_GT(size.cx, 40);
  EXPECT_LT(size.cx, 150);
  // White at 184 over black: the brightest text pixel is 184.
  MemoryCanvas canvas(150, 20, RGB(0, 0, 0));
  link.Paint(canvas.dc());
  int brightest = 0;
  for (int y = 0; y < 20; ++y) {
    for (int x = 0; x < 150; ++x) {
      brightest = std::max<int>(brightest, GetRValue(canvas.Pixel(x, y)));
    }
  }
  EXPECT_NEAR(brightest, 184, 3);
  EXPECT_EQ(canvas.CountDifferent(RECT{size.cx + 1, 0, 150, 20}, RGB(0, 0, 0), 0), 0);

  EXPECT_EQ(SendMessageW(control, WM_NCHITTEST, 0, 0), HTCLIENT);
  EXPECT_EQ(SendMessageW(control, WM_SETCURSOR, reinterpret_cast<WPARAM>(control),
                         MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)),
            TRUE);
  EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_HAND));

  parent.commands().clear();
  SendMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
  SendMessageW(control, WM_LBUTTONUP, 0, MAKELPARAM(3, 3));
  SendMessageW(control, WM_KEYDOWN, VK_RETURN, 0);
  // A held key's repeats (bit 30: the key was down already) open nothing more.
  SendMessageW(control, WM_KEYDOWN, VK_RETURN, 0x40000001);
  SendMessageW(control, WM_KEYDOWN, VK_SPACE, 0x40000001);
  ASSERT_EQ(parent.commands().size(), 2u);
  EXPECT_EQ(parent.commands()[0], 1021);
  EXPECT_EQ(parent.commands()[1], 1021);
}

// Alpha of the shadow picture's pixel, premultiplied ARGB.
int AlphaAt(const void* bits, int width, int x, int y) {
  return static_cast<const uint32_t*>(bits)[y * width + x] >> 24;
}

TEST(ShadowWindowTest, ComposesASoftEdgeOnEverySide) {
  UiTestEnvironment environment;
  TestWindow target(200, 100);
  const int w = installer::ScaleLength(ShadowWindow::kShadowWidth);
  for (ShadowWindow::Style style :
       {ShadowWindow::Style::kMainWindow, ShadowWindow::Style::kMessageDialog}) {
    ShadowWindow shadow;
    ASSERT_TRUE(shadow.Create(target.hwnd(), style));
    void* bits = nullptr;
    platform::ScopedBitmap picture(shadow.ComposeForTesting(SIZE{200, 100}, &bits));
    ASSERT_TRUE(picture);
    const int width = 200 + 2 * w;
    const int height = 100 + 2 * w;
    const int mid_x = width / 2;
    const int mid_y = height / 2;
    // Darker towards the window on each side, nearly clear at the outer edge.
    EXPECT_LT(AlphaAt(bits, width, mid_x, 0), AlphaAt(bits, width, mid_x, w - 1));
    EXPECT_LT(AlphaAt(bits, width, mid_x, height - 1), AlphaAt(bits, width, mid_x, height - w));
    EXPECT_LT(AlphaAt(bits, width, 0, mid_y), AlphaAt(bits, width, w - 1, mid_y));
    EXPECT_LT(AlphaAt(bits, width, width - 1, mid_y), AlphaAt(bits, width, width - w, mid_y));
    EXPECT_LT(AlphaAt(bits, width, mid_x, 0), 16);
    EXPECT_GT(AlphaAt(bits, width, mid_x, w - 1), 40);
    // The same on opposite sides, and nothing where the window covers it.
    EXPECT_EQ(AlphaAt(bits, width, mid_x, w - 1), AlphaAt(bits, width, mid_x, height - w));
    EXPECT_EQ(AlphaAt(bits, width, w - 1, mid_y), AlphaAt(bits, width, width - w, mid_y));
    EXPECT_EQ(AlphaAt(bits, width, mid_x, mid_y), 0);
    // Black, premultiplied: colour channels stay 0.
    EXPECT_EQ(static_cast<const uint32_t*>(bits)[(w - 1) * width + mid_x] & 0xFFFFFF, 0u);
  }
}

TEST(ShadowWindowTest, FollowsItsWindowFromBehind) {
  UiTestEnvironment environment;
  TestWindow target(300, 200);
  SetWindowPos(target.hwnd(), nullptr, 100, 80, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  ShadowWindow shadow;
  ASSERT_TRUE(shadow.Create(target.hwnd(), ShadowWindow::Style::kMainWindow));
  ASSERT_NE(shadow.hwnd(), nullptr);
  EXPECT_NE(GetWindowLongW(shadow.hwnd(), GWL_EXSTYLE) & WS_EX_LAYERED, 0);
  EXPECT_FALSE(IsWindowVisible(shadow.hwnd()));  // the target is hidden
  const int w = installer::ScaleLength(ShadowWindow::kShadowWidth);
  // Shown, moved and sized, hidden as EndDialog hides, shown again: the shadow follows each
  // step, right behind the target.
  const struct {
    UINT flags;
    RECT target;
  } steps[] = {
      {SWP_SHOWWINDOW, {100, 80, 400, 280}},
      {0, {150, 90, 470, 300}},
      {SWP_HIDEWINDOW | SWP_NOMOVE | SWP_NOSIZE, {150, 90, 470, 300}},
      {SWP_SHOWWINDOW | SWP_NOMOVE | SWP_NOSIZE, {150, 90, 470, 300}},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.flags);
    const RECT& r = step.target;
    SetWindowPos(target.hwnd(), HWND_TOP, r.left, r.top, r.right - r.left, r.bottom - r.top,
                 step.flags | SWP_NOACTIVATE);
    shadow.Follow();
    const bool shown = (step.flags & SWP_HIDEWINDOW) == 0;
    EXPECT_EQ(shown, IsWindowVisible(shadow.hwnd()) != FALSE);
    if (!shown) continue;
    RECT rect;
    GetWindowRect(shadow.hwnd(), &rect);
    EXPECT_EQ(rect.left, r.left - w);
    EXPECT_EQ(rect.top, r.top - w);
    EXPECT_EQ(rect.right, r.right + w);
    EXPECT_EQ(rect.bottom, r.bottom + w);
    EXPECT_EQ(GetWindow(target.hwnd(), GW_HWNDNEXT), shadow.hwnd());
  }
  shadow.Destroy();
  EXPECT_EQ(shadow.hwnd(), nullptr);
}

}  // namespace
}  // namespace lite_installer
