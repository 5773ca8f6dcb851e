// The installer window of an interactive run: a borderless 728 x 400 dialog (template 129)
// with two screens, the offer (licence sentence, two choices, the install button) and the
// progress screen (progress bar, percentage, slide show).
//
// The window is the view of an `InstallSession` (ui/install_session.h), which owns the
// `Installer`, starts it once the window has been painted, so the setup archive downloads
// while the user still reads the offer, and decides how the run ends; the install button
// hands the user's choices to the `Installer` and lets the installation proceed. The setup
// program and the installed browser report through four registered window messages.
//
// Ending the dialog: 1 when the install flow finished (only after consent), after an error
// or a newer-version notice, or when the setup asked the window to close; 1010 for the close
// button; 1009 for a confirmed cancel; 2 for the system close command.
//
// The decisions the window makes (percent mapping, which check boxes show, when the offer
// is skipped) are the pure functions below.
#ifndef UI_MAIN_WINDOW_H_
#define UI_MAIN_WINDOW_H_

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "install/installer.h"
#include "platform/scoped_handle.h"
#include "ui/check_box.h"
#include "ui/custom_progress_bar.h"
#include "ui/dialog_window.h"
#include "ui/image_button.h"
#include "ui/install_session.h"
#include "ui/license_text.h"
#include "ui/message_dialog.h"
#include "ui/resource_bitmap.h"
#include "ui/shadow_window.h"
#include "ui/slides.h"
#include "ui/text_label.h"

struct ITaskbarList3;

namespace lite_installer {

// Messages from the setup program and the browser (registered by name).
inline constexpr wchar_t kInstallProgressMessageName[] = L"zorvin.lite.set_install_progress";
inline constexpr wchar_t kImportProgressMessageName[] = L"zorvin.lite.set_import_progress";
inline constexpr wchar_t kCloseWindowMessageName[] = L"zorvin.lite.close_window";
inline constexpr wchar_t kHigherVersionMessageName[] = L"zorvin.higher_version_exist";
// Set percent, posted by this window's listener and by the elevated child (wParam percent).
inline constexpr UINT kSetPercentMessage = WM_APP + 2;

inline constexpr UINT_PTR kSlideTimerId = 100;
// Finishes the start-up (icon, install flow) if the window has not been painted by then
// (started minimised).
inline constexpr UINT_PTR kStartUpTimerId = 101;
inline constexpr UINT kStartUpFallbackMs = 1000;
inline constexpr UINT kSlideTimerPeriodMs = 20;

// --- Pure decisions ------------------------------------------------------------------------

// Setup stage codes: 5 -> 75, 7 -> 79; false for any other code.
bool PercentForInstallStage(WPARAM stage, int* percent);
// Import progress 0..100 -> 80 + progress / 5, truncated (80..100); larger values give 100.
int PercentForImportProgress(WPARAM progress);
// A percent from another process, limited to 0..100.
int ClampPercent(int percent);
// "NN%".
std::wstring PercentText(int percent);

// Whether the browser can be made the default from the installer (not on Windows 8, 8.1).
bool CanMakeBrowserDefault(int windows_version_class);

struct OfferCheckBoxes {
  bool make_default = false;
  bool send_statistics = false;
};
// Make-default: no "def" parameter, UAC mode not 2, and a system where it applies.
// Send-statistics: neither "stat" nor "statpromo" (either decides the choice by itself).
OfferCheckBoxes VisibleOfferCheckBoxes(const installer::DistribInfoParams& params, int uac_mode,
                                       int windows_version_class);

// Left, top and right of each shown box in design pixels (bottom = top: the height is the
// text's); an empty rectangle for a hidden one.
struct OfferCheckBoxColumns {
  RECT make_default = {};
  RECT send_statistics = {};
};
OfferCheckBoxColumns OfferCheckBoxColumnsFor(OfferCheckBoxes visible);

// "first" = "1" with both "def" and a statistics choice ("stat" or "statpromo") present:
// the choices were made in advance and the window opens on the progress screen.
bool SkipsOfferScreen(const installer::DistribInfoParams& params);
// "cancel" = "1": the progress screen keeps a cancel button.
bool KeepsCancelButton(const installer::DistribInfoParams& params);
// The parameter "def" when present ("1" yes), else the check box.
bool MakeDefaultChoice(const installer::DistribInfoParams& params, bool box_checked);
// The parameter "stat" when present ("1" yes), else "statpromo" ("true" yes), else the box.
bool SendStatisticsChoice(const installer::DistribInfoParams& params, bool box_checked);

// --- The window ----------------------------------------------------------------------------

// The invisible owner of the elevation prompt, in the middle of the screen, which brings the
// prompt to the front; null when it cannot be made.
HWND MakeElevationPromptOwner();

class MainWindow : public DialogWindow, private InstallView {
 public:
  // `options` names the brand and the distribution parameters (both outlive the window)
  // and the run's command line; the window's session becomes the flow's listener, and the
  // window makes the elevation prompt's owner.
  explicit MainWindow(installer::InstallerOptions options);
  ~MainWindow() override;

  installer::Installer* installer() const { return session_.installer(); }
  // The flow's listener, for a test that stands in for the install thread.
  installer::ProgressListener* ListenerForTesting() { return &session_; }
  // Signals the install flow to stop and waits for it to end (`Installer::StopAndWait`);
  // its result code is final afterwards. Only once the dialog has ended.
  void StopInstaller();
  // The install flow's result code (the exit code after a finished dialog).
  int32_t result_code() const;

  const InstallConsentFlow& flow() const { return session_.flow(); }
  int uac_mode() const { return uac_mode_; }

 protected:
  INT_PTR HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override;

  // Whether this process is to restart elevated (NeedStartThisProcessAsAdmin).
  virtual bool NeedsElevatedRestart();
  // The elevated restart (Installer::ExecuteAsAdmin); false when it was not made.
  virtual bool RestartElevated();
  // Runs `dialog` modally, owned by the active window; its result.
  virtual INT_PTR RunMessageDialog(MessageDialog* dialog);
  // Opens a link with the shell.
  virtual bool OpenUrl(const std::wstring& url);

 private:
  // What the session posts from the install thread (wParam the event, lParam its value).
  static constexpr UINT kSessionMessage = WM_APP + 0x40;
  // Posted by the first paint: the start-up finishes (FinishStartUp) and the shadow comes
  // once the window itself is on the screen.
  static constexpr UINT kAfterFirstPaintMessage = WM_APP + 0x43;

  // InstallView.
  void Post(SessionEvent event, int32_t value) override;
  void Hide() override;
  void End(INT_PTR result) override;
  void ShowErrorDialog(int32_t code) override;
  void ShowNewerVersionNotice() override;
  bool AskCancel() override;
  void AnswerResume() override;
  void RemoveCancelButton() override;
  void ShowProxyPrompt(installer::ProxyPrompt* prompt) override;
  void TakeDownProxyPrompt() override;

  void AllowRegisteredMessages();
  // Lays out the first screen and sets the focus itself.
  void OnInitDialog();
  // What waits for the first paint, or for the fallback timer when no paint comes: the
  // window's icon, big and small (the X11 driver of Wine turns it into window properties,
  // which takes milliseconds the first paint need not wait for), and the install flow
  // (`InstallSession::StartFlow`). Harmless when run again.
  void FinishStartUp();
  void CreateFonts();
  void CreateControls();
  void LayoutOfferScreen();
  void LayoutProgressDialog();
  void DestroyOfferControls();
  void OnCommand(int id, int code);
  void OnInstallButton();
  void OnLink(int id);
  void OnSetPercent(int percent);
  bool OnRegisteredMessage(UINT message, WPARAM wparam);
  void OnTimer();
  // Paints the whole client area (background or slide, and the logo) into `dc`.
  void PaintTo(HDC dc);
  INT_PTR OnNotify(const NMHDR* header);
  HFONT font(int slot) const { return fonts_[slot - 1].get(); }

  const installer::BrandInfo* brand_info_;
  const installer::DistribInfoParams* params_;
  const int uac_mode_;

  UINT install_progress_message_ = 0;
  UINT import_progress_message_ = 0;
  UINT close_window_message_ = 0;
  UINT higher_version_message_ = 0;

  platform::ScopedFont fonts_[8];
  installer::ResourceBitmap background_;
  installer::ResourceBitmap logo_;

  std::unique_ptr<TextLabel> tagline_;
  std::unique_ptr<ImageButton> install_button_;
  std::unique_ptr<ImageButton> close_button_;
  std::unique_ptr<ImageButton> cancel_button_;
  std::unique_ptr<CheckBox> make_default_box_;
  std::unique_ptr<CheckBox> send_statistics_box_;
  std::unique_ptr<LinkLabel> privacy_link_;
  std::unique_ptr<CustomProgressBar> progress_bar_;
  std::unique_ptr<TextLabel> percent_label_;
  LicenseSentence offer_license_;
  LicenseSentence slide_license_;
  bool slide_license_shown_ = false;
  ShadowWindow shadow_;
  bool first_paint_seen_ = false;
  ITaskbarList3* taskbar_ = nullptr;
  std::unique_ptr<installer::SlideShow> slide_show_;

  MessageDialog resume_dialog_;

  // Last: destroyed (its flow stopped and joined) first, while everything it reports to
  // still lives.
  InstallSession session_;
};

}  // namespace lite_installer

#endif  // UI_MAIN_WINDOW_H_
