// The model behind the installer window: the install flow of an interactive run, the order
// in which it starts, and the rules by which the run ends. It holds no window; what it
// decides it asks of an `InstallView`, which the window implements.
//
// `InstallSession` owns the `Installer` and is its `ProgressListener`. The listener's calls
// come on the install thread: the session only queues each for the view's thread
// (`InstallView::Post`) while a view is attached, and the view hands it back to `OnPosted`,
// where everything else happens. The flow starts in one place (`StartFlow`), at whichever
// comes first of the view's first paint (or its fallback timer), the user's consent and
// the view's end; later calls leave the running flow alone.
//
// The end rules: an error ends the run once consent was given (one given before waits for
// the progress screen); the finished flow ends it only after consent; a close, a cancel or
// a system close ends it only while no setup has started (`Installer::CancelSetupStart`),
// else the run goes on as after "Resume"; every hide of the view answers the resume
// question with "Resume" and takes the proxy's credentials prompt down; a close asked for
// while that prompt's modal loop runs waits until it has returned.
#ifndef UI_INSTALL_SESSION_H_
#define UI_INSTALL_SESSION_H_

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>

#include "install/installer.h"
#include "install/progress_listener.h"
#include "network/proxy_prompt.h"
#include "platform/sync.h"

namespace lite_installer {

// Dialog results.
inline constexpr INT_PTR kResultDone = 1;
inline constexpr INT_PTR kResultSystemClose = 2;
inline constexpr INT_PTR kResultCancelConfirmed = 1009;
inline constexpr INT_PTR kResultCloseButton = 1010;

// Download progress on the overall scale: 5 + 35 x fraction, truncated (5..40). A fraction
// outside 0..1 (or not a number) is taken as its nearest end.
int PercentForDownloadFraction(float fraction);

// The order of consent, progress screen, finish and errors. An error reported before
// consent waits until the progress screen is laid out; finish before consent is ignored, so
// the window stays open for the user to decide. Skipping the offer screen counts as consent.
class InstallConsentFlow {
 public:
  // The install button (or Enter). True only for the first press on the offer screen: the
  // window then records it and lays out the progress screen.
  bool PressInstall();
  // The window opens on the progress screen.
  void SkipOffer();
  // The progress screen is up and installation may proceed.
  void MarkProgressShown() { progress_shown_ = true; }

  // Stores the error; true when it is to be shown now (after consent, once).
  bool ReportError(int32_t code);
  // At the progress-screen layout: true, with the code, when an error was stored before.
  bool TakePendingError(int32_t* code);
  bool FinishEndsDialog() const { return consent(); }

  bool install_clicked() const { return install_clicked_; }
  bool offer_skipped() const { return offer_skipped_; }
  bool progress_shown() const { return progress_shown_; }
  bool consent() const { return install_clicked_ || offer_skipped_; }

 private:
  bool install_clicked_ = false;
  bool offer_skipped_ = false;
  bool progress_shown_ = false;
  bool error_shown_ = false;
  int32_t pending_error_ = 0;
};

// What the install thread hands to the view's thread.
enum class SessionEvent : int {
  kPercent,  // value: overall percent
  kFinished,
  kError,           // value: the result code
  kSetupStarted,    // nothing may cancel the run any more
  kProxyPrompt,     // the credentials prompt waits to be shown
  kEndProxyPrompt,  // the asking side gave up: the prompt goes
};

// The window as the session sees it. `Post` may come on any thread, everything else on the
// view's thread.
class InstallView {
 public:
  virtual ~InstallView() = default;
  // Queues `event` for the view's thread, which hands it to `InstallSession::OnPosted`
  // (kPercent the view shows itself).
  virtual void Post(SessionEvent event, int32_t value) = 0;
  // Hides the view; every hide reaches `InstallSession::OnHidden`.
  virtual void Hide() = 0;
  // Ends the view's dialog with `result`.
  virtual void End(INT_PTR result) = 0;
  // The error dialog for `code` (not 0) and the newer-version notice, modal.
  virtual void ShowErrorDialog(int32_t code) = 0;
  virtual void ShowNewerVersionNotice() = 0;
  // The resume-or-cancel question, modal; true for "Cancel".
  virtual bool AskCancel() = 0;
  // Ends the resume question, if open, as "Resume".
  virtual void AnswerResume() = 0;
  virtual void RemoveCancelButton() = 0;
  // Runs `prompt` modally, owned by the view; and takes a prompt that is up down.
  virtual void ShowProxyPrompt(installer::ProxyPrompt* prompt) = 0;
  virtual void TakeDownProxyPrompt() = 0;
};

class InstallSession : public installer::ProgressListener {
 public:
  // `view` outlives the session. Makes the `Installer` from `options` (its listener is the
  // session); nothing starts before `StartFlow`.
  InstallSession(InstallView* view, installer::InstallerOptions options);
  ~InstallSession() override;
  InstallSession(const InstallSession&) = delete;
  InstallSession& operator=(const InstallSession&) = delete;

  installer::Installer* installer() const { return installer_.get(); }
  const InstallConsentFlow& flow() const { return flow_; }

  // The view's window exists (`window` is handed to the setup) and is gone. The end of the
  // view starts the flow if nothing did: a run closed before its first paint still reports
  // its start and its end, as any closed run does.
  void Attach(HWND window);
  void Detach();
  // The one start of the install thread.
  void StartFlow();

  // The install button: true when the view is to lay out the progress screen now (the
  // press is then recorded and reported).
  bool PressInstall();
  void SkipOffer() { flow_.SkipOffer(); }
  // At the progress screen's layout: an error that came before consent is shown and the
  // run ended (true); else nothing happens.
  bool EndForPendingError();
  // The progress screen is laid out: the flow runs on to the setup.
  void ProceedWithInstall();

  // The view's thread receives what `Post` queued.
  void OnPosted(SessionEvent event, int32_t value);
  void OnCloseButton();
  void OnCancelButton();
  void OnSystemClose();
  // The setup asked the window to close, or found a newer browser.
  void OnSetupClose();
  void OnNewerVersion();
  void OnHidden();

  // ProgressListener, on the install thread.
  void SetDownloadFraction(float fraction) override;
  void OnLongDownload() override {}
  void SetRemainingTime(uint32_t seconds, int32_t kind) override {}
  void Finish() override { PostToView(SessionEvent::kFinished, 0); }
  void ShowError(int32_t result_code) override { PostToView(SessionEvent::kError, result_code); }
  HWND WindowHandle() override;
  void SetPercent(int32_t percent) override { PostToView(SessionEvent::kPercent, percent); }
  void RemoveCancelButton() override { PostToView(SessionEvent::kSetupStarted, 0); }
  // Hands the prompt to the view's thread and waits for it or for the stop.
  DWORD AskProxyCredentials(installer::InternetApi* api, HINTERNET request,
                            HANDLE stop_event) override;

 private:
  void PostToView(SessionEvent event, int32_t value);
  void EndWithError(int32_t code);
  void OnProxyPrompt();
  void EndProxyPrompt();

  InstallView* const view_;
  InstallConsentFlow flow_;

  // The view as the install thread sees it (null before it exists and after it is gone).
  platform::CriticalLock lock_;
  HWND window_ = nullptr;
  std::optional<installer::ProxyPrompt> pending_prompt_;
  // On the view's thread: the prompt's modal loop runs, and a close waits for it to end.
  bool prompt_shown_ = false;
  bool close_after_prompt_ = false;

  // Last: destroyed (stopped and joined) first, while everything it reports to still lives.
  std::unique_ptr<installer::Installer> installer_;
};

}  // namespace lite_installer

#endif  // UI_INSTALL_SESSION_H_
