#include "ui/main_window.h"

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>
#include <jansson.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "brand/brand_info.h"
#include "brand/distrib_info_params.h"
#include "brand/registry_values.h"
#include "install/installer.h"
#include "install/preinstall_checks.h"
#include "network/http_downloader.h"
#include "platform/command_line.h"
#include "platform/scoped_handle.h"
#include "platform/strings.h"
#include "platform/windows_version.h"
#include "resources/resource_ids.h"
#include "tests/support/child_process.h"
#include "tests/support/held_mutex.h"
#include "tests/support/dialog_driver.h"
#include "tests/support/fake_internet_api.h"
#include "tests/support/publisher_log.h"
#include "tests/support/test_log.h"
#include "tests/support/test_paths.h"
#include "tests/support/ui_canvas.h"
#include "ui/scale.h"
#include "ui/ui_environment.h"

namespace lite_installer {
namespace {

using installer::DistribInfoParams;

// ---------------------------------------------------------------------------------------
// Decisions.

TEST(MainWindowPercentTest, OnlyStagesFiveAndSevenMove) {
  const struct {
    WPARAM stage;
    bool known;
    int percent;
  } cases[] = {{5, true, 75}, {7, true, 79}, {0, false, 0},  {1, false, 0},
               {4, false, 0}, {6, false, 0}, {8, false, 0},  {75, false, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stage);
    int percent = -1;
    EXPECT_EQ(c.known, PercentForInstallStage(c.stage, &percent));
    EXPECT_EQ(c.known ? c.percent : -1, percent);
  }
}

TEST(MainWindowPercentTest, ImportFillsEightyToHundred) {
  const struct {
    WPARAM progress;
    int percent;
  } cases[] = {{0, 80},  {4, 80},   {5, 81},   {10, 82},   {50, 90},
               {99, 99}, {100, 100}, {101, 100}, {5000, 100}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.progress);
    EXPECT_EQ(c.percent, PercentForImportProgress(c.progress));
  }
}

TEST(MainWindowPercentTest, TextAndRange) {
  EXPECT_EQ(L"0%", PercentText(0));
  EXPECT_EQ(L"40%", PercentText(40));
  EXPECT_EQ(L"100%", PercentText(100));
  EXPECT_EQ(0, ClampPercent(-3));
  EXPECT_EQ(55, ClampPercent(55));
  EXPECT_EQ(100, ClampPercent(250));
}

struct Params : DistribInfoParams {
  explicit Params(ParamMap map) { SetParamsForTesting(std::move(map)); }
};

TEST(MainWindowOfferTest, CheckBoxVisibility) {
  const struct {
    DistribInfoParams::ParamMap params;
    int uac_mode;
    int version_class;
    bool make_default;
    bool send_statistics;
  } cases[] = {
      {{}, 0, platform::kWindows10, true, true},
      {{{"def", "1"}}, 0, platform::kWindows10, false, true},
      {{{"def", "2"}}, 1, platform::kWindows10, false, true},
      {{}, 2, platform::kWindows10, false, true},
      {{}, 1, platform::kWindows7, true, true},
      {{{"stat", "1"}}, 0, platform::kWindows10, true, false},
      {{{"stat", "2"}}, 0, platform::kWindows10, true, false},
      {{{"statpromo", "true"}}, 0, platform::kWindows10, true, false},
      {{{"def", "1"}, {"stat", "1"}}, 0, platform::kWindows10, false, false},
      // The browser cannot make itself the default on Windows 8 and 8.1.
      {{}, 0, platform::kWindows8, false, true},
      {{}, 0, platform::kWindows8_1, false, true},
      // Parameters that decide nothing here.
      {{{"first", "1"}, {"cancel", "1"}}, 0, platform::kWindows10, true, true},
  };
  for (const auto& c : cases) {
    Params params(c.params);
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    OfferCheckBoxes visible = VisibleOfferCheckBoxes(params, c.uac_mode, c.version_class);
    EXPECT_EQ(c.make_default, visible.make_default);
    EXPECT_EQ(c.send_statistics, visible.send_statistics);
  }
}

TEST(MainWindowOfferTest, CheckBoxColumnsShareOrTakeTheRow) {
  const struct {
    bool make_default;
    bool send_statistics;
    RECT make_default_column;
    RECT send_statistics_column;
  } cases[] = {
      {true, true, {314, 305, 537, 305}, {60, 305, 308, 305}},
      {true, false, {60, 305, 525, 305}, {0, 0, 0, 0}},
      {false, true, {0, 0, 0, 0}, {60, 305, 525, 305}},
      {false, false, {0, 0, 0, 0}, {0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.make_default << c.send_statistics);
    OfferCheckBoxColumns columns = OfferCheckBoxColumnsFor({c.make_default, c.send_statistics});
    EXPECT_TRUE(EqualRect(&c.make_default_column, &columns.make_default));
    EXPECT_TRUE(EqualRect(&c.send_statistics_column, &columns.send_statistics));
  }
}

TEST(MainWindowOfferTest, FirstRunWithChoicesMadeSkipsTheOffer) {
  const struct {
    DistribInfoParams::ParamMap params;
    bool skips;
  } cases[] = {
      {{{"first", "1"}, {"def", "1"}, {"stat", "1"}}, true},
      {{{"first", "1"}, {"def", "2"}, {"stat", "2"}}, true},
      {{{"first", "1"}, {"def", "1"}, {"statpromo", "true"}}, true},
      {{{"first", "1"}, {"def", "1"}}, false},
      {{{"first", "1"}, {"stat", "1"}}, false},
      {{{"first", "1"}}, false},
      {{{"first", "0"}, {"def", "1"}, {"stat", "1"}}, false},
      {{{"first", "true"}, {"def", "1"}, {"stat", "1"}}, false},
      {{{"def", "1"}, {"stat", "1"}}, false},
      {{}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    EXPECT_EQ(c.skips, SkipsOfferScreen(Params(c.params)));
  }
}

TEST(MainWindowOfferTest, CancelButtonOnlyWithCancelOne) {
  const struct {
    DistribInfoParams::ParamMap params;
    bool kept;
  } cases[] = {
      {{{"cancel", "1"}}, true},  {{{"cancel", "0"}}, false}, {{{"cancel", "true"}}, false},
      {{{"cancel", ""}}, false},  {{}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    EXPECT_EQ(c.kept, KeepsCancelButton(Params(c.params)));
  }
}

TEST(MainWindowOfferTest, ParametersBeatTheCheckBoxes) {
  const struct {
    DistribInfoParams::ParamMap params;
    bool box;
    bool make_default;
    bool send_statistics;
  } cases[] = {
      {{}, true, true, true},
      {{}, false, false, false},
      {{{"def", "1"}, {"stat", "1"}}, false, true, true},
      {{{"def", "2"}, {"stat", "2"}}, true, false, false},
      // Values that are neither yes nor no count as no.
      {{{"def", "yes"}, {"stat", "0"}}, true, false, false},
      {{{"statpromo", "true"}}, false, false, true},
      {{{"statpromo", "false"}}, true, true, false},
      {{{"stat", "2"}, {"statpromo", "true"}}, true, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    Params params(c.params);
    EXPECT_EQ(c.make_default, MakeDefaultChoice(params, c.box));
    EXPECT_EQ(c.send_statistics, SendStatisticsChoice(params, c.box));
  }
}

TEST(MainWindowOfferTest, MakeDefaultAppliesOutsideWindows8) {
  EXPECT_TRUE(CanMakeBrowserDefault(platform::kWindows7));
  EXPECT_FALSE(CanMakeBrowserDefault(platform::kWindows8));
  EXPECT_FALSE(CanMakeBrowserDefault(platform::kWindows8_1));
  EXPECT_TRUE(CanMakeBrowserDefault(platform::kWindows10));
  EXPECT_TRUE(CanMakeBrowserDefault(platform::kWindows10Build17604));
}

// ---------------------------------------------------------------------------------------
// The real window against the fake publisher and the stand-in setup program.


// The window with its outside world replaced: no elevation prompt, no shell, and message
// dialogs answered at once with a chosen button.
class TestWindow : public MainWindow {
 public:
  using MainWindow::MainWindow;

  bool needs_elevation = false;
  std::atomic<int> elevation_requests{0};
  std::vector<MessageKind> dialogs;
  std::vector<bool> window_visible_under_dialog;
  INT_PTR dialog_answer = kMessageFirstButton;
  // Show the real message dialogs (modal, on the window's thread) instead of answering.
  bool real_dialogs = false;
  // Runs on the window's thread before a dialog is answered.
  std::function<void()> before_answer;
  std::vector<std::wstring> opened;
  // Hand the links to the shell as well.
  bool real_shell = false;

 protected:
  bool NeedsElevatedRestart() override { return needs_elevation; }
  bool RestartElevated() override {
    ++elevation_requests;
    return false;
  }
  INT_PTR RunMessageDialog(MessageDialog* dialog) override {
    dialogs.push_back(dialog->kind());
    window_visible_under_dialog.push_back(IsWindowVisible(hwnd()) != FALSE);
    if (before_answer) before_answer();
    return real_dialogs ? MainWindow::RunMessageDialog(dialog) : dialog_answer;
  }
  bool OpenUrl(const std::wstring& url) override {
    opened.push_back(url);
    return !real_shell || MainWindow::OpenUrl(url);
  }
};

size_t ClickCount(const std::string& click) {
  return test_support::PublisherRequestsWithPath("dialog_window=liteinstall&" + click, 0, 0)
      .size();
}

// Waits until `expected` requests of `click` were seen and gives stragglers a moment.
size_t WaitForClicks(const std::string& click, size_t expected) {
  test_support::PublisherRequestsWithPath("dialog_window=liteinstall&" + click, expected, 10000);
  Sleep(300);
  return ClickCount(click);
}

class MainWindowTest : public testing::Test {
 protected:
  MainWindowTest()
      : marker_(test_support::UniqueMarker()),
        brand_(work_.path() + L"\\"),
        report_path_(work_.File(L"report.json")) {}

  void SetUp() override {
    installer::SetDeviceScaleFactorForTesting(1.0);
    key_path_ = L"Software\\LiteInstallerTests\\" + platform::Widen(marker_);
    installer::SetBrowserRegistryKeyPathForTesting(key_path_);
    installer::SetKeptArchiveFolderForTesting(work_.File(L"kept"));
    brand_.set_brand_id("zorvin");
    brand_.set_brand_name("zorvin");
    brand_.set_language("en");
    brand_.set_license_url(test_support::PublisherUrl("/browser_agreement/" + marker_ + "/"));
    brand_.set_conf_policy_url(test_support::PublisherUrl("/confidential/" + marker_ + "/"));
    brand_.set_slide_url(test_support::PublisherUrl("/slides/" + marker_ + "/"));
    ServeArchive(L"good");
    brand_.ApplyDefaults();
    SetParams({});
    SetEnvironmentVariableW(L"LI_STAND_IN_REPORT", report_path_.c_str());
    SetEnvironmentVariableW(L"LI_STAND_IN_WINDOW_MS", L"0");
    SetEnvironmentVariableW(L"LI_STAND_IN_EXIT_CODE", L"0");
  }

  void TearDown() override {
    installer::SetKeptArchiveFolderForTesting(L"");
    RegDeleteTreeW(HKEY_CURRENT_USER, key_path_.c_str());
    installer::SetBrowserRegistryKeyPathForTesting(L"");
  }

  // The archive of this test only, answered with the stand-in `variant` and `faults`.
  void ServeArchive(const wchar_t* variant, const std::string& faults = "") {
    std::string file = platform::Narrow(
        test_support::BuildFile(std::wstring(L"stand_in\\") + variant + L".exe"));
    std::string fault_list = "file=" + file + (faults.empty() ? "" : "," + faults);
    brand_.set_setup_url(test_support::PublisherUrl("/f/" +
                                                    test_support::EscapeSegment(fault_list) +
                                                    "/browser/" + marker_ + "/browser-setup.arc"));
  }

  // An archive that never arrives: every attempt fails, with the normal 15-second pause
  // between attempts, so the flow waits at the offer and on the progress screen alike.
  void ServeNoArchive() { ServeArchive(L"good", "status=404"); }

  void SetParams(DistribInfoParams::ParamMap map) {
    map["zorvinuid"] = marker_;
    params_.SetParamsForTesting(map);
  }

  installer::InstallerOptions Options() {
    return {.brand_info = &brand_,
            .params = &params_,
            .command_line = installer::ProcessCommandLine()};
  }

  std::unique_ptr<TestWindow> MakeWindow() {
    auto window = std::make_unique<TestWindow>(Options());
    window->installer()->SetMessageWindowPollForTesting(10);
    return window;
  }

  INT_PTR Drive(TestWindow* window, const std::function<void(HWND)>& script) {
    return test_support::DriveDialog(
        [&] { return window->DoModal(); },
        [&] { return window->ListenerForTesting()->WindowHandle(); }, script);
  }

  std::map<std::string, std::string> ReportedSwitches() {
    std::map<std::string, std::string> switches;
    std::string text = test_support::ReadFileBytes(report_path_);
    json_t* root = json_loads(text.c_str(), 0, nullptr);
    const char* name;
    json_t* value;
    json_object_foreach(json_object_get(root, "switches"), name, value) {
      switches[name] = json_string_value(value) ? json_string_value(value) : "";
    }
    json_decref(root);
    return switches;
  }

  static int BarPosition(HWND window) {
    return static_cast<int>(
        SendMessageW(GetDlgItem(window, IDC_PROGRESS_BAR), PBM_GETPOS, 0, 0));
  }

  static bool WaitForPercent(HWND window, int percent) {
    return test_support::WaitUntil(
        [&] {
          return test_support::ControlText(window, IDC_PERCENT_TEXT) == PercentText(percent) &&
                 BarPosition(window) == percent;
        },
        20000);
  }

  // What the screen shows of control `id`, pixel by pixel.
  static std::vector<uint32_t> ShownPixels(HWND window, int id) {
    HWND control = GetDlgItem(window, id);
    RECT rect = {};
    GetClientRect(control, &rect);
    test_support::MemoryCanvas canvas(rect.right, rect.bottom, RGB(0, 0, 0));
    HDC dc = GetDC(control);
    BitBlt(canvas.dc(), 0, 0, rect.right, rect.bottom, dc, 0, 0, SRCCOPY);
    ReleaseDC(control, dc);
    std::vector<uint32_t> pixels;
    for (int y = 0; y < rect.bottom; ++y) {
      for (int x = 0; x < rect.right; ++x) pixels.push_back(canvas.Raw(x, y) & 0xFFFFFF);
    }
    return pixels;
  }

  static bool WaitForEnd(HWND window) {
    return test_support::WaitUntil([&] { return !IsWindow(window); }, 60000);
  }

  // Every window test presses buttons, so each one holds the lock while its window lives.
  test_support::ClickCounterLock click_lock_;
  installer::UiEnvironment ui_;
  test_support::ScopedTestLog log_;
  test_support::ScopedTempDir work_;
  std::string marker_;
  std::wstring key_path_;
  installer::BrandInfo brand_;
  DistribInfoParams params_;
  std::wstring report_path_;
};

// The tests that need the display to themselves, real input and photographs of the screen:
// CTest runs them alone (no window of another test takes the foreground or covers them).
class MainWindowOnScreenTest : public MainWindowTest {};

TEST_F(MainWindowTest, OfferScreenLayout) {
  auto window = MakeWindow();
  RECT window_rect = {};
  RECT install = {}, close = {}, make_default = {}, send_statistics = {}, privacy = {};
  std::wstring title, tagline, install_text;
  bool bar_visible = true, cancel_visible = true, percent_empty = false, icons_set = false;
  INT_PTR result = Drive(window.get(), [&](HWND hwnd) {
    // The icons come after the first paint.
    icons_set = test_support::WaitUntil(
        [&] {
          return SendMessageW(hwnd, WM_GETICON, ICON_BIG, 0) != 0 &&
                 SendMessageW(hwnd, WM_GETICON, ICON_SMALL, 0) != 0;
        },
        5000);
    GetWindowRect(hwnd, &window_rect);
    wchar_t text[64] = {};
    GetWindowTextW(hwnd, text, 64);
    title = text;
    tagline = test_support::ControlText(hwnd, IDC_TAGLINE);
    install_text = test_support::ControlText(hwnd, IDC_INSTALL_BUTTON);
    install = test_support::ControlRect(hwnd, IDC_INSTALL_BUTTON);
    close = test_support::ControlRect(hwnd, IDC_CLOSE_BUTTON);
    make_default = test_support::ControlRect(hwnd, IDC_MAKE_DEFAULT_CHECKBOX);
    send_statistics = test_support::ControlRect(hwnd, IDC_SEND_STATISTICS_CHECKBOX);
    privacy = test_support::ControlRect(hwnd, IDC_PRIVACY_LINK);
    bar_visible = test_support::ControlVisible(hwnd, IDC_PROGRESS_BAR);
    cancel_visible = test_support::ControlVisible(hwnd, IDC_CANCEL_BUTTON);
    percent_empty = test_support::ControlText(hwnd, IDC_PERCENT_TEXT).empty();
  });
  EXPECT_EQ(kResultSystemClose, result);
  EXPECT_EQ(728, window_rect.right - window_rect.left);
  EXPECT_EQ(400, window_rect.bottom - window_rect.top);
  EXPECT_EQ(L"Zorvin", title);
  EXPECT_EQ(L"The fast, secure, and intelligent web browser", tagline);
  EXPECT_EQ(L"Install", install_text);
  EXPECT_EQ(557, install.left);
  EXPECT_EQ(305, install.top);
  EXPECT_EQ(112, install.right - install.left);
  EXPECT_EQ(32, install.bottom - install.top);
  EXPECT_EQ(698, close.left);
  EXPECT_EQ(18, close.top);
  EXPECT_EQ(12, close.right - close.left);
  // Both boxes share the row: statistics on the left, make-default on the right.
  EXPECT_EQ(60, send_statistics.left);
  EXPECT_EQ(308, send_statistics.right);
  EXPECT_EQ(314, make_default.left);
  EXPECT_EQ(537, make_default.right);
  EXPECT_EQ(305, make_default.top);
  // The multi-line statistics text needs more than one line; the link starts below it.
  EXPECT_GT(send_statistics.bottom - send_statistics.top, 20);
  EXPECT_EQ(send_statistics.bottom, privacy.top);
  // At x 84 plus the statistics box's text offset (its 16-pixel glyph and the gap after it).
  EXPECT_EQ(84 + 16 + CheckBox::kTextGap, privacy.left);
  EXPECT_GT(privacy.right - privacy.left, 0);
  EXPECT_FALSE(bar_visible);
  EXPECT_FALSE(cancel_visible);
  EXPECT_TRUE(percent_empty);
  EXPECT_TRUE(icons_set);
}

// Every visible control of a screen: where it stands (client coordinates) and whether its
// text fits it in its own font (a check box's text starts after its glyph and gap).
struct ShownControl {
  int id;
  RECT rect;
  bool text_fits;
};

std::vector<ShownControl> SurveyScreen(HWND window) {
  std::vector<ShownControl> shown;
  for (HWND child = GetWindow(window, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    if (!IsWindowVisible(child)) continue;
    int id = GetDlgCtrlID(child);
    RECT rect = {};
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
    wchar_t text[512] = {};
    GetWindowTextW(child, text, 512);  // pieces of the licence sentence share their ids
    bool is_box = id == IDC_MAKE_DEFAULT_CHECKBOX || id == IDC_SEND_STATISTICS_CHECKBOX;
    int width = rect.right - rect.left -
                (is_box ? installer::ScaleLength(16 + CheckBox::kTextGap) : 0);
    RECT needed = {0, 0, width, 0};
    HDC dc = GetDC(child);
    HGDIOBJ old_font =
        SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(child, WM_GETFONT, 0, 0)));
    // The close and cancel pictures' texts are names for screen readers, never drawn.
    if (text[0] != L'\0' && id != IDC_PROGRESS_BAR && id != IDC_CLOSE_BUTTON &&
        id != IDC_CANCEL_BUTTON) {
      DrawTextW(dc, text, -1, &needed, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    }
    SelectObject(dc, old_font);
    ReleaseDC(child, dc);
    shown.push_back({id, rect, needed.right <= width && needed.bottom <= rect.bottom - rect.top});
  }
  return shown;
}

TEST_F(MainWindowTest, BothScreensFitAtOneAndAHalfInTheLongestLanguage) {
  installer::SetDeviceScaleFactorForTesting(1.5);
  brand_.set_language("de");  // the longest texts of the fourteen languages
  brand_.ApplyDefaults();
  ServeNoArchive();
  auto window = MakeWindow();
  RECT client = {}, install = {};
  std::vector<ShownControl> offer, progress;
  INT_PTR result = Drive(window.get(), [&](HWND hwnd) {
    GetClientRect(hwnd, &client);
    install = test_support::ControlRect(hwnd, IDC_INSTALL_BUTTON);
    offer = SurveyScreen(hwnd);
    test_support::ClickButton(hwnd, IDC_INSTALL_BUTTON);
    PostMessageW(hwnd, kSetPercentMessage, 100, 0);
    test_support::WaitForIdle(hwnd);
    progress = SurveyScreen(hwnd);
  });
  installer::SetDeviceScaleFactorForTesting(1.0);
  EXPECT_EQ(kResultSystemClose, result);
  EXPECT_EQ(1092, client.right);
  EXPECT_EQ(600, client.bottom);
  // The install button's picture is the 2x one (112 x 32 logical pixels), not a stretched 1x.
  EXPECT_EQ(168, install.right - install.left);
  EXPECT_EQ(48, install.bottom - install.top);
  for (const auto* screen : {&offer, &progress}) {
    ASSERT_GE(screen->size(), 2u);
    for (size_t i = 0; i < screen->size(); ++i) {
      const ShownControl& a = (*screen)[i];
      SCOPED_TRACE(a.id);
      EXPECT_TRUE(a.text_fits);
      EXPECT_TRUE(a.rect.left >= 0 && a.rect.top >= 0 && a.rect.right <= client.right &&
                  a.rect.bottom <= client.bottom);
      for (size_t j = i + 1; j < screen->size(); ++j) {
        RECT overlap;
        // The tagline's box is the lower part of the window, under everything else there.
        if (a.id == IDC_TAGLINE || (*screen)[j].id == IDC_TAGLINE) continue;
        EXPECT_FALSE(IntersectRect(&overlap, &a.rect, &(*screen)[j].rect))
            << a.id << " overlaps " << (*screen)[j].id;
      }
    }
  }
}

TEST_F(MainWindowTest, InstallShowsProgressAndTheFinishedFlowEndsTheDialog) {
  // The "browser" keeps its message window for a while: the flow finishes only after it is
  // gone, so the last percentage stays on screen long enough to be read.
  SetEnvironmentVariableW(L"LI_STAND_IN_WINDOW_MS", L"3000");
  size_t installs = ClickCount("clicked_button=install");
  auto window = MakeWindow();
  bool offer_controls_gone = false, bar_shown = false, percent_seen = false;
  bool cancel_removed = false;
  INT_PTR result = Drive(window.get(), [&](HWND hwnd) {
    test_support::ClickButton(hwnd, IDC_INSTALL_BUTTON);
    offer_controls_gone = GetDlgItem(hwnd, IDC_INSTALL_BUTTON) == nullptr &&
                          GetDlgItem(hwnd, IDC_CLOSE_BUTTON) == nullptr &&
                          GetDlgItem(hwnd, IDC_TAGLINE) == nullptr &&
                          GetDlgItem(hwnd, IDC_MAKE_DEFAULT_CHECKBOX) == nullptr &&
                          GetDlgItem(hwnd, IDC_SEND_STATISTICS_CHECKBOX) == nullptr &&
                          GetDlgItem(hwnd, IDC_PRIVACY_LINK) == nullptr &&
                          GetDlgItem(hwnd, IDC_LICENSE_TEXT) == nullptr &&
                          GetDlgItem(hwnd, IDC_LICENSE_LINK) == nullptr;
    bar_shown = test_support::ControlVisible(hwnd, IDC_PROGRESS_BAR);
    cancel_removed = GetDlgItem(hwnd, IDC_CANCEL_BUTTON) == nullptr;
    // The stand-in setup reports stages 5 and 7 and the import up to 100.
    percent_seen = WaitForPercent(hwnd, 100);
    WaitForEnd(hwnd);
  });
  EXPECT_EQ(kResultDone, result) << platform::Narrow(log_.Text());
  EXPECT_EQ(0, window->result_code());
  EXPECT_TRUE(offer_controls_gone);
  EXPECT_TRUE(bar_shown);
  EXPECT_TRUE(cancel_removed);
  EXPECT_TRUE(percent_seen);
  EXPECT_TRUE(window->flow().install_clicked());
  EXPECT_EQ(0, window->elevation_requests.load());
  for (const wchar_t* line : {L"--> Installer > MainWindow::OnInstallProgress: 75",
                              L"--> Installer > MainWindow::OnInstallProgress: 79",
                              L"--> Installer > MainWindow::OnImportProgress: 0",
                              L"--> Installer > MainWindow::OnImportProgress: 100"}) {
    EXPECT_EQ(1, log_.CountLines(line)) << platform::Narrow(line);
  }
  // The window's handle went to the setup program.
  std::map<std::string, std::string> switches = ReportedSwitches();
  EXPECT_NE("0", switches["progress-window"]);
  EXPECT_FALSE(switches["progress-window"].empty());
  EXPECT_EQ(installs + 1, WaitForClicks("clicked_button=install", installs + 1));
}

TEST_F(MainWindowTest, EscapeCountsACancelButOnlyTheCloseButtonCloses) {
  size_t cancels = ClickCount("clicked_button=cancel");
  ServeNoArchive();
  auto window = MakeWindow();
  bool open_after_escape = false;
  size_t after_escape = 0;
  INT_PTR result = Drive(window.get(), [&](HWND hwnd) {
    SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    after_escape = WaitForClicks("clicked_button=cancel", cancels + 1);
    open_after_escape = IsWindowVisible(hwnd) != FALSE;
    test_support::ClickButton(hwnd, IDC_CLOSE_BUTTON);
    WaitForEnd(hwnd);
  });
  EXPECT_EQ(cancels + 1, after_escape);
  EXPECT_TRUE(open_after_escape);
  EXPECT_EQ(kResultCloseButton, result);
  EXPECT_EQ(cancels + 2, WaitForClicks("clicked_button=cancel", cancels + 2));
}

// What a screen reader and a keyboard user meet on the offer screen, with real key input.
TEST_F(MainWindowOnScreenTest, OfferScreenServesScreenReadersAndTheKeyboard) {
  brand_.set_make_browser_default(installer::kTrue);
  brand_.set_send_statistics(installer::kTrue);
  ServeNoArchive();
  auto window = MakeWindow();
  std::map<int, std::wstring> names, texts;
  std::map<int, LONG> button_types;
  std::vector<int> tab_order;
  std::vector<uint32_t> install_unfocused, install_focused;
  LRESULT check_before_space = -1, check_after_space = -1;
  bool ready = false;
  Drive(window.get(), [&](HWND hwnd) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    for (int id : {IDC_INSTALL_BUTTON, IDC_CLOSE_BUTTON, IDC_MAKE_DEFAULT_CHECKBOX,
                   IDC_SEND_STATISTICS_CHECKBOX, IDC_PRIVACY_LINK, IDC_LICENSE_LINK, IDC_TAGLINE}) {
      names[id] = test_support::AccessibleName(hwnd, id);
      texts[id] = test_support::ControlText(hwnd, id);
      button_types[id] = GetWindowLongW(GetDlgItem(hwnd, id), GWL_STYLE) & BS_TYPEMASK;
    }
    CoUninitialize();
    ready = test_support::WaitForInput(hwnd, GetDlgItem(hwnd, IDC_INSTALL_BUTTON));
    for (int i = 0; i < 5; ++i) {
      test_support::PressKeys(hwnd, {VK_TAB});
      test_support::WaitForIdle(hwnd);
      tab_order.push_back(GetDlgCtrlID(test_support::FocusedControl(hwnd)));
      if (i == 0) install_unfocused = ShownPixels(hwnd, IDC_INSTALL_BUTTON);
      if (i == 2) {
        check_before_space = SendDlgItemMessageW(hwnd, IDC_MAKE_DEFAULT_CHECKBOX, BM_GETCHECK, 0, 0);
        test_support::PressKeys(hwnd, {VK_SPACE});
        test_support::WaitForIdle(hwnd);
        check_after_space = SendDlgItemMessageW(hwnd, IDC_MAKE_DEFAULT_CHECKBOX, BM_GETCHECK, 0, 0);
      }
    }
    install_focused = ShownPixels(hwnd, IDC_INSTALL_BUTTON);
    test_support::ClickButton(hwnd, IDC_CLOSE_BUTTON);
    WaitForEnd(hwnd);
  });
  EXPECT_TRUE(ready);
  // Names: the buttons' texts, "Close" for the picture-only close button, and every other
  // control's own text. (Roles and states come from the styles on Windows; Wine's proxies
  // report every control as a client area, so the style is what is checked here.)
  EXPECT_EQ(L"Install", names[IDC_INSTALL_BUTTON]);
  EXPECT_EQ(L"Close", names[IDC_CLOSE_BUTTON]);
  for (int id : {IDC_MAKE_DEFAULT_CHECKBOX, IDC_SEND_STATISTICS_CHECKBOX, IDC_PRIVACY_LINK,
                 IDC_LICENSE_LINK, IDC_TAGLINE}) {
    // The name is the text without its mnemonic marker.
    std::wstring spoken = texts[id];
    spoken.erase(std::remove(spoken.begin(), spoken.end(), L'&'), spoken.end());
    EXPECT_FALSE(spoken.empty()) << id;
    EXPECT_EQ(spoken, names[id]) << id;
  }
  EXPECT_EQ(BS_CHECKBOX, button_types[IDC_MAKE_DEFAULT_CHECKBOX]);
  EXPECT_EQ(BS_CHECKBOX, button_types[IDC_SEND_STATISTICS_CHECKBOX]);
  // Tab goes in reading order and comes back to Install; Space toggles the focused box; the
  // focused Install button shows a focus cue.
  EXPECT_EQ((std::vector<int>{IDC_LICENSE_LINK, IDC_PRIVACY_LINK, IDC_MAKE_DEFAULT_CHECKBOX,
                              IDC_SEND_STATISTICS_CHECKBOX, IDC_INSTALL_BUTTON}),
            tab_order);
  EXPECT_EQ(BST_CHECKED, check_before_space);
  EXPECT_EQ(BST_UNCHECKED, check_after_space);
  EXPECT_FALSE(install_focused.empty());
  EXPECT_NE(install_unfocused, install_focused);
}

TEST_F(MainWindowTest, CheckBoxesToggleCountAndReachTheSetup) {
  size_t defaults = ClickCount("choosen_checkbox=default");
  size_t sendstats = ClickCount("choosen_checkbox=sendstat");
  brand_.set_make_browser_default(installer::kTrue);
  brand_.set_send_statistics(installer::kTrue);
  auto window = MakeWindow();
  INT_PTR result = Drive(window.get(), [&](HWND hwnd) {
    // Make-default twice (back on), send-statistics once (off).
    test_support::SendCommand(hwnd, IDC_MAKE_DEFAULT_CHECKBOX);
    test_support::SendCommand(hwnd, IDC_MAKE_DEFAULT_CHECKBOX);
    test_support::SendCommand(hwnd, IDC_SEND_STATISTICS_CHECKBOX);
    test_support::ClickButton(hwnd, IDC_INSTALL_BUTTON);
    WaitForEnd(hwnd);
  });
  EXPECT_EQ(kResultDone, result);
  EXPECT_EQ(defaults + 2, WaitForClicks("choosen_checkbox=default", defaults + 2));
  EXPECT_EQ(sendstats + 1, WaitForClicks("choosen_checkbox=sendstat", sendstats + 1));
  std::map<std::string, std::string> switches = ReportedSwitches();
  bool can_make_default = CanMakeBrowserDefault(platform::WindowsVersionClass());
  EXPECT_EQ(can_make_default, switches.count("make-browser-default-after-import") == 1);
  EXPECT_EQ(0u, switches.count("send-statistics"));
}

TEST_F(MainWindowTest, CheckBoxVisibilityFollowsTheParameters) {
  const struct {
    DistribInfoParams::ParamMap params;
    bool make_default;
    bool send_statistics;
  } cases[] = {
      {{{"def", "1"}}, false, true},
      {{{"uac", "2"}}, false, true},
      {{{"stat", "2"}}, true, false},
      {{{"def", "2"}, {"statpromo", "true"}}, false, false},
  };
  ServeNoArchive();
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    SetParams(c.params);
    auto window = MakeWindow();
    bool make_default = false, send_statistics = false;
    RECT make_default_rect = {};
    Drive(window.get(), [&](HWND hwnd) {
      make_default = test_support::ControlVisible(hwnd, IDC_MAKE_DEFAULT_CHECKBOX);
      send_statistics = test_support::ControlVisible(hwnd, IDC_SEND_STATISTICS_CHECKBOX);
      make_default_rect = test_support::ControlRect(hwnd, IDC_MAKE_DEFAULT_CHECKBOX);
    });
    EXPECT_EQ(c.make_default && CanMakeBrowserDefault(platform::WindowsVersionClass()),
              make_default);
    EXPECT_EQ(c.send_statistics, send_statistics);
    // Alone, the make-default box takes the whole row.
    if (make_default && !send_statistics) {
      EXPECT_EQ(60, make_default_rect.left);
      EXPECT_EQ(525, make_default_rect.right);
    }
  }
}

TEST_F(MainWindowTest, FirstRunWithChoicesMadeOpensOnTheProgressScreen) {
  SetParams({{"first", "1"}, {"def", "2"}, {"stat", "1"}});
  auto window = MakeWindow();
  bool no_offer = false, bar_shown = false, slide_licence = false;
  INT_PTR result = Drive(window.get(), [&](HWND hwnd) {
    no_offer = GetDlgItem(hwnd, IDC_INSTALL_BUTTON) == nullptr &&
               GetDlgItem(hwnd, IDC_MAKE_DEFAULT_CHECKBOX) == nullptr;
    bar_shown = test_support::ControlVisible(hwnd, IDC_PROGRESS_BAR);
    slide_licence = GetDlgItem(hwnd, IDC_SLIDE_LICENSE_TEXT) != nullptr &&
                    GetDlgItem(hwnd, IDC_SLIDE_LICENSE_LINK) != nullptr;
    // Enter presses nothing here; the flow runs and finishes by itself.
    SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    WaitForEnd(hwnd);
  });
  EXPECT_TRUE(no_offer);
  EXPECT_TRUE(bar_shown);
  EXPECT_TRUE(slide_licence);
  EXPECT_EQ(kResultDone, result) << platform::Narrow(log_.Text());
  EXPECT_EQ(0, window->result_code());
  std::map<std::string, std::string> switches = ReportedSwitches();
  EXPECT_EQ(0u, switches.count("make-browser-default-after-import"));
  EXPECT_EQ(1u, switches.count("send-statistics"));
}

TEST_F(MainWindowTest, SlideLicenceGoesWithTheFirstSlide) {
  SetParams({{"first", "1"}, {"def", "1"}, {"stat", "1"}});
  ServeNoArchive();
  auto window = MakeWindow();
  bool shown_at_start = false, gone_after_first_slide = false, gone_early = true;
  // The first slide starts after this, with the window: while less than its ten seconds have
  // passed since, the pieces are there (a machine too slow to look in time is not judged).
  const DWORD start = GetTickCount();
  auto in_first_slide = [&] { return GetTickCount() - start < 9000; };
  Drive(window.get(), [&](HWND hwnd) {
    shown_at_start = GetDlgItem(hwnd, IDC_SLIDE_LICENSE_LINK) != nullptr || !in_first_slide();
    test_support::WaitUntil([&] { return GetTickCount() - start >= 5000; }, 5000);
    gone_early = GetDlgItem(hwnd, IDC_SLIDE_LICENSE_LINK) == nullptr && in_first_slide();
    // The first slide stays ten seconds; the next tick after the change removes the pieces.
    gone_after_first_slide = test_support::WaitUntil(
        [&] {
          return GetDlgItem(hwnd, IDC_SLIDE_LICENSE_TEXT) == nullptr &&
                 GetDlgItem(hwnd, IDC_SLIDE_LICENSE_LINK) == nullptr;
        },
        15000);
  });
  EXPECT_TRUE(shown_at_start);
  EXPECT_FALSE(gone_early);
  EXPECT_TRUE(gone_after_first_slide);
  // The slide server was asked for the next slide.
  EXPECT_FALSE(
      test_support::PublisherRequestsWithPath("/slides/" + marker_ + "/x2/02.jpg", 1, 5000)
          .empty());
}

TEST_F(MainWindowTest, FirstRunWithoutDefChoiceShowsTheOffer) {
  SetParams({{"first", "1"}, {"stat", "1"}});
  ServeNoArchive();
  auto window = MakeWindow();
  bool offer = false;
  Drive(window.get(), [&](HWND hwnd) {
    offer = test_support::ControlVisible(hwnd, IDC_INSTALL_BUTTON) &&
            !test_support::ControlVisible(hwnd, IDC_PROGRESS_BAR);
  });
  EXPECT_TRUE(offer);
}

TEST_F(MainWindowTest, CancelButtonStaysOnlyWithCancelOneAndAsksFirst) {
  ServeNoArchive();
  for (const char* cancel : {"1", "0"}) {
    SCOPED_TRACE(cancel);
    SetParams({{"cancel", cancel}});
    auto window = MakeWindow();
    window->dialog_answer = kMessageSecondButton;
    bool kept = false;
    RECT rect = {};
    INT_PTR result = Drive(window.get(), [&](HWND hwnd) {
      test_support::ClickButton(hwnd, IDC_INSTALL_BUTTON);
      kept = test_support::ControlVisible(hwnd, IDC_CANCEL_BUTTON);
      rect = test_support::ControlRect(hwnd, IDC_CANCEL_BUTTON);
      if (kept) test_support::ClickButton(hwnd, IDC_CANCEL_BUTTON);
    });
    EXPECT_EQ(cancel[0] == '1', kept);
    EXPECT_EQ(kept ? kResultCancelConfirmed : kResultSystemClose, result);
    if (kept) {
      EXPECT_EQ(698, rect.left);
      EXPECT_EQ(18, rect.top);
      EXPECT_EQ(std::vector<MessageKind>{MessageKind::kResumeOrCancel}, window->dialogs);
    }
  }
}

// Once the setup runs, nothing turns the run into a cancel: the resume-or-cancel question
// still open is answered "Resume", a system close is refused, and the result is the setup's.
TEST_F(MainWindowTest, AStartedSetupIsNeverCancelled) {
  ServeArchive(L"good", "delay_ms=2000");
  SetParams({{"cancel", "1"}});
  SetEnvironmentVariableW(L"LI_STAND_IN_EXIT_CODE", L"3");
  SetEnvironmentVariableW(L"LI_STAND_IN_DELAY_MS", L"1500");
  auto window = MakeWindow();
  window->real_dialogs = true;
  bool question_shown = false;
  bool question_gone = false;
  INT_PTR result = Drive(window.get(), [&](HWND hwnd) {
    test_support::ClickButton(hwnd, IDC_INSTALL_BUTTON);
    // Posted: the question runs modally on the window's thread.
    PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDC_CANCEL_BUTTON, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(hwnd, IDC_CANCEL_BUTTON)));
    HWND question = test_support::WaitForVisibleDialog(GetCurrentProcessId(), 10000, hwnd);
    question_shown = question != nullptr;
    question_gone = test_support::WaitUntil([&] { return !IsWindow(question); }, 60000);
    // The setup runs (it waits 1.5 s before it reports): a system close changes nothing.
    PostMessageW(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    WaitForEnd(hwnd);
  });
  SetEnvironmentVariableW(L"LI_STAND_IN_DELAY_MS", nullptr);
  EXPECT_TRUE(question_shown);
  EXPECT_TRUE(question_gone);
  EXPECT_EQ(kResultDone, result);
  EXPECT_EQ(3, window->result_code());
  EXPECT_EQ(std::vector<MessageKind>{MessageKind::kResumeOrCancel}, window->dialogs);
}

// A "Cancel" given just after the setup started, before the window heard of it, counts as
// "Resume" too: the run ends with the setup's result, not as cancelled.
TEST_F(MainWindowTest, ACancelJustAfterTheSetupStartedIsAResume) {
  SetParams({{"cancel", "1"}});
  SetEnvironmentVariableW(L"LI_STAND_IN_EXIT_CODE", L"3");
  auto window = MakeWindow();
  window->dialog_answer = kMessageSecondButton;
  // The window's thread answers once the setup runs, and hears of that only afterwards.
  window->before_answer = [&] {
    test_support::WaitUntil([&] { return log_.Contains(L"): Process created: "); }, 60000);
  };
  INT_PTR result = Drive(window.get(), [&](HWND hwnd) {
    test_support::ClickButton(hwnd, IDC_INSTALL_BUTTON);
    PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDC_CANCEL_BUTTON, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(hwnd, IDC_CANCEL_BUTTON)));
    WaitForEnd(hwnd);
  });
  EXPECT_TRUE(log_.Contains(L"): Process created: ")) << log_.Text();
  EXPECT_EQ(kResultDone, result);
  EXPECT_EQ(3, window->result_code());
}

TEST_F(MainWindowTest, SetupMessagesMoveTheBarOnlyOnTheProgressScreen) {
  // The archive stops coming after its first bytes: no download progress after the install
  // button mixes with the messages of this test.
  ServeArchive(L"good", "stall_after=1000,stall_ms=45000");
  UINT install_progress = RegisterWindowMessageW(kInstallProgressMessageName);
  UINT import_progress = RegisterWindowMessageW(kImportProgressMessageName);
  auto window = MakeWindow();
  std::vector<std::wstring> texts;
  std::vector<int> positions;
  std::vector<uint32_t> stepped, repainted, bar;
  auto observe = [&](HWND hwnd) {
    test_support::WaitForIdle(hwnd);
    texts.push_back(test_support::ControlText(hwnd, IDC_PERCENT_TEXT));
    positions.push_back(BarPosition(hwnd));
  };
  INT_PTR result = Drive(window.get(), [&](HWND hwnd) {
    PostMessageW(hwnd, kSetPercentMessage, 50, 0);
    observe(hwnd);  // offer screen: nothing
    // The download (started after the first paint) has reported its first bytes.
    ASSERT_TRUE(test_support::WaitUntil(
        [&] { return log_.Contains(L"Connection established"); }, 10000));
    test_support::WaitForIdle(hwnd);
    test_support::ClickButton(hwnd, IDC_INSTALL_BUTTON);
    test_support::WaitForIdle(hwnd);
    PostMessageW(hwnd, install_progress, 5, 0);
    observe(hwnd);  // 75
    PostMessageW(hwnd, install_progress, 6, 0);
    observe(hwnd);  // unchanged
    PostMessageW(hwnd, install_progress, 7, 0);
    observe(hwnd);  // 79
    PostMessageW(hwnd, import_progress, 50, 0);
    observe(hwnd);  // 90
    PostMessageW(hwnd, kSetPercentMessage, 90, 0);
    observe(hwnd);  // the same value: unchanged
    PostMessageW(hwnd, kSetPercentMessage, 140, 0);
    observe(hwnd);  // limited to 100
    // A download's worth of values in quick succession, each replacing the one before: what
    // stands there at the end is what one clean painting of the last value gives.
    for (int value = 10; value <= 99; ++value) PostMessageW(hwnd, kSetPercentMessage, value, 0);
    // Wait for the last value, then let the window's thread paint what is pending (a slow or
    // emulated machine takes its time) before each picture.
    ASSERT_TRUE(test_support::WaitUntil(
        [&] { return test_support::ControlText(hwnd, IDC_PERCENT_TEXT) == L"99%"; }, 20000));
    // Each picture once the window has painted what is pending.
    auto settled_text = [&] {
      test_support::WaitForIdle(hwnd);
      return ShownPixels(hwnd, IDC_PERCENT_TEXT);
    };
    stepped = settled_text();
    RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    repainted = settled_text();
    bar = ShownPixels(hwnd, IDC_PROGRESS_BAR);
  });
  EXPECT_EQ(kResultSystemClose, result);
  std::vector<std::wstring> expected_texts = {L"", L"75%", L"75%", L"79%", L"90%", L"90%", L"100%"};
  std::vector<int> expected_positions = {0, 75, 75, 79, 90, 90, 100};
  EXPECT_EQ(expected_texts, texts);
  EXPECT_EQ(expected_positions, positions);
  ASSERT_FALSE(repainted.empty());
  EXPECT_NE(std::count(repainted.begin(), repainted.end(), repainted[0]),
            static_cast<long>(repainted.size()))
      << "no text painted";
  EXPECT_TRUE(stepped == repainted) << "earlier values show through";
  // The bar beside the percentage stays in sight: its filled part is a gradient.
  ASSERT_FALSE(bar.empty());
  EXPECT_NE(std::count(bar.begin(), bar.end(), bar[0]), static_cast<long>(bar.size()))
      << "the bar is covered";
  EXPECT_EQ(0, log_.CountLines(L"OnInstallProgress: 6"));
  EXPECT_EQ(1, log_.CountLines(L"--> Installer > MainWindow::OnImportProgress: 50"));
}

TEST_F(MainWindowTest, CloseWindowAndHigherVersionMessagesEndTheDialog) {
  ServeNoArchive();
  for (const wchar_t* name : {kCloseWindowMessageName, kHigherVersionMessageName}) {
    SCOPED_TRACE(platform::Narrow(name));
    const bool newer = name == kHigherVersionMessageName;
    auto window = MakeWindow();
    INT_PTR result = Drive(window.get(), [&](HWND hwnd) {
      test_support::ClickButton(hwnd, IDC_INSTALL_BUTTON);
      PostMessageW(hwnd, RegisterWindowMessageW(name), 0, 0);
      WaitForEnd(hwnd);
    });
    EXPECT_EQ(kResultDone, result);
    if (newer) {
      ASSERT_EQ(std::vector<MessageKind>{MessageKind::kNewerVersion}, window->dialogs);
      EXPECT_FALSE(window->window_visible_under_dialog[0]);  // hidden under the notice
    } else {
      EXPECT_TRUE(window->dialogs.empty());
      EXPECT_LE(1, log_.CountLines(L"--> Installer > MainWindow::OnCloseWindow"));
    }
    // The flow was stopped: nothing was installed.
    EXPECT_TRUE(test_support::ReadFileBytes(report_path_).empty());
  }
}

// The proxy's credentials prompt is the window's: shown on its thread, owned by it. A close
// from the setup's message, a system close (the taskbar's "Close window"), or a stop of the
// install flow from elsewhere, takes it down, and nothing waits for an answer that cannot come.
TEST_F(MainWindowTest, ProxyPromptIsTheWindowsAndAStopTakesItDown) {
  const UINT close_message = RegisterWindowMessageW(kCloseWindowMessageName);
  const struct {
    const char* end;
    UINT message;
    WPARAM wparam;
    INT_PTR result;
  } ends[] = {{"close message", close_message, 0, kResultDone},
              {"system close", WM_SYSCOMMAND, SC_CLOSE, kResultSystemClose},
              {"stop", 0, 0, 0}};
  for (const auto& end : ends) {
    SCOPED_TRACE(end.end);
    const std::wstring url = L"https://fake.example/" + platform::Widen(marker_);
    brand_.set_setup_url(platform::Narrow(url));
    test_support::FakeInternetApi api;
    test_support::FakeResponse response;
    response.body = "archive";
    response.proxy_auth = true;
    api.SetResponse(url, response);
    api.modal_error_dlg = true;
    auto window = MakeWindow();
    window->installer()->SetInternetApiForTesting(&api);
    DWORD took = 0;
    HWND prompt = nullptr;
    INT_PTR result = Drive(window.get(), [&](HWND hwnd) {
      prompt = test_support::WaitForVisibleDialog(GetCurrentProcessId(), 20000, hwnd);
      ASSERT_NE(nullptr, prompt);
      EXPECT_EQ(hwnd, GetWindow(prompt, GW_OWNER));
      EXPECT_EQ(GetWindowThreadProcessId(hwnd, nullptr),
                GetWindowThreadProcessId(prompt, nullptr));
      const DWORD start = GetTickCount();
      if (end.message != 0) {
        PostMessageW(hwnd, end.message, end.wparam, 0);
        EXPECT_TRUE(WaitForEnd(hwnd));
      } else {
        window->StopInstaller();
      }
      took = GetTickCount() - start;
      EXPECT_TRUE(test_support::WaitUntil([&] { return !IsWindow(prompt); }, 5000));
    });
    if (end.message != 0) {
      EXPECT_EQ(end.result, result);
    }
    EXPECT_LT(took, 8000u);
    EXPECT_EQ(1, api.error_dlgs);
    EXPECT_FALSE(log_.Contains(L"did not stop in time")) << platform::Narrow(log_.Text());
    window.reset();
    marker_ = test_support::UniqueMarker();
  }
}

TEST_F(MainWindowTest, LinksOpenTheirPagesAndAreCounted) {
  ServeNoArchive();
  auto window = MakeWindow();
  Drive(window.get(), [&](HWND hwnd) {
    test_support::SendCommand(hwnd, IDC_LICENSE_LINK);
    test_support::SendCommand(hwnd, IDC_PRIVACY_LINK);
  });
  std::wstring licence = platform::Widen(test_support::PublisherUrl(
      "/browser_agreement/" + marker_ + "/?lang=en"));
  std::wstring privacy =
      platform::Widen(test_support::PublisherUrl("/confidential/" + marker_ + "/?lang=en"));
  std::vector<std::wstring> expected = {licence, privacy};
  EXPECT_EQ(expected, window->opened);
  // The counter carries the whole URL, "?lang=" included (which the server reads as the
  // start of the query).
  for (const char* page : {"/browser_agreement/", "/confidential/"}) {
    std::vector<test_support::PublisherRequest> mine =
        test_support::PublisherRequestsWithPath(page + marker_ + "/", 1, 10000);
    bool counted = false;
    for (const auto& request : mine) {
      if (request.path.find("clicked_link=https://") != std::string::npos &&
          request.query == "lang=en") {
        counted = true;
      }
    }
    EXPECT_TRUE(counted) << page;
  }
}

// Whatever the language holds (the tag's is a language code by now; a document's is not
// checked), a browser whose URL handler is registered as "program" "%1" gets the licence URL as
// one argument: the handler (the stand-in, which reports its arguments) gets nothing else.
TEST_F(MainWindowTest, AHostileLanguageCannotAddArgumentsToTheBrowser) {
  ServeNoArchive();
  const std::wstring scheme = L"li-test-" + platform::Widen(marker_);
  const std::wstring handler = test_support::BuildFile(L"stand_in\\good.exe");
  const std::wstring command = L"\"" + handler + L"\" \"%1\"";
  auto register_under = [&](HKEY root, const std::wstring& key) {
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetKeyValueW(root, key.c_str(), L"URL Protocol", REG_SZ, L"", sizeof(wchar_t)));
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetKeyValueW(root, (key + L"\\shell\\open\\command").c_str(), nullptr, REG_SZ,
                              command.c_str(),
                              static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t))));
  };
  // Where a user without rights registers a handler. Wine 8 does not show the user's classes in
  // HKEY_CLASSES_ROOT: there the handler goes into the machine's classes as well.
  register_under(HKEY_CURRENT_USER, L"Software\\Classes\\" + scheme);
  platform::ScopedRegKey visible;
  const bool merged =
      RegOpenKeyExW(HKEY_CLASSES_ROOT, scheme.c_str(), 0, KEY_READ, visible.receive()) == 0;
  if (!merged) register_under(HKEY_CLASSES_ROOT, scheme);
  brand_.set_license_url(platform::Narrow(scheme) + "://agreement/");
  const std::pair<const char*, const char*> cases[] = {
      {"en\" --acc-injected=1 \"x", "en%22%20--acc-injected=1%20%22x"},
      {"en%22%20--x", "en%22%20--x"},  // escaped already: the shell must not decode it
  };
  for (const auto& [language, escaped] : cases) {
    SCOPED_TRACE(language);
    DeleteFileW(report_path_.c_str());
    brand_.set_language(language);
    auto window = MakeWindow();
    window->real_shell = true;
    Drive(window.get(), [&](HWND hwnd) {
      test_support::SendCommand(hwnd, IDC_LICENSE_LINK);
      for (int i = 0; i < 300 && test_support::ReadFileBytes(report_path_).empty(); ++i) Sleep(100);
    });
    json_t* report = json_loads(test_support::ReadFileBytes(report_path_).c_str(), 0, nullptr);
    json_t* given = json_object_get(report, "arguments");
    std::vector<std::string> arguments;
    for (size_t i = 0; i < json_array_size(given); ++i) {
      arguments.push_back(json_string_value(json_array_get(given, i)));
    }
    json_decref(report);
    const std::string url = platform::Narrow(scheme) + "://agreement/?lang=" + escaped;
    EXPECT_EQ((std::vector<std::string>{platform::Narrow(handler), url}), arguments);
  }
  RegDeleteTreeW(HKEY_CURRENT_USER, (L"Software\\Classes\\" + scheme).c_str());
  if (!merged) RegDeleteTreeW(HKEY_CLASSES_ROOT, scheme.c_str());
}

TEST_F(MainWindowTest, ElevationIsAskedForAtTheTimeTheUacModeSays) {
  ServeNoArchive();
  const struct {
    DistribInfoParams::ParamMap params;
    int mode;
    int init_lines;
    int layout_lines;
  } cases[] = {
      {{}, 0, 0, 1},
      {{{"uac", "1"}}, 1, 1, 0},
      {{{"uac", "2"}}, 2, 0, 0},
      {{{"uac", "0"}, {"first", "1"}, {"def", "1"}, {"stat", "1"}}, 1, 1, 0},
  };
  const wchar_t kInitLine[] = L"INFO: OnInitDialog (613): Declined running the installer as admin";
  const wchar_t kLayoutLine[] =
      L"INFO: LayoutProgressDialog (916): Declined running the installer as admin";
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    int init_before = log_.CountLines(kInitLine);
    int layout_before = log_.CountLines(kLayoutLine);
    SetParams(c.params);
    auto window = MakeWindow();
    window->needs_elevation = true;
    EXPECT_EQ(c.mode, window->uac_mode());
    int before_install = -1;
    Drive(window.get(), [&](HWND hwnd) {
      before_install = window->elevation_requests.load();
      test_support::ClickButton(hwnd, IDC_INSTALL_BUTTON);
    });
    EXPECT_EQ(c.init_lines, before_install);
    EXPECT_EQ(c.init_lines + c.layout_lines, window->elevation_requests.load());
    EXPECT_EQ(c.init_lines, log_.CountLines(kInitLine) - init_before);
    EXPECT_EQ(c.layout_lines, log_.CountLines(kLayoutLine) - layout_before);
  }
}

TEST_F(MainWindowTest, NoElevationWhenTheProcessNeedsNone) {
  ServeNoArchive();
  SetParams({{"uac", "1"}});
  auto window = MakeWindow();
  Drive(window.get(), [&](HWND hwnd) { test_support::ClickButton(hwnd, IDC_INSTALL_BUTTON); });
  EXPECT_EQ(0, window->elevation_requests.load());
  EXPECT_EQ(0, log_.CountLines(L"Declined running the installer as admin"));
}

// Lets the window thread (the test's own while no dialog runs) catch up with the display.
void PumpMessages(DWORD ms) {
  const DWORD start = GetTickCount();
  do {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    Sleep(20);
  } while (GetTickCount() - start < ms);
}

// The window on the display, photographed from the screen. It opens at the top edge, over a
// white backdrop that owns it, and is moved partly off the screen: out of the way of the
// centred windows other tests show meanwhile. It then ends at y 170, its shadow at 178.
TEST_F(MainWindowOnScreenTest, WindowAndShadowComeAndGoTogether) {
  constexpr RECT kArea = {0, 0, 760, 204};
  constexpr COLORREF kBackdrop = RGB(255, 255, 255);
  constexpr RECT kShadowBelow = {24, 171, 736, 178};
  ServeNoArchive();
  test_support::TestWindow backdrop(kArea.right, kArea.bottom);
  ShowWindow(backdrop.hwnd(), SW_SHOWNOACTIVATE);
  UpdateWindow(backdrop.hwnd());
  auto photograph = [&] {
    auto canvas = std::make_unique<test_support::MemoryCanvas>(kArea.right, kArea.bottom, 0);
    canvas->CopyScreen(0, 0);
    return canvas;
  };
  // Pixels of the window's part of the area that the screen does not show as the window's
  // own: its shadow over it.
  auto covered = [&](HWND hwnd) {
    RECT rect = {}, shown = {};
    GetWindowRect(hwnd, &rect);
    IntersectRect(&shown, &rect, &kArea);
    test_support::MemoryCanvas screen(shown.right - shown.left, shown.bottom - shown.top, 0);
    test_support::MemoryCanvas own(shown.right - shown.left, shown.bottom - shown.top, 0);
    screen.CopyScreen(shown.left, shown.top);
    own.CopyWindow(hwnd, shown.left - rect.left, shown.top - rect.top);
    return screen.CountDifferent(own, 8);
  };
  // What `count` gives once it reaches 0, or after 5 s (the display follows the window
  // thread a little later).
  auto settled = [](const std::function<int()>& count) {
    int n = -1;
    test_support::WaitUntil([&] { return (n = count()) == 0; }, 5000);
    return n;
  };
  auto question_of = [](HWND hwnd) {
    PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDC_CANCEL_BUTTON, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(hwnd, IDC_CANCEL_BUTTON)));
    return test_support::WaitForVisibleDialog(GetCurrentProcessId(), 10000, hwnd);
  };
  struct Ending {
    const char* name;
    INT_PTR result;
    std::function<void(TestWindow*, HWND)> end;
  };
  const Ending endings[] = {
      {"finish", kResultDone,
       [](TestWindow* window, HWND hwnd) {
         test_support::ClickButton(hwnd, IDC_INSTALL_BUTTON);
         window->ListenerForTesting()->Finish();
       }},
      {"close button", kResultCloseButton,
       [](TestWindow*, HWND hwnd) { test_support::ClickButton(hwnd, IDC_CLOSE_BUTTON); }},
      {"Alt+F4", kResultSystemClose,
       [](TestWindow*, HWND hwnd) { EXPECT_TRUE(test_support::PressKeys(hwnd, {VK_MENU, VK_F4})); }},
      {"confirmed cancel", kResultCancelConfirmed,
       [&](TestWindow*, HWND hwnd) {
         test_support::ClickButton(hwnd, IDC_INSTALL_BUTTON);
         test_support::ClickButton(question_of(hwnd), IDC_MESSAGE_SECOND_BUTTON);
       }},
      // "Resume" leaves the window as it was, without the question's shadow.
      {"resume", kResultSystemClose,
       [&](TestWindow*, HWND hwnd) {
         test_support::ClickButton(hwnd, IDC_INSTALL_BUTTON);
         // The progress screen painted, and on the display (which follows a little later).
         test_support::WaitForIdle(hwnd);
         auto before = photograph();
         settled([&] {
           auto now = photograph();
           const int changed = now->CountDifferent(*before, 8);
           before = std::move(now);
           return changed;
         });
         HWND question = question_of(hwnd);
         test_support::ClickButton(question, IDOK);
         EXPECT_TRUE(test_support::WaitUntil([&] { return !IsWindow(question); }, 5000));
         EXPECT_EQ(0, settled([&] { return photograph()->CountDifferent(*before, 8); }));
         PostMessageW(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
       }},
      // An error while the question is open ends the question and shows the error.
      {"error during the question", kResultDone,
       [&](TestWindow* window, HWND hwnd) {
         test_support::ClickButton(hwnd, IDC_INSTALL_BUTTON);
         HWND question = question_of(hwnd);
         window->ListenerForTesting()->ShowError(2);
         HWND error = nullptr;
         EXPECT_TRUE(test_support::WaitUntil(
             [&] {
               return !IsWindowVisible(question) && !IsWindowVisible(hwnd) &&
                      (error = test_support::FindVisibleDialog(GetCurrentProcessId()));
             },
             10000));
         test_support::ClickButton(error, IDC_MESSAGE_SECOND_BUTTON);
       }},
  };
  for (const Ending& ending : endings) {
    SCOPED_TRACE(ending.name);
    SetParams({{"cancel", "1"}});
    auto window = MakeWindow();
    window->real_dialogs = true;
    std::vector<int> covered_steps;  // shown, moved, shown again
    int shadow_pixels = 0;
    bool ended = false;
    INT_PTR result = test_support::DriveDialog(
        [&] { return window->DoModal(backdrop.hwnd()); },
        [&] { return window->ListenerForTesting()->WindowHandle(); },
        [&](HWND hwnd) {
          // The shadow comes with the icons, after the first paint.
          test_support::WaitUntil([&] { return SendMessageW(hwnd, WM_GETICON, ICON_BIG, 0) != 0; },
                                  20000);
          covered_steps.push_back(settled([&] { return covered(hwnd); }));
          SetWindowPos(hwnd, nullptr, 16, -230, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
          covered_steps.push_back(settled([&] { return covered(hwnd); }));
          shadow_pixels = photograph()->CountDifferent(kShadowBelow, kBackdrop, 8);
          ShowWindow(hwnd, SW_HIDE);
          ShowWindow(hwnd, SW_SHOWNA);
          covered_steps.push_back(settled([&] { return covered(hwnd); }));
          ending.end(window.get(), hwnd);
          ended = WaitForEnd(hwnd);
        });
    EXPECT_TRUE(ended);
    EXPECT_EQ(ending.result, result);
    EXPECT_EQ((std::vector<int>{0, 0, 0}), covered_steps);
    // The photographs see the shadow; once the window has ended, nothing of either is left.
    EXPECT_GT(shadow_pixels, 0);
    EXPECT_EQ(0, settled([&] {
                PumpMessages(100);
                return photograph()->CountDifferent(kArea, kBackdrop, 8);
              }));
  }
}

// The tagline and the cancel button paint what lies behind them each time instead of
// drawing over what their area last held: the tagline repainted alone (as the keyboard cues
// after the first Tab or Alt repaint it) is whole again, and the cancel button's clear
// corners show the slide.
TEST_F(MainWindowTest, TaglineAndCancelButtonPaintTheirBackground) {
  ServeNoArchive();
  SetParams({{"cancel", "1"}});
  auto window = MakeWindow();
  std::vector<uint32_t> tagline, tagline_again, cancel;
  RECT cancel_rect = {};
  test_support::MemoryCanvas behind(728, 400, 0);
  Drive(window.get(), [&](HWND hwnd) {
    // The whole window painted, as at its first paint (which a slow start may not have
    // finished yet).
    RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    HWND label = GetDlgItem(hwnd, IDC_TAGLINE);
    tagline = ShownPixels(hwnd, IDC_TAGLINE);
    RECT all = {0, 0, 728, 400};
    HDC dc = GetDC(label);
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    ReleaseDC(label, dc);
    // What the static control does when the keyboard cues change: it alone is repainted.
    RedrawWindow(label, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    test_support::WaitForIdle(hwnd);
    tagline_again = ShownPixels(hwnd, IDC_TAGLINE);
    test_support::ClickButton(hwnd, IDC_INSTALL_BUTTON);
    // The progress screen painted whole (its slide included) before the button paints again.
    HWND cancel_button = GetDlgItem(hwnd, IDC_CANCEL_BUTTON);
    ASSERT_TRUE(test_support::WaitUntil([&] { return IsWindowVisible(cancel_button); }, 10000));
    RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    RedrawWindow(cancel_button, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    cancel = ShownPixels(hwnd, IDC_CANCEL_BUTTON);
    cancel_rect = test_support::ControlRect(hwnd, IDC_CANCEL_BUTTON);
    SendMessageW(hwnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(behind.dc()), PRF_CLIENT);
  });
  ASSERT_FALSE(tagline.empty());
  EXPECT_TRUE(tagline == tagline_again);
  const int side = cancel_rect.right - cancel_rect.left;
  ASSERT_EQ(static_cast<size_t>(side * side), cancel.size());
  for (POINT corner :
       {POINT{0, 0}, POINT{side - 1, 0}, POINT{0, side - 1}, POINT{side - 1, side - 1}}) {
    EXPECT_EQ(behind.Raw(cancel_rect.left + corner.x, cancel_rect.top + corner.y) & 0xFFFFFF,
              cancel[corner.y * side + corner.x]);
  }
}

TEST_F(MainWindowTest, AWindowClosedBeforeItsFirstPaintStillReportsTheRun) {
  // Alt+F4 at once: the close comes before the window is even shown.
  class ClosedAtOnce : public TestWindow {
   public:
    using TestWindow::TestWindow;

   protected:
    INT_PTR HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override {
      INT_PTR handled = TestWindow::HandleMessage(message, wparam, lparam);
      if (message == WM_INITDIALOG) PostMessageW(hwnd(), WM_SYSCOMMAND, SC_CLOSE, 0);
      return handled;
    }
  };
  ServeNoArchive();
  ClosedAtOnce window(Options());
  EXPECT_EQ(kResultSystemClose, window.DoModal());
  window.StopInstaller();
  EXPECT_TRUE(test_support::WaitUntil(
      [&] {
        for (const auto& request : test_support::PublisherRequestsWithPath(marker_, 1, 0)) {
          if (request.path.find("action=installer_started") != std::string::npos) return true;
        }
        return false;
      },
      10000));
  EXPECT_FALSE(test_support::PublisherRequestsWith(
                   "ui=" + platform::Narrow(window.installer()->run_id()) + "&result=")
                   .empty());
}

// Real key input on both screens: Enter presses Install on the offer and nothing on the
// progress screen, Escape only counts a cancel, Alt+F4 closes; a link held down with Enter
// opens its page once. Each key goes to the window once it is in front with the focus where
// the test needs it, and the test looks once the window has handled it.
TEST_F(MainWindowOnScreenTest, EnterEscapeAndAltF4FromTheKeyboard) {
  ServeNoArchive();
  size_t cancels = ClickCount("clicked_button=cancel");
  size_t installs = ClickCount("clicked_button=install");
  for (bool progress : {false, true}) {
    SCOPED_TRACE(progress ? "progress screen" : "offer screen");
    auto window = MakeWindow();
    bool ready = false, open_after_keys = false, progress_shown = false, closed_by_keys = false;
    int focus_after_tab = 0;
    size_t opened_by_enter = 0;
    INT_PTR result = Drive(window.get(), [&](HWND hwnd) {
      HWND install = GetDlgItem(hwnd, IDC_INSTALL_BUTTON);
      ready = test_support::WaitForInput(hwnd, install);
      if (progress) {
        test_support::PressKeys(hwnd, {VK_TAB});
        test_support::WaitForIdle(hwnd);
        focus_after_tab = GetDlgCtrlID(test_support::FocusedControl(hwnd));
        test_support::PressKeys(hwnd, {VK_RETURN}, 3);
        test_support::WaitForIdle(hwnd);
        opened_by_enter = window->opened.size();
        SendMessageW(hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(install), TRUE);
        test_support::PressKeys(hwnd, {VK_RETURN});
        test_support::WaitForIdle(hwnd);
      }
      test_support::PressKeys(hwnd, {VK_ESCAPE});
      if (progress) test_support::PressKeys(hwnd, {VK_RETURN});
      test_support::WaitForIdle(hwnd);
      progress_shown = test_support::ControlVisible(hwnd, IDC_PROGRESS_BAR);
      open_after_keys = IsWindowVisible(hwnd) != FALSE;
      test_support::PressKeys(hwnd, {VK_MENU, VK_F4});
      closed_by_keys = test_support::WaitUntil([&] { return !IsWindow(hwnd); }, 20000);
    });
    EXPECT_TRUE(ready);
    EXPECT_EQ(kResultSystemClose, result);
    EXPECT_TRUE(open_after_keys);
    EXPECT_EQ(progress, progress_shown);
    EXPECT_TRUE(closed_by_keys);
    if (progress) {
      EXPECT_EQ(IDC_LICENSE_LINK, focus_after_tab);
      EXPECT_EQ(1u, opened_by_enter);
    }
    EXPECT_EQ(progress ? 1u : 0u, window->opened.size());
  }
  EXPECT_EQ(cancels + 2, WaitForClicks("clicked_button=cancel", cancels + 2));
  EXPECT_EQ(installs + 1, WaitForClicks("clicked_button=install", installs + 1));
}

// ---------------------------------------------------------------------------------------
// The installer executable, started as a user starts it (no "silent").

// Real installer processes share the session's single-instance mutex and the fixed names of
// the elevation events with the other tests that start them: one such test at a time.
class InteractiveRunTest : public testing::Test, public test_support::InstallerLogReader {
 protected:
  void SetUp() override {
    ASSERT_TRUE(run_lock_.owned());
    // Its install button counts like the window tests' ones.
    click_lock_ = std::make_unique<test_support::ClickCounterLock>();
    SetEnvironmentVariableW(L"LI_STAND_IN_REPORT", temp_.File(L"report.json").c_str());
    SetEnvironmentVariableW(L"LI_STAND_IN_WINDOW_MS", L"0");
    SetEnvironmentVariableW(L"LI_STAND_IN_EXIT_CODE", L"0");
    // The executable's own brand asks for its archive here.
    for (const char* path : kArchivePaths) {
      ASSERT_TRUE(test_support::AddPublisherScript(std::string("{\"path\":\"") + path +
                                                   "\",\"responses\":[" + GoodArchive() +
                                                   "]}"));
    }
  }

  void TearDown() override {
    for (const char* path : kArchivePaths) {
      std::string answer;
      installer::DownloadToString(
          test_support::PublisherUrl(std::string("/__control/clear?path=") + path), nullptr,
          &answer);
    }
    // The run wrote the browser's own key, which the next holder of the lock starts from;
    // bytes it kept of the shared archive URL would be resumed by the next one.
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Zorvin\\ZorvinBrowser");
    installer::KeptArchive(installer::KeptArchiveFolderForThisProcess()).Remove();
    click_lock_.reset();
  }

  static std::string GoodArchive() {
    std::string path = platform::Narrow(test_support::BuildFile(L"stand_in\\good.exe"));
    std::string escaped;
    for (char c : path) {
      if (c == '\\') escaped += '\\';
      escaped += c;
    }
    return "{\"file\":\"" + escaped + "\"}";
  }

  std::wstring LogFolder() const override { return temp_.path(); }

  // Starts the installer; its window, or null (then the run is over or failed).
  HWND StartInstaller(const std::wstring& more_switches = std::wstring()) {
    std::wstring command = L"\"" + test_support::BuildFile(L"lite_installer.exe") +
                           L"\" --brand-name=zorvin" + more_switches;
    if (!process_.Start(command, temp_.path())) return nullptr;
    HWND window = test_support::WaitForVisibleDialog(process_.id(), 60000);
    // The window is ready for input once its install button is there.
    if (window != nullptr) {
      test_support::WaitUntil([&] { return GetDlgItem(window, IDC_INSTALL_BUTTON) != nullptr; },
                              5000);
    }
    return window;
  }

  static constexpr const char* kArchivePaths[] = {"/browser/zorvin/flash/browser-setup.arc",
                                                  "/browser/zorvin/browser-setup.arc"};
  // Taken first and released last: the cleanup runs while it is held.
  test_support::InstallerRunLock run_lock_;
  test_support::ScopedTempDir temp_;
  test_support::ChildProcess process_;

 private:
  std::unique_ptr<test_support::ClickCounterLock> click_lock_;
};

TEST_F(InteractiveRunTest, InstallButtonRunsTheSetupAndTheExitCodeIsItsResult) {
  if (!installer::HasEnoughDiskSpace(false, installer::kRequiredDiskSpace)) {
    GTEST_SKIP() << "the disk is too full for the installer window";
  }
  HWND window = StartInstaller();
  ASSERT_NE(nullptr, window) << LogText();
  EXPECT_TRUE(test_support::ControlVisible(window, IDC_MAKE_DEFAULT_CHECKBOX));
  ASSERT_TRUE(test_support::ClickButton(window, IDC_INSTALL_BUTTON));
  int32_t exit_code = 12345;
  ASSERT_TRUE(process_.Wait(180000, &exit_code)) << LogText();
  EXPECT_EQ(0, exit_code) << LogText();
  EXPECT_EQ(1, Count(L"INFO: wWinMain (257): Installer exit with code: 0")) << LogText();
  EXPECT_EQ(0, Count(L"User cancelled installation.")) << LogText();
  // The setup program (run by this process or by its elevated copy) reported to the window.
  EXPECT_EQ(1, Count(L"--> Installer > MainWindow::OnInstallProgress: 75")) << LogText();
  EXPECT_EQ(1, Count(L"--> Installer > MainWindow::OnImportProgress: 100")) << LogText();
  std::string report = test_support::ReadFileBytes(temp_.File(L"report.json"));
  EXPECT_NE(std::string::npos,
            report.find("\"progress-window\": \"" +
                        platform::ToString(reinterpret_cast<uintptr_t>(window)) + "\""))
      << report;
}

// A slide server that accepts the connection and never answers does not hold the exit: the
// slide thread is left behind once the window has closed.
TEST_F(InteractiveRunTest, ASlideServerThatNeverAnswersDoesNotHoldTheExit) {
  if (!installer::HasEnoughDiskSpace(false, installer::kRequiredDiskSpace)) {
    GTEST_SKIP() << "the disk is too full for the installer window";
  }
  // No archive, so the window stays on the progress screen; the first slide never comes.
  for (const char* path : kArchivePaths) {
    std::string answer;
    installer::DownloadToString(
        test_support::PublisherUrl(std::string("/__control/clear?path=") + path), nullptr,
        &answer);
    ASSERT_TRUE(test_support::AddPublisherScript(
        std::string("{\"path\":\"") + path + "\",\"responses\":[{\"status\":404}],"
        "\"repeat_last\":true}"));
  }
  const char kFirstSlide[] = "/browser/installer/en/x2/02.jpg";
  ASSERT_TRUE(test_support::AddPublisherScript(
      std::string("{\"path\":\"") + kFirstSlide +
      "\",\"responses\":[{\"never_answer\":true}],\"repeat_last\":true}"));
  HWND window = StartInstaller();
  ASSERT_NE(nullptr, window) << LogText();
  ASSERT_TRUE(test_support::ClickButton(window, IDC_INSTALL_BUTTON));
  // The slide download starts with the progress screen (the publisher logs the request only
  // once the client has gone away).
  Sleep(2000);
  PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
  int32_t exit_code = 12345;
  EXPECT_TRUE(process_.Wait(20000, &exit_code)) << LogText();
  EXPECT_EQ(500, exit_code);
  EXPECT_EQ(1, Count(L"The slide download does not end; it is left behind.")) << LogText();
  std::string answer;
  installer::DownloadToString(test_support::PublisherUrl(std::string("/__control/clear?path=") +
                                                         kFirstSlide),
                              nullptr, &answer);
}

// With "do-not-launch-browser" the window ends as soon as the setup has: it does not wait for
// the browser's message window.
TEST_F(InteractiveRunTest, DoNotLaunchBrowserEndsWithoutWaitingForTheBrowser) {
  if (!installer::HasEnoughDiskSpace(false, installer::kRequiredDiskSpace)) {
    GTEST_SKIP() << "the disk is too full for the installer window";
  }
  SetEnvironmentVariableW(L"LI_STAND_IN_WINDOW_MS", L"8000");
  HWND window = StartInstaller(L" --do-not-launch-browser");
  SetEnvironmentVariableW(L"LI_STAND_IN_WINDOW_MS", L"0");
  ASSERT_NE(nullptr, window) << LogText();
  ASSERT_TRUE(test_support::ClickButton(window, IDC_INSTALL_BUTTON));
  int32_t exit_code = 12345;
  ASSERT_TRUE(process_.Wait(120000, &exit_code)) << LogText();
  EXPECT_EQ(0, exit_code) << LogText();
  EXPECT_EQ(0, Count(L"The browser's message window is still there")) << LogText();
  EXPECT_EQ(1, Count(L"--> Installer > MainWindow::OnImportProgress: 100")) << LogText();
}

TEST_F(InteractiveRunTest, CloseButtonEndsTheRunAsCancelled) {
  if (!installer::HasEnoughDiskSpace(false, installer::kRequiredDiskSpace)) {
    GTEST_SKIP() << "the disk is too full for the installer window";
  }
  HWND window = StartInstaller();
  ASSERT_NE(nullptr, window) << LogText();
  ASSERT_TRUE(test_support::ClickButton(window, IDC_CLOSE_BUTTON));
  int32_t exit_code = 12345;
  ASSERT_TRUE(process_.Wait(120000, &exit_code)) << LogText();
  EXPECT_EQ(500, exit_code);
  EXPECT_EQ(1, Count(L"INFO: wWinMain (239): User cancelled installation.")) << LogText();
  EXPECT_EQ(1, Count(L"INFO: wWinMain (257): Installer exit with code: 500")) << LogText();
  EXPECT_TRUE(test_support::ReadFileBytes(temp_.File(L"report.json")).empty());
}

}  // namespace
}  // namespace lite_installer
