#include "ui/install_session.h"

#include <utility>

#include "stats/click_stats.h"

namespace lite_installer {

int PercentForDownloadFraction(float fraction) {
  // The negated test also catches a fraction that is not a number.
  if (!(fraction > 0.0f)) fraction = 0.0f;
  if (fraction > 1.0f) fraction = 1.0f;
  return static_cast<int>(5.0f + 35.0f * fraction);
}

bool InstallConsentFlow::PressInstall() {
  if (install_clicked_) return false;
  install_clicked_ = true;
  return !offer_skipped_;
}

void InstallConsentFlow::SkipOffer() { offer_skipped_ = true; }

bool InstallConsentFlow::ReportError(int32_t code) {
  if (error_shown_) return false;
  pending_error_ = code;
  if (!consent()) return false;
  error_shown_ = true;
  return true;
}

bool InstallConsentFlow::TakePendingError(int32_t* code) {
  if (error_shown_ || pending_error_ == 0) return false;
  *code = pending_error_;
  error_shown_ = true;
  return true;
}

InstallSession::InstallSession(InstallView* view, installer::InstallerOptions options)
    : view_(view) {
  options.listener = this;
  installer_ = std::make_unique<installer::Installer>(std::move(options));
}

InstallSession::~InstallSession() {
  // The install thread reports to this object until it has ended.
  installer_.reset();
}

void InstallSession::Attach(HWND window) {
  platform::AutoLock lock(lock_);
  window_ = window;
}

void InstallSession::Detach() {
  {
    platform::AutoLock lock(lock_);
    window_ = nullptr;
  }
  StartFlow();
}

void InstallSession::StartFlow() { installer_->Start(); }  // nothing once the thread is there

bool InstallSession::PressInstall() {
  if (!flow_.PressInstall()) return false;
  installer_->RecordInstallButtonPress();
  installer_->ReportButton(installer::kClickInstall);
  installer_->EmitInstallButtonClicked();
  return true;
}

bool InstallSession::EndForPendingError() {
  int32_t pending = 0;
  if (!flow_.TakePendingError(&pending)) return false;
  EndWithError(pending);
  return true;
}

void InstallSession::ProceedWithInstall() {
  // The consent may come before the first paint: the flow starts now if it has not.
  StartFlow();
  installer_->AllowInstall();
  flow_.MarkProgressShown();
}

void InstallSession::OnPosted(SessionEvent event, int32_t value) {
  switch (event) {
    case SessionEvent::kFinished:
      if (flow_.FinishEndsDialog()) view_->End(kResultDone);
      break;
    case SessionEvent::kError:
      if (flow_.ReportError(value)) EndWithError(value);
      break;
    case SessionEvent::kSetupStarted:
      // Nothing may cancel the run any more: a resume-or-cancel question still open is
      // answered as "Resume".
      view_->AnswerResume();
      view_->RemoveCancelButton();
      break;
    case SessionEvent::kProxyPrompt:
      OnProxyPrompt();
      break;
    case SessionEvent::kEndProxyPrompt:
      EndProxyPrompt();
      break;
    case SessionEvent::kPercent:
      break;
  }
}

void InstallSession::OnCloseButton() {
  installer_->IncrementCancelCounter();
  view_->End(kResultCloseButton);
  installer_->ReportButton(installer::kClickCancel);
}

void InstallSession::OnCancelButton() {
  // A "Cancel" given after the setup started (before the view heard of it) counts as
  // "Resume": the run goes on to the setup's end.
  if (!view_->AskCancel() || !installer_->CancelSetupStart()) return;
  installer_->IncrementCancelCounter();
  view_->End(kResultCancelConfirmed);
}

void InstallSession::OnSystemClose() {
  // A started setup is not the user's to cancel: the view stays until it has finished.
  if (installer_->CancelSetupStart()) view_->End(kResultSystemClose);
}

void InstallSession::OnSetupClose() {
  if (prompt_shown_) {
    // The prompt's modal loop runs below this call: it ends first, and the close follows
    // once it has returned (stopping the install flow now would wait for an answer that
    // cannot come while this thread waits).
    close_after_prompt_ = true;
    EndProxyPrompt();
    return;
  }
  view_->Hide();
  installer_->Stop();
  view_->End(kResultDone);
}

void InstallSession::OnNewerVersion() {
  view_->Hide();
  view_->ShowNewerVersionNotice();
  OnSetupClose();
}

void InstallSession::OnHidden() {
  // Every modal the view owns ends with it rather than stand alone with nothing behind it
  // and keep the process from ending.
  view_->AnswerResume();
  EndProxyPrompt();
}

void InstallSession::EndWithError(int32_t code) {
  view_->Hide();
  if (code != 0) view_->ShowErrorDialog(code);
  view_->End(kResultDone);
}

void InstallSession::OnProxyPrompt() {
  std::optional<installer::ProxyPrompt> prompt;
  {
    platform::AutoLock lock(lock_);
    if (!pending_prompt_) return;
    prompt.emplace(*pending_prompt_);
    pending_prompt_.reset();
  }
  prompt_shown_ = true;
  view_->ShowProxyPrompt(&*prompt);
  prompt_shown_ = false;
  if (close_after_prompt_) {
    close_after_prompt_ = false;
    OnSetupClose();
  }
}

void InstallSession::EndProxyPrompt() {
  if (prompt_shown_) view_->TakeDownProxyPrompt();
}

// --- ProgressListener (install thread) -----------------------------------------------------

void InstallSession::SetDownloadFraction(float fraction) {
  SetPercent(PercentForDownloadFraction(fraction));
}

HWND InstallSession::WindowHandle() {
  platform::AutoLock lock(lock_);
  return window_;
}

DWORD InstallSession::AskProxyCredentials(installer::InternetApi* api, HINTERNET request,
                                          HANDLE stop_event) {
  installer::ProxyPrompt prompt(api, request);
  {
    platform::AutoLock lock(lock_);
    if (window_ == nullptr) return ERROR_CANCELLED;  // the view is gone
    pending_prompt_.reset();
    pending_prompt_.emplace(prompt);
    view_->Post(SessionEvent::kProxyPrompt, 0);
  }
  return prompt.Wait(stop_event, [this] { PostToView(SessionEvent::kEndProxyPrompt, 0); });
}

void InstallSession::PostToView(SessionEvent event, int32_t value) {
  platform::AutoLock lock(lock_);
  // Before the view exists (or after it is gone) there is nobody to show anything to.
  if (window_ != nullptr) view_->Post(event, value);
}

}  // namespace lite_installer
