#include "ui/dialog_window.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/log_lines.h"
#include "tests/support/test_log.h"
#include "tests/support/ui_canvas.h"

namespace lite_installer {
namespace {

TEST(CenterRectTest, CentresAndKeepsInsideTheWorkArea) {
  struct Case {
    const char* name;
    SIZE size;
    RECT anchor;
    RECT work;
    RECT expected;
  };
  const RECT screen = {0, 0, 1280, 984};
  const Case cases[] = {
      {"on the work area", {728, 400}, screen, screen, {276, 292, 1004, 692}},
      {"on an owner", {410, 186}, {100, 100, 828, 500}, screen, {259, 207, 669, 393}},
      {"owner near the right edge", {410, 186}, {1100, 100, 1500, 300}, screen,
       {870, 107, 1280, 293}},
      {"owner above the top", {410, 186}, {100, -300, 500, -100}, screen, {95, 0, 505, 186}},
      {"larger than the area keeps the top-left", {1400, 1100}, screen, screen,
       {0, 0, 1400, 1100}},
      {"second monitor", {728, 400}, {1280, 0, 2560, 1024}, {1280, 0, 2560, 1024},
       {1556, 312, 2284, 712}},
      {"odd remainder rounds toward the anchor's start", {101, 51}, {0, 0, 200, 100}, screen,
       {49, 24, 150, 75}},
  };
  for (const Case& c : cases) {
    const RECT placed = CenterRectInArea(c.size, c.anchor, c.work);
    EXPECT_EQ(placed.left, c.expected.left) << c.name;
    EXPECT_EQ(placed.top, c.expected.top) << c.name;
    EXPECT_EQ(placed.right, c.expected.right) << c.name;
    EXPECT_EQ(placed.bottom, c.expected.bottom) << c.name;
  }
}

TEST(CenterRectTest, CentresAWindowOnItsOwner) {
  test_support::UiTestEnvironment environment;
  test_support::TestWindow owner(400, 300);
  test_support::TestWindow window(200, 100);
  SetWindowPos(owner.hwnd(), nullptr, 100, 100, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  ASSERT_TRUE(CenterWindow(window.hwnd(), owner.hwnd()));
  RECT rect;
  GetWindowRect(window.hwnd(), &rect);
  EXPECT_EQ(rect.left, 200);
  EXPECT_EQ(rect.top, 200);
  EXPECT_EQ(rect.right - rect.left, 200);
  EXPECT_FALSE(CenterWindow(nullptr, owner.hwnd()));
}

// A dialog template in memory: no controls, no font.
struct EmptyTemplate {
  DLGTEMPLATE header;
  WORD menu = 0;
  WORD window_class = 0;
  WORD title = 0;
};

class RecordingDialog : public DialogWindow {
 public:
  RecordingDialog() : DialogWindow(7777) {}

  std::vector<UINT> seen;
  HWND hwnd_at_init = nullptr;
  HWND owner_at_init = nullptr;

 protected:
  INT_PTR HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override {
    if (message == WM_INITDIALOG) {
      hwnd_at_init = hwnd();
      owner_at_init = GetWindow(hwnd(), GW_OWNER);
      seen.push_back(message);
      PostMessageW(hwnd(), WM_APP + 1, 42, 0);
      return TRUE;
    }
    if (message == WM_APP + 1) {
      seen.push_back(message);
      EndDialog(static_cast<INT_PTR>(wparam));
      return TRUE;
    }
    return DialogWindow::HandleMessage(message, wparam, lparam);
  }
};

TEST(DialogWindowTest, RunsModallyUntilEndDialog) {
  test_support::UiTestEnvironment environment;
  test_support::TestWindow owner(300, 200);
  EmptyTemplate dialog_template = {};
  dialog_template.header.style = WS_POPUP | DS_MODALFRAME;
  dialog_template.header.cx = 100;
  dialog_template.header.cy = 50;
  RecordingDialog dialog;
  EXPECT_EQ(dialog.template_id(), 7777);
  EXPECT_FALSE(dialog.is_running());
  EXPECT_EQ(dialog.DoModalIndirectForTesting(&dialog_template.header, owner.hwnd()), 42);
  ASSERT_EQ(dialog.seen.size(), 2u);
  EXPECT_EQ(dialog.seen[0], static_cast<UINT>(WM_INITDIALOG));
  EXPECT_NE(dialog.hwnd_at_init, nullptr);
  EXPECT_EQ(dialog.owner_at_init, owner.hwnd());
  EXPECT_EQ(dialog.owner(), owner.hwnd());
  // The window is gone and the object knows it.
  EXPECT_EQ(dialog.hwnd(), nullptr);
  EXPECT_FALSE(IsWindow(dialog.hwnd_at_init));
  dialog.EndDialog(5);  // harmless once the dialog is over
}

TEST(DialogWindowTest, MissingTemplateIsLogged) {
  test_support::UiTestEnvironment environment;
  test_support::ScopedTestLog log;
  RecordingDialog dialog;
  EXPECT_EQ(dialog.DoModal(nullptr), -1);
  EXPECT_TRUE(dialog.seen.empty());
  const std::vector<std::wstring> lines = test_support::LogMessagesOf(log, L"DoModal");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind(L"ERROR: Failed to create the dialog 7777", 0), 0u);
}

}  // namespace
}  // namespace lite_installer
