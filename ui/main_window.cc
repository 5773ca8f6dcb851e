#include "ui/main_window.h"

#include <windows.h>
#include <commctrl.h>
#include <shobjidl.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <utility>
#include <vector>

#include "brand/brand_info.h"
#include "brand/distrib_info_params.h"
#include "brand/localized_strings.h"
#include "brand/urls.h"
#include "install/elevation.h"
#include "install/installer.h"
#include "platform/command_line.h"
#include "platform/logging.h"
#include "platform/strings.h"
#include "platform/windows_version.h"
#include "resources/image_ids.h"
#include "resources/resource_ids.h"
#include "stats/click_stats.h"
#include "ui/scale.h"

namespace lite_installer {

namespace {

// Layout of the 728 x 400 window in design pixels.
constexpr RECT kTaglineBox = {0, 182, 728, 400};
constexpr POINT kInstallButtonAt = {557, 305};
constexpr POINT kCloseButtonAt = {698, 18};
constexpr RECT kPercentBox = {0, 50, 728, 400};
constexpr RECT kLicenseBox = {400, 38, 667, 400};
constexpr RECT kSlideLicenseBox = {424, 350, 666, 400};
constexpr RECT kLogoBox = {61, 41, 227, 69};
constexpr RECT kProgressBarBox = {392, 56, 684, 60};
constexpr int kCheckBoxTop = 305;
// Where the privacy link starts, before the statistics box's text offset is added.
constexpr int kPrivacyLinkLeft = 84;
constexpr SIZE kWindowSize = {728, 400};

constexpr uint32_t kRussianLanguageId = 1049;

uint32_t OfferLogoId(uint32_t language_id) {
  return language_id == kRussianLanguageId ? IDB_OFFER_LOGO_RU : IDB_OFFER_LOGO;
}

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kBlack = RGB(0, 0, 0);
// Links on the offer screen let the background show through a little.
constexpr BYTE kOfferLinkOpacity = 184;

// Font slots: face, size, underlined.
struct FontSpec {
  const wchar_t* face;
  int size;
  bool underline;
};
constexpr FontSpec kFonts[8] = {
    {L"Arial", 32, false},    // 1: tagline
    {L"SegoeUI", 15, false},  // 2: install button
    {L"Arial", 12, false},    // 3: check boxes, licence text, percentage
    {L"Arial", 12, true},     // 4: links
    {L"Arial", 28, false},    // 5: first-slide heading
    {L"Arial", 15, false},    // 6: first-slide paragraph
    {L"Arial", 11, false},    // 7: licence text on the first slide
    {L"Arial", 11, true},     // 8: licence link on the first slide
};

// Controls of the offer screen, removed when the progress screen is laid out.
constexpr int kOfferControls[] = {
    IDC_INSTALL_BUTTON,        IDC_CLOSE_BUTTON,          IDC_TAGLINE,
    IDC_LICENSE_LINK,          IDC_MAKE_DEFAULT_CHECKBOX, IDC_SEND_STATISTICS_CHECKBOX,
    IDC_PRIVACY_LINK,          IDC_LICENSE_TEXT};

RECT MakeRect(int left, int top, int right, int bottom) { return {left, top, right, bottom}; }

// Destroys every child of `parent` with `id` (the licence sentence makes several pieces
// with one id).
void DestroyControls(HWND parent, int id) {
  for (HWND control = GetDlgItem(parent, id); control != nullptr;
       control = GetDlgItem(parent, id)) {
    if (!DestroyWindow(control)) break;
  }
}

// The message filter functions are looked up at run time: ChangeWindowMessageFilterEx
// exists from Windows 7, ChangeWindowMessageFilter from Vista, and XP has neither (nor the
// filter).
using ChangeWindowMessageFilterExFunction = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
using ChangeWindowMessageFilterFunction = BOOL(WINAPI*)(UINT, DWORD);
constexpr DWORD kFilterAllow = 1;  // MSGFLT_ALLOW
constexpr DWORD kFilterAdd = 1;    // MSGFLT_ADD

}  // namespace

// --- Pure decisions ------------------------------------------------------------------------

bool PercentForInstallStage(WPARAM stage, int* percent) {
  if (stage == 5) {
    *percent = 75;
    return true;
  }
  if (stage == 7) {
    *percent = 79;
    return true;
  }
  return false;
}

int PercentForImportProgress(WPARAM progress) {
  if (progress >= 100) return 100;
  return static_cast<int>(80.0f + static_cast<float>(progress) / 5.0f);
}

int ClampPercent(int percent) { return std::clamp(percent, 0, 100); }

std::wstring PercentText(int percent) { return platform::ToWString(percent) + L"%"; }

bool CanMakeBrowserDefault(int windows_version_class) {
  return windows_version_class != platform::kWindows8 &&
         windows_version_class != platform::kWindows8_1;
}

OfferCheckBoxes VisibleOfferCheckBoxes(const installer::DistribInfoParams& params, int uac_mode,
                                       int windows_version_class) {
  OfferCheckBoxes visible;
  visible.make_default = !params.Has("def") && uac_mode != installer::kUacModeAtBrowserStart &&
                         CanMakeBrowserDefault(windows_version_class);
  visible.send_statistics = !params.Has("stat") && !params.Has("statpromo");
  return visible;
}

OfferCheckBoxColumns OfferCheckBoxColumnsFor(OfferCheckBoxes visible) {
  OfferCheckBoxColumns columns;
  if (visible.make_default) {
    columns.make_default = visible.send_statistics ? MakeRect(314, kCheckBoxTop, 537, kCheckBoxTop)
                                                   : MakeRect(60, kCheckBoxTop, 525, kCheckBoxTop);
  }
  if (visible.send_statistics) {
    columns.send_statistics = visible.make_default ? MakeRect(60, kCheckBoxTop, 308, kCheckBoxTop)
                                                   : MakeRect(60, kCheckBoxTop, 525, kCheckBoxTop);
  }
  return columns;
}

bool SkipsOfferScreen(const installer::DistribInfoParams& params) {
  std::string first;
  return params.Get("first", &first) && first == "1" && params.Has("def") &&
         (params.Has("stat") || params.Has("statpromo"));
}

bool KeepsCancelButton(const installer::DistribInfoParams& params) {
  std::string cancel;
  return params.Get("cancel", &cancel) && cancel == "1";
}

bool MakeDefaultChoice(const installer::DistribInfoParams& params, bool box_checked) {
  if (!params.Has("def")) return box_checked;
  bool flag = false;
  params.GetBool("def", &flag);
  return flag;
}

bool SendStatisticsChoice(const installer::DistribInfoParams& params, bool box_checked) {
  if (params.Has("stat")) {
    bool flag = false;
    params.GetBool("stat", &flag);
    return flag;
  }
  std::string promo;
  if (params.Get("statpromo", &promo)) return promo == "true";
  return box_checked;
}

// --- The window ----------------------------------------------------------------------------

HWND MakeElevationPromptOwner() {
  HWND owner = CreateWindowExW(WS_EX_TOOLWINDOW, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, 0,
                               0, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (owner) {
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    if (GetMonitorInfoW(MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST), &monitor)) {
      const RECT& area = monitor.rcWork;
      SetWindowPos(owner, nullptr, (area.left + area.right) / 2, (area.top + area.bottom) / 2, 0, 0,
                   SWP_NOZORDER | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    SetForegroundWindow(owner);
  }
  return owner;
}

namespace {

installer::InstallerOptions WithPromptOwner(installer::InstallerOptions options) {
  options.make_prompt_owner = &MakeElevationPromptOwner;
  return options;
}

}  // namespace

MainWindow::MainWindow(installer::InstallerOptions options)
    : DialogWindow(IDD_MAIN_WINDOW),
      brand_info_(options.brand_info),
      params_(options.params),
      uac_mode_(installer::GetUacMode(*options.params, options.command_line)),
      resume_dialog_(MessageKind::kResumeOrCancel, options.brand_info->language_id()),
      // The install flow's thread starts once the window has been painted (FinishStartUp):
      // its first steps load the network and TLS libraries, which would otherwise compete
      // with the window for the loader and the processor on the way to the first paint.
      session_(this, WithPromptOwner(std::move(options))) {
  install_progress_message_ = RegisterWindowMessageW(kInstallProgressMessageName);
  import_progress_message_ = RegisterWindowMessageW(kImportProgressMessageName);
  close_window_message_ = RegisterWindowMessageW(kCloseWindowMessageName);
  higher_version_message_ = RegisterWindowMessageW(kHigherVersionMessageName);
}

void MainWindow::FinishStartUp() {
  KillTimer(hwnd(), kStartUpTimerId);
  HICON icon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_INSTALLER));
  if (icon != nullptr) {
    SendMessageW(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    SendMessageW(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
  }
  session_.StartFlow();
}

MainWindow::~MainWindow() {
  // The session, declared last, goes first: the install flow is stopped and joined while
  // the window it posts to still lives.
  if (taskbar_ != nullptr) taskbar_->Release();
}

void MainWindow::StopInstaller() { installer()->StopAndWait(); }

int32_t MainWindow::result_code() const { return installer()->result_code(); }

// --- InstallView ---------------------------------------------------------------------------

void MainWindow::Post(SessionEvent event, int32_t value) {
  // The session posts only while the window exists (between OnInitDialog and WM_DESTROY).
  if (event == SessionEvent::kPercent) {
    PostMessageW(hwnd(), kSetPercentMessage, static_cast<WPARAM>(value), 0);
  } else {
    PostMessageW(hwnd(), kSessionMessage, static_cast<WPARAM>(event), static_cast<LPARAM>(value));
  }
}

void MainWindow::Hide() {
  // The resume question and the shadow follow the hide (WM_WINDOWPOSCHANGED); the
  // question's modal loop ends once the handler that hid the window returns.
  if (hwnd() != nullptr) ShowWindow(hwnd(), SW_HIDE);
}

void MainWindow::End(INT_PTR result) {
  EndDialog(result);
  if (hwnd() != nullptr) KillTimer(hwnd(), kSlideTimerId);
}

void MainWindow::ShowErrorDialog(int32_t code) {
  std::wstring download_page =
      platform::WidenUtf8(installer::GetFallbackDownloadUrl(*brand_info_, *params_));
  MessageDialog dialog(MessageKindForError(code), brand_info_->language_id(), download_page);
  RunMessageDialog(&dialog);
}

void MainWindow::ShowNewerVersionNotice() {
  MessageDialog dialog(MessageKind::kNewerVersion, brand_info_->language_id());
  RunMessageDialog(&dialog);
}

bool MainWindow::AskCancel() { return RunMessageDialog(&resume_dialog_) == kMessageSecondButton; }

void MainWindow::AnswerResume() { resume_dialog_.EndDialog(kMessageFirstButton); }

void MainWindow::RemoveCancelButton() {
  DestroyControls(hwnd(), IDC_CANCEL_BUTTON);
  cancel_button_.reset();
}

void MainWindow::ShowProxyPrompt(installer::ProxyPrompt* prompt) { prompt->Show(hwnd()); }

// --- Seams ---------------------------------------------------------------------------------

bool MainWindow::NeedsElevatedRestart() { return installer::NeedStartThisProcessAsAdmin(); }

bool MainWindow::RestartElevated() { return installer()->ExecuteAsAdmin(); }

INT_PTR MainWindow::RunMessageDialog(MessageDialog* dialog) { return dialog->DoModal(); }

bool MainWindow::OpenUrl(const std::wstring& url) { return OpenUrlWithShell(url); }

// --- Messages ------------------------------------------------------------------------------

INT_PTR MainWindow::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      OnInitDialog();
      return FALSE;  // the focus is set
    case WM_COMMAND:
      OnCommand(LOWORD(wparam), HIWORD(wparam));
      return TRUE;
    case WM_NOTIFY:
      return OnNotify(reinterpret_cast<const NMHDR*>(lparam));
    case WM_TIMER:
      if (wparam == kStartUpTimerId) {  // no paint came: a window started minimised
        FinishStartUp();
        return TRUE;
      }
      if (wparam != kSlideTimerId) return FALSE;
      OnTimer();
      return TRUE;
    case WM_SYSCOMMAND:
      if ((wparam & 0xFFF0) != SC_CLOSE) return FALSE;
      session_.OnSystemClose();
      return TRUE;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(hwnd(), &paint);
      if (dc != nullptr) PaintTo(dc);
      EndPaint(hwnd(), &paint);
      if (!first_paint_seen_) {
        first_paint_seen_ = true;
        PostMessageW(hwnd(), kAfterFirstPaintMessage, 0, 0);
      }
      return TRUE;
    }
    case kAfterFirstPaintMessage:
      // Composing the shadow takes longer than painting the window; it follows the first
      // paint instead of delaying it, and the controls' first paint too (the posted message
      // would come before theirs).
      RedrawWindow(hwnd(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
      FinishStartUp();
      shadow_.Follow();
      return TRUE;
    case WM_PRINTCLIENT:
      // Labels over the slide ask for what lies behind them.
      PaintTo(reinterpret_cast<HDC>(wparam));
      return TRUE;
    case WM_ERASEBKGND:
      // Every screen paints its whole area; erasing first would only flicker.
      SetWindowLongPtrW(hwnd(), DWLP_MSGRESULT, 1);
      return TRUE;
    case WM_CTLCOLORDLG:
      return reinterpret_cast<INT_PTR>(GetStockObject(NULL_BRUSH));
    case WM_WINDOWPOSCHANGED:
      // Every show, hide (EndDialog's too), move and raise; the shadow first shows once the
      // window has been painted. Every end hides the window.
      if (reinterpret_cast<const WINDOWPOS*>(lparam)->flags & SWP_HIDEWINDOW) {
        session_.OnHidden();
      }
      if (first_paint_seen_) shadow_.Follow();
      return FALSE;
    case WM_DESTROY: {
      KillTimer(hwnd(), kSlideTimerId);
      shadow_.Destroy();
      // A window closed before its first paint (an immediate Alt+F4, a minimised start
      // closed from the taskbar) starts the flow now, to be stopped with the window.
      session_.Detach();
      return FALSE;
    }
    case kSetPercentMessage:
      OnSetPercent(static_cast<int>(static_cast<int32_t>(wparam)));
      return TRUE;
    case kSessionMessage:
      session_.OnPosted(static_cast<SessionEvent>(wparam), static_cast<int32_t>(lparam));
      return TRUE;
    default:
      return OnRegisteredMessage(message, wparam) ? TRUE : FALSE;
  }
}

void MainWindow::AllowRegisteredMessages() {
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  auto filter_ex = reinterpret_cast<ChangeWindowMessageFilterExFunction>(
      reinterpret_cast<void*>(GetProcAddress(user32, "ChangeWindowMessageFilterEx")));
  auto filter = reinterpret_cast<ChangeWindowMessageFilterFunction>(
      reinterpret_cast<void*>(GetProcAddress(user32, "ChangeWindowMessageFilter")));
  for (UINT message : {install_progress_message_, import_progress_message_,
                       close_window_message_, higher_version_message_}) {
    if (filter_ex != nullptr) {
      filter_ex(hwnd(), message, kFilterAllow, nullptr);
    } else if (filter != nullptr) {
      filter(message, kFilterAdd);
    }
  }
}

void MainWindow::OnInitDialog() {
  session_.Attach(hwnd());
  // 1.
  AllowRegisteredMessages();
  // The install flow starts and the icon is set after the first paint, or at this timer if
  // no paint comes.
  SetTimer(hwnd(), kStartUpTimerId, kStartUpFallbackMs, nullptr);

  // 2. The elevation prompt comes before the window shows anything.
  if (uac_mode_ == installer::kUacModeAtStart && NeedsElevatedRestart() && !RestartElevated()) {
    logging::LogText(logging::kINFO, "OnInitDialog", 613,
                     "Declined running the installer as admin");
  }

  // 3.
  const uint32_t language_id = brand_info_->language_id();
  SetWindowTextW(hwnd(), installer::LoadLocalizedString(IDS_WINDOW_TITLE, language_id).c_str());
  SetDlgItemTextW(hwnd(), IDC_TAGLINE,
                  installer::LoadLocalizedString(IDS_TAGLINE, language_id).c_str());
  SetDlgItemTextW(hwnd(), IDC_MAKE_DEFAULT_CHECKBOX,
                  installer::LoadLocalizedString(IDS_MAKE_DEFAULT_CHECKBOX, language_id).c_str());
  SetDlgItemTextW(
      hwnd(), IDC_SEND_STATISTICS_CHECKBOX,
      installer::LoadLocalizedString(IDS_SEND_STATISTICS_CHECKBOX, language_id).c_str());
  SetDlgItemTextW(hwnd(), IDC_PRIVACY_LINK,
                  installer::LoadLocalizedString(IDS_PRIVACY_POLICY_LINK, language_id).c_str());
  SetDlgItemTextW(hwnd(), IDC_PERCENT_TEXT, L"");
  background_.LoadScaled(IDB_BACKGROUND);
  logo_.LoadScaled(OfferLogoId(language_id));

  // 4. The icon (taskbar and task switcher only: the window has no caption) is set after the
  // first paint (FinishStartUp).

  // 5. Without the background picture the window still gets its design size.
  CreateFonts();
  int width = background_.empty() ? installer::ScaleLength(kWindowSize.cx) : background_.width();
  int height = background_.empty() ? installer::ScaleLength(kWindowSize.cy) : background_.height();
  SetWindowPos(hwnd(), nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  CenterOnOwner();
  // Made before the window is shown, so that it stays below it (ShadowWindow::Create); it
  // shows once the window has been painted.
  shadow_.Create(hwnd(), ShadowWindow::Style::kMainWindow);

  // 6.
  LicenseSentence::Style style;
  style.text_font = font(3);
  style.link_font = font(4);
  style.text_color = kWhite;
  style.link_color = kWhite;
  style.link_opacity = kOfferLinkOpacity;
  style.background = &background_;
  offer_license_.Create(hwnd(), installer::LoadLocalizedString(IDS_LICENSE_SENTENCE, language_id),
                        installer::ScaleRect(kLicenseBox), style, IDC_LICENSE_TEXT,
                        IDC_LICENSE_LINK);

  // 7.
  CreateControls();

  // 8.
  if (SkipsOfferScreen(*params_)) {
    session_.SkipOffer();
    LayoutProgressDialog();
    // Nothing on the progress screen waits for the keyboard.
    if (hwnd() != nullptr) SetFocus(hwnd());
  } else {
    LayoutOfferScreen();
    // Install has the focus, as the default button, though the links come first in Tab order.
    SetFocus(install_button_->hwnd());
  }
}

void MainWindow::CreateFonts() {
  for (int i = 0; i < 8; ++i) {
    fonts_[i].reset(installer::CreateScaledFont(kFonts[i].face, kFonts[i].size,
                                                kFonts[i].underline));
  }
  SendDlgItemMessageW(hwnd(), IDC_PERCENT_TEXT, WM_SETFONT, reinterpret_cast<WPARAM>(font(3)),
                      FALSE);
}

void MainWindow::CreateControls() {
  const uint32_t language_id = brand_info_->language_id();
  // Painted over the part of the picture behind it each time: a static drawn transparently
  // would draw over its own last text whenever Windows repaints it alone (the keyboard cues
  // after the first Tab or Alt).
  tagline_ = std::make_unique<TextLabel>(GetDlgItem(hwnd(), IDC_TAGLINE), kWhite, 255, font(1),
                                         &background_, DT_CENTER | DT_WORDBREAK | DT_NOPREFIX);
  install_button_ = std::make_unique<ImageButton>(GetDlgItem(hwnd(), IDC_INSTALL_BUTTON),
                                                  IDB_INSTALL_BUTTON, font(2), &background_);
  install_button_->SetText(installer::LoadLocalizedString(IDS_INSTALL_BUTTON, language_id));

  HWND close = GetDlgItem(hwnd(), IDC_CLOSE_BUTTON);
  SetWindowLongW(close, GWL_STYLE, GetWindowLongW(close, GWL_STYLE) & ~WS_TABSTOP);
  close_button_ = std::make_unique<ImageButton>(close, IDB_CLOSE_BUTTON, nullptr, &background_);
  close_button_->SetName(installer::LoadLocalizedString(IDS_CLOSE_BUTTON, language_id));
  // Over the slide show: without a picture of its own the button paints what the window
  // shows behind it (WM_PRINTCLIENT).
  cancel_button_ = std::make_unique<ImageButton>(GetDlgItem(hwnd(), IDC_CANCEL_BUTTON),
                                                 IDB_CANCEL_BUTTON, nullptr, nullptr);
  cancel_button_->SetName(installer::LoadLocalizedString(IDS_ERROR_CANCEL_BUTTON, language_id));

  const bool can_make_default = CanMakeBrowserDefault(platform::WindowsVersionClass());
  make_default_box_ = std::make_unique<CheckBox>(
      GetDlgItem(hwnd(), IDC_MAKE_DEFAULT_CHECKBOX), kWhite, font(3),
      // Unchecked where it cannot apply, so that the hidden box never decides anything.
      can_make_default && brand_info_->ShouldMakeBrowserDefault(), false, &background_);
  send_statistics_box_ = std::make_unique<CheckBox>(
      GetDlgItem(hwnd(), IDC_SEND_STATISTICS_CHECKBOX), kWhite, font(3),
      brand_info_->ShouldSendStatistics(), true, &background_);
  privacy_link_ = std::make_unique<LinkLabel>(GetDlgItem(hwnd(), IDC_PRIVACY_LINK), kWhite,
                                              kOfferLinkOpacity, font(4), &background_);
}

void MainWindow::LayoutOfferScreen() {
  const RECT tagline_box = installer::ScaleRect(kTaglineBox);
  HWND tagline = GetDlgItem(hwnd(), IDC_TAGLINE);
  int tagline_width = tagline_box.right - tagline_box.left;
  MoveWindow(tagline, tagline_box.left, tagline_box.top, tagline_width,
             std::min<int>(installer::MeasureWrappedText(installer::WindowText(tagline), font(1),
                                                         tagline_width)
                               .cy,
                           tagline_box.bottom - tagline_box.top),
             FALSE);
  install_button_->PlaceAt(installer::ScaleLength(kInstallButtonAt.x),
                           installer::ScaleLength(kInstallButtonAt.y));
  close_button_->PlaceAt(installer::ScaleLength(kCloseButtonAt.x),
                         installer::ScaleLength(kCloseButtonAt.y));
  ShowWindow(cancel_button_->hwnd(), SW_HIDE);

  OfferCheckBoxes visible =
      VisibleOfferCheckBoxes(*params_, uac_mode_, platform::WindowsVersionClass());
  OfferCheckBoxColumns columns = OfferCheckBoxColumnsFor(visible);
  // The privacy link goes under the statistics box, or under whichever box is shown.
  int below_boxes = installer::ScaleLength(kCheckBoxTop);
  struct Box {
    CheckBox* box;
    bool shown;
    RECT column;
  };
  for (const Box& entry : {Box{make_default_box_.get(), visible.make_default, columns.make_default},
                           Box{send_statistics_box_.get(), visible.send_statistics,
                               columns.send_statistics}}) {
    if (!entry.shown) {
      MoveWindow(entry.box->hwnd(), 0, 0, 0, 0, FALSE);
      ShowWindow(entry.box->hwnd(), SW_HIDE);
      continue;
    }
    RECT column = installer::ScaleRect(entry.column);
    int box_width = column.right - column.left;
    int box_height = entry.box->HeightForWidth(box_width);
    MoveWindow(entry.box->hwnd(), column.left, column.top, box_width, box_height, FALSE);
    ShowWindow(entry.box->hwnd(), SW_SHOWNA);
    below_boxes = column.top + box_height;
  }
  // The privacy link starts under the statistics box's text, indented.
  SIZE link_size = privacy_link_->MeasureText();
  int link_left = installer::ScaleLength(kPrivacyLinkLeft) + send_statistics_box_->text_offset();
  MoveWindow(privacy_link_->hwnd(), link_left, below_boxes, link_size.cx, link_size.cy, FALSE);

  // Tab goes in reading order: the licence sentence's links, the privacy link, the boxes,
  // Install. The dialog manager follows the order of the children.
  std::vector<HWND> order;
  for (HWND child = GetWindow(hwnd(), GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    if (GetDlgCtrlID(child) == IDC_LICENSE_LINK) order.push_back(child);
  }
  for (HWND control : {privacy_link_->hwnd(), make_default_box_->hwnd(),
                       send_statistics_box_->hwnd(), install_button_->hwnd(),
                       close_button_->hwnd()}) {
    order.push_back(control);
  }
  HWND after = HWND_TOP;
  for (HWND control : order) {
    SetWindowPos(control, after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    after = control;
  }
}

void MainWindow::DestroyOfferControls() {
  for (int id : kOfferControls) DestroyControls(hwnd(), id);
  tagline_.reset();
  install_button_.reset();
  close_button_.reset();
  make_default_box_.reset();
  send_statistics_box_.reset();
  privacy_link_.reset();
  offer_license_.Destroy();
}

void MainWindow::LayoutProgressDialog() {
  // 1, 2. A box that is gone counts as unchecked.
  bool make_default =
      MakeDefaultChoice(*params_, make_default_box_ && make_default_box_->IsChecked());
  installer()->set_make_default(make_default &&
                                CanMakeBrowserDefault(platform::WindowsVersionClass()));
  installer()->set_send_statistics(
      SendStatisticsChoice(*params_, send_statistics_box_ && send_statistics_box_->IsChecked()));

  // 3. Absent on systems without the taskbar progress (and where COM refuses it).
  if (taskbar_ == nullptr &&
      SUCCEEDED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER,
                                 IID_ITaskbarList3, reinterpret_cast<void**>(&taskbar_))) &&
      FAILED(taskbar_->HrInit())) {
    taskbar_->Release();
    taskbar_ = nullptr;
  }

  // 4.
  if (session_.EndForPendingError()) return;

  // 5.
  if (uac_mode_ == installer::kUacModeAfterInstallButton && NeedsElevatedRestart() &&
      !RestartElevated()) {
    logging::LogText(logging::kINFO, "LayoutProgressDialog", 916,
                     "Declined running the installer as admin");
  }

  // 6.
  DestroyOfferControls();

  // 7.
  if (KeepsCancelButton(*params_) && cancel_button_) {
    cancel_button_->PlaceAt(installer::ScaleLength(kCloseButtonAt.x),
                            installer::ScaleLength(kCloseButtonAt.y));
    ShowWindow(cancel_button_->hwnd(), SW_SHOWNA);
  } else {
    DestroyControls(hwnd(), IDC_CANCEL_BUTTON);
    cancel_button_.reset();
  }

  // 8.
  const uint32_t language_id = brand_info_->language_id();
  HWND bar = GetDlgItem(hwnd(), IDC_PROGRESS_BAR);
  progress_bar_ = std::make_unique<CustomProgressBar>(bar, nullptr, true);
  RECT bar_box = installer::ScaleRect(kProgressBarBox);
  MoveWindow(bar, bar_box.left, bar_box.top, bar_box.right - bar_box.left,
             bar_box.bottom - bar_box.top, FALSE);
  progress_bar_->SetRange(0, 100);
  progress_bar_->SetPosition(0);
  ShowWindow(bar, SW_SHOWNA);

  // The percentage is centred in its box, but its control is only as wide as the widest
  // value: the label paints what lies behind it before each value, and a control as wide as
  // the box would paint over the bar beside the text.
  RECT percent_box = installer::ScaleRect(kPercentBox);
  SIZE widest =
      installer::MeasureWrappedText(L"100%", font(3), percent_box.right - percent_box.left);
  HWND percent = GetDlgItem(hwnd(), IDC_PERCENT_TEXT);
  MoveWindow(percent, (percent_box.left + percent_box.right - widest.cx) / 2, percent_box.top,
             widest.cx, widest.cy, FALSE);
  percent_label_ = std::make_unique<TextLabel>(percent, kBlack, 255, font(3), nullptr,
                                               DT_CENTER | DT_SINGLELINE | DT_NOPREFIX);

  logo_.LoadScaled(language_id == kRussianLanguageId ? IDB_PROGRESS_LOGO_RU : IDB_PROGRESS_LOGO);

  installer::FirstSlideContent first_slide =
      installer::LoadFirstSlideContent(language_id, font(5), font(6));
  std::wstring slide_url = platform::WidenUtf8(
      installer::GetInstallerSlideUrl(*brand_info_, params_->Has("banner")));
  slide_show_ = std::make_unique<installer::SlideShow>(
      installer::DrawFirstSlide(first_slide), slide_url,
      installer::SlideStartIndexFromParams(*params_),
      SIZE{installer::ScaleLength(kWindowSize.cx), installer::ScaleLength(kWindowSize.cy)});
  if (flow().offer_skipped()) {
    // Nobody saw the offer: the licence sentence stays on the first slide.
    LicenseSentence::Style style;
    style.text_font = font(7);
    style.link_font = font(8);
    style.text_color = kBlack;
    style.link_color = kBlack;
    style.link_opacity = 255;
    slide_license_.Create(hwnd(),
                          installer::LoadLocalizedString(IDS_LICENSE_SENTENCE, language_id),
                          installer::ScaleRect(kSlideLicenseBox), style, IDC_SLIDE_LICENSE_TEXT,
                          IDC_SLIDE_LICENSE_LINK);
    slide_license_shown_ = true;
    // The slide's link stays a tab stop for keyboard users; its focus frame shows only once
    // the keyboard has been used (the window's UI state).
  }
  SetTimer(hwnd(), kSlideTimerId, kSlideTimerPeriodMs, nullptr);

  // 9.
  session_.ProceedWithInstall();
}

void MainWindow::OnCommand(int id, int code) {
  // Buttons and link labels report BN_CLICKED; Enter and Escape come with code 0 as well.
  if (code != BN_CLICKED) return;
  switch (id) {
    case IDC_INSTALL_BUTTON:
      OnInstallButton();
      break;
    case IDC_CLOSE_BUTTON:
      session_.OnCloseButton();
      break;
    case IDCANCEL:
      // Escape is counted, but only the close button closes the window.
      installer()->ReportButton(installer::kClickCancel);
      break;
    case IDC_CANCEL_BUTTON:
      session_.OnCancelButton();
      break;
    case IDC_MAKE_DEFAULT_CHECKBOX:
      if (make_default_box_) {
        make_default_box_->Toggle();
        installer()->ReportCheckbox(installer::kCheckboxDefault);
      }
      break;
    case IDC_SEND_STATISTICS_CHECKBOX:
      if (send_statistics_box_) {
        send_statistics_box_->Toggle();
        installer()->ReportCheckbox(installer::kCheckboxSendStat);
      }
      break;
    case IDC_LICENSE_LINK:
    case IDC_SLIDE_LICENSE_LINK:
    case IDC_PRIVACY_LINK:
      OnLink(id);
      break;
    default:
      break;
  }
}

void MainWindow::OnInstallButton() {
  if (!session_.PressInstall()) return;
  LayoutProgressDialog();
  if (hwnd() != nullptr) RedrawWindow(hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
}

void MainWindow::OnLink(int id) {
  std::wstring url = id == IDC_PRIVACY_LINK ? installer::GetPrivacyLinkUrl(*brand_info_)
                                           : installer::GetLicenseLinkUrl(*brand_info_);
  OpenUrl(url);
  installer()->ReportLink(url);
}

void MainWindow::OnSetPercent(int percent) {
  if (!flow().progress_shown() || !progress_bar_) return;
  percent = ClampPercent(percent);
  if (percent == progress_bar_->GetPosition()) return;
  progress_bar_->SetPosition(percent);
  // The label paints the slide behind it before each new value.
  SetDlgItemTextW(hwnd(), IDC_PERCENT_TEXT, PercentText(percent).c_str());
  if (taskbar_ != nullptr) taskbar_->SetProgressValue(hwnd(), static_cast<ULONGLONG>(percent), 100);
}

bool MainWindow::OnRegisteredMessage(UINT message, WPARAM wparam) {
  if (message == 0) return false;
  if (message == install_progress_message_) {
    int percent = 0;
    if (PercentForInstallStage(wparam, &percent)) {
      logging::LogWithValue(logging::kINFO, "OnInstallProgress", __LINE__,
                            "--> Installer > MainWindow::OnInstallProgress: ", percent);
      PostMessageW(hwnd(), kSetPercentMessage, static_cast<WPARAM>(percent), 0);
    }
    return true;
  }
  if (message == import_progress_message_) {
    logging::LogWithValue(logging::kINFO, "OnImportProgress", __LINE__,
                          "--> Installer > MainWindow::OnImportProgress: ",
                          static_cast<unsigned long long>(wparam));
    PostMessageW(hwnd(), kSetPercentMessage,
                 static_cast<WPARAM>(PercentForImportProgress(wparam)), 0);
    return true;
  }
  if (message == close_window_message_) {
    logging::LogText(logging::kINFO, "OnCloseWindow", __LINE__,
                     "--> Installer > MainWindow::OnCloseWindow");
    session_.OnSetupClose();
    return true;
  }
  if (message == higher_version_message_) {
    logging::LogText(logging::kINFO, "OnHigherVersionExist", __LINE__,
                     "--> Installer > MainWindow::OnHigherVersionExist");
    session_.OnNewerVersion();
    return true;
  }
  return false;
}

namespace {

struct PromptSearch {
  HWND owner;
  HWND except;
};

BOOL CALLBACK CancelOwnedDialog(HWND window, LPARAM parameter) {
  const auto* search = reinterpret_cast<const PromptSearch*>(parameter);
  wchar_t name[16] = {};
  GetClassNameW(window, name, 16);
  if (window != search->except && GetWindow(window, GW_OWNER) == search->owner &&
      wcscmp(name, L"#32770") == 0) {
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  }
  return TRUE;
}

}  // namespace

void MainWindow::TakeDownProxyPrompt() {
  // The system's prompt is the dialog this window owns, other than the resume question.
  PromptSearch search = {hwnd(), resume_dialog_.hwnd()};
  EnumThreadWindows(GetCurrentThreadId(), &CancelOwnedDialog, reinterpret_cast<LPARAM>(&search));
}

void MainWindow::OnTimer() {
  if (!slide_show_) return;
  if (slide_license_shown_ && slide_show_->current_index() != 0) {
    slide_license_.Destroy();
    slide_license_shown_ = false;
  }
  if (slide_show_->Tick()) RedrawWindow(hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
}

void MainWindow::PaintTo(HDC dc) {
  RECT client;
  GetClientRect(hwnd(), &client);
  const RECT logo_box = installer::ScaleRect(kLogoBox);
  if (!flow().progress_shown() || !slide_show_) {
    background_.Draw(dc, client);
    logo_.Draw(dc, logo_box);
  } else {
    // The slide and the logo are composed off screen so that a slide change never shows a
    // half-drawn picture.
    platform::ScopedMemoryDc memory(CreateCompatibleDC(dc));
    platform::ScopedBitmap bitmap(CreateCompatibleBitmap(dc, client.right, client.bottom));
    if (memory && bitmap) {
      HGDIOBJ old_bitmap = SelectObject(memory.get(), bitmap.get());
      slide_show_->Draw(memory.get());
      logo_.Draw(memory.get(), logo_box);
      BitBlt(dc, 0, 0, client.right, client.bottom, memory.get(), 0, 0, SRCCOPY);
      SelectObject(memory.get(), old_bitmap);
    } else {
      slide_show_->Draw(dc);
      logo_.Draw(dc, logo_box);
    }
  }
}

INT_PTR MainWindow::OnNotify(const NMHDR* header) {
  if (header->code != NM_CUSTOMDRAW) return FALSE;
  const NMCUSTOMDRAW& draw = *reinterpret_cast<const NMCUSTOMDRAW*>(header);
  for (ImageButton* button : {install_button_.get(), close_button_.get(), cancel_button_.get()}) {
    if (button != nullptr && button->hwnd() == header->hwndFrom) {
      SetWindowLongPtrW(hwnd(), DWLP_MSGRESULT, button->OnCustomDraw(draw));
      return TRUE;
    }
  }
  return FALSE;
}

}  // namespace lite_installer
