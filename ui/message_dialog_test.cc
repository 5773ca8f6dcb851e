#include "ui/message_dialog.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/strings.h"
#include "resources/resource_ids.h"
#include "tests/support/dialog_driver.h"
#include "tests/support/test_log.h"
#include "ui/scale.h"
#include "ui/ui_environment.h"

namespace lite_installer {
namespace {

constexpr uint32_t kEnglish = 1033;

TEST(MessageDialogTest, ErrorCodeThreeIsTheOldComponent) {
  const struct {
    int32_t code;
    MessageKind kind;
  } cases[] = {{3, MessageKind::kOldComponent},     {1, MessageKind::kDownloadManually},
               {2, MessageKind::kDownloadManually}, {401, MessageKind::kDownloadManually},
               {-3, MessageKind::kDownloadManually}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(c.kind, MessageKindForError(c.code));
  }
}

// A dialog whose links go nowhere.
class TestDialog : public MessageDialog {
 public:
  using MessageDialog::MessageDialog;
  std::vector<std::wstring> opened;
  // As when picture 315 does not decode.
  bool no_picture = false;

 protected:
  bool OpenUrl(const std::wstring& url) override {
    opened.push_back(url);
    return true;
  }
  void LoadBackground(installer::ResourceBitmap* background) override {
    if (!no_picture) MessageDialog::LoadBackground(background);
  }
};

class MessageDialogWindowTest : public testing::Test {
 protected:
  void SetUp() override { installer::SetDeviceScaleFactorForTesting(1.0); }

  INT_PTR Drive(TestDialog* dialog, const std::function<void(HWND)>& script) {
    return test_support::DriveDialog(
        [&] { return dialog->DoModal(); },
        [&] { return test_support::FindVisibleDialog(GetCurrentProcessId()); }, script);
  }

  installer::UiEnvironment ui_;
  test_support::ScopedTestLog log_;
};

struct Shown {
  std::wstring title;
  std::wstring text;
  bool first_visible = false;
  std::wstring first;
  bool second_visible = false;
  std::wstring second;
  SIZE size = {};
  // What a screen reader hears for the title, the text and each visible button: their texts.
  std::vector<std::wstring> texts, spoken;
};

Shown Look(HWND dialog) {
  Shown shown;
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  for (int id : {IDC_MESSAGE_TITLE, IDC_MESSAGE_TEXT, IDOK, IDC_MESSAGE_SECOND_BUTTON}) {
    if (!test_support::ControlVisible(dialog, id)) continue;
    shown.texts.push_back(test_support::ControlText(dialog, id));
    shown.spoken.push_back(test_support::AccessibleName(dialog, id));
  }
  CoUninitialize();
  shown.title = test_support::ControlText(dialog, IDC_MESSAGE_TITLE);
  shown.text = test_support::ControlText(dialog, IDC_MESSAGE_TEXT);
  shown.first_visible = test_support::ControlVisible(dialog, IDOK);
  shown.first = test_support::ControlText(dialog, IDOK);
  shown.second_visible = test_support::ControlVisible(dialog, IDC_MESSAGE_SECOND_BUTTON);
  shown.second = test_support::ControlText(dialog, IDC_MESSAGE_SECOND_BUTTON);
  RECT rect = {};
  GetWindowRect(dialog, &rect);
  shown.size = {rect.right - rect.left, rect.bottom - rect.top};
  return shown;
}

TEST_F(MessageDialogWindowTest, EveryKindShowsItsTextsAndButtons) {
  const struct {
    MessageKind kind;
    const wchar_t* title;
    const wchar_t* text;
    const wchar_t* first;   // null: hidden
    const wchar_t* second;  // null: hidden
  } cases[] = {
      {MessageKind::kDownloadManually, L"An error occurred during installation",
       L"Try to download the installation file and\nrepeat the installation manually.",
       L"Download", L"Cancel"},
      {MessageKind::kOldComponent, L"Unable to install Zorvin Browser",
       L"The old version of the program \"CryptoPro \nRevocation Provider\" is installed on your "
       L"computer.\nPlease update it in order to\ninstall Zorvin Browser.",
       nullptr, L"Cancel"},
      {MessageKind::kNewerVersion,
       L"You already have a newer version\nof the browser installed on your computer",
       L"To get an old version of the browser working,\nuninstall the browser from your "
       L"computer and repeat the installation.",
       L"OK", nullptr},
      {MessageKind::kNotEnoughDiskSpace, L"Insufficient disk space to\ninstall Zorvin Browser",
       L"Free up at least 600 MB and try again.", L"OK", nullptr},
      // String 407 is in no table: the body stays empty.
      {MessageKind::kUnsupportedSystem,
       L"This version of Zorvin Browser does not support Windows XP and Vista", L"",
       L"More info", nullptr},
      {MessageKind::kResumeOrCancel, L"Installation not complete. Resume?", L"", L"Resume",
       L"Cancel"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(platform::Narrow(c.title));
    TestDialog dialog(c.kind, kEnglish);
    Shown shown;
    INT_PTR result = Drive(&dialog, [&](HWND hwnd) { shown = Look(hwnd); });
    EXPECT_EQ(kMessageDismissed, result);
    EXPECT_EQ(c.title, shown.title);
    EXPECT_EQ(c.text, shown.text);
    EXPECT_EQ(c.first != nullptr, shown.first_visible);
    if (c.first != nullptr) {
      EXPECT_EQ(c.first, shown.first);
    }
    EXPECT_EQ(c.second != nullptr, shown.second_visible);
    if (c.second != nullptr) {
      EXPECT_EQ(c.second, shown.second);
    }
    EXPECT_EQ(410, shown.size.cx);
    EXPECT_EQ(186, shown.size.cy);
    EXPECT_EQ(shown.texts, shown.spoken);
  }
}

// Without its picture a dialog still has its design size, scaled, with its button in it.
TEST_F(MessageDialogWindowTest, WithoutItsPictureTheDialogKeepsItsDesignSize) {
  for (double scale : {1.0, 1.5}) {
    SCOPED_TRACE(scale);
    installer::SetDeviceScaleFactorForTesting(scale);
    TestDialog dialog(MessageKind::kNotEnoughDiskSpace, kEnglish);
    dialog.no_picture = true;
    Shown shown;
    RECT button = {};
    Drive(&dialog, [&](HWND hwnd) {
      shown = Look(hwnd);
      button = test_support::ControlRect(hwnd, IDOK);
    });
    EXPECT_EQ(static_cast<int>(410 * scale), shown.size.cx);
    EXPECT_EQ(static_cast<int>(186 * scale), shown.size.cy);
    EXPECT_TRUE(shown.first_visible);
    EXPECT_TRUE(button.top > 0 && button.right <= shown.size.cx && button.bottom <= shown.size.cy);
  }
  installer::SetDeviceScaleFactorForTesting(1.0);
}

TEST_F(MessageDialogWindowTest, ButtonsEndTheDialogWithTheirIds) {
  const struct {
    MessageKind kind;
    int press;  // a control id, or IDCANCEL for Escape
    INT_PTR result;
    bool opens_download_page;
  } cases[] = {
      {MessageKind::kDownloadManually, IDOK, kMessageFirstButton, true},
      {MessageKind::kDownloadManually, IDC_MESSAGE_SECOND_BUTTON, kMessageSecondButton, false},
      {MessageKind::kDownloadManually, IDCANCEL, kMessageDismissed, false},
      {MessageKind::kResumeOrCancel, IDOK, kMessageFirstButton, false},
      {MessageKind::kResumeOrCancel, IDC_MESSAGE_SECOND_BUTTON, kMessageSecondButton, false},
      {MessageKind::kNotEnoughDiskSpace, IDOK, kMessageFirstButton, false},
      {MessageKind::kOldComponent, IDC_MESSAGE_SECOND_BUTTON, kMessageSecondButton, false},
  };
  const std::wstring page = L"https://localhost/download?full=1&code=lite_install_failed";
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << static_cast<int>(c.kind) << " " << c.press);
    TestDialog dialog(c.kind, kEnglish, page);
    INT_PTR result = Drive(&dialog, [&](HWND hwnd) {
      if (c.press == IDCANCEL) {
        SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
      } else {
        test_support::ClickButton(hwnd, c.press);
      }
      test_support::WaitUntil([&] { return !IsWindow(hwnd); }, 5000);
    });
    EXPECT_EQ(c.result, result);
    EXPECT_EQ(c.opens_download_page ? std::vector<std::wstring>{page} : std::vector<std::wstring>{},
              dialog.opened);
  }
}

TEST_F(MessageDialogWindowTest, HiddenButtonCannotBePressed) {
  // The old-component notice has no first button: Enter (IDOK) must not end it.
  TestDialog dialog(MessageKind::kOldComponent, kEnglish);
  bool open_after_enter = false;
  INT_PTR result = Drive(&dialog, [&](HWND hwnd) {
    SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    test_support::WaitForIdle(hwnd);
    open_after_enter = IsWindow(hwnd) != FALSE;
    test_support::ClickButton(hwnd, IDC_MESSAGE_SECOND_BUTTON);
    test_support::WaitUntil([&] { return !IsWindow(hwnd); }, 5000);
  });
  EXPECT_TRUE(open_after_enter);
  EXPECT_EQ(kMessageSecondButton, result);
}

TEST_F(MessageDialogWindowTest, SystemCloseDismisses) {
  TestDialog dialog(MessageKind::kNewerVersion, kEnglish);
  INT_PTR result = Drive(&dialog, [&](HWND hwnd) {
    SendMessageW(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    test_support::WaitUntil([&] { return !IsWindow(hwnd); }, 5000);
  });
  EXPECT_EQ(kMessageDismissed, result);
}

}  // namespace
}  // namespace lite_installer
