#include "network/proxy_prompt.h"

namespace installer {

ProxyPrompt::State::State()
    : answered(platform::WaitableEvent::ResetPolicy::kManual,
               platform::WaitableEvent::InitialState::kNotSignaled) {}

ProxyPrompt::ProxyPrompt(InternetApi* api, HINTERNET request) {
  state_->api = api;
  state_->request = request;
}

void ProxyPrompt::Show(HWND owner) {
  {
    platform::AutoLock lock(state_->lock);
    if (state_->abandoned) return;
    state_->showing = true;
  }
  // The prompt stores what the user typed in the request, which is sent again afterwards.
  const DWORD answer = state_->api->ErrorDlg(
      owner, state_->request, ERROR_INTERNET_INCORRECT_PASSWORD,
      FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_GENERATE_DATA |
          FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS);
  {
    platform::AutoLock lock(state_->lock);
    state_->showing = false;
    state_->answer = answer;
  }
  state_->answered.Set();
}

DWORD ProxyPrompt::Wait(HANDLE stop_event, const std::function<void()>& end_prompt) {
  HANDLE waits[2] = {state_->answered.handle(), stop_event};
  const DWORD count = stop_event != nullptr ? 2 : 1;
  if (WaitForMultipleObjects(count, waits, FALSE, INFINITE) == WAIT_OBJECT_0) {
    platform::AutoLock lock(state_->lock);
    return state_->answer;
  }
  bool showing;
  {
    platform::AutoLock lock(state_->lock);
    state_->abandoned = true;
    showing = state_->showing;
  }
  if (showing) {
    end_prompt();
    state_->answered.WaitFor(kPromptEndGraceMs);
  }
  return ERROR_CANCELLED;
}

}  // namespace installer
