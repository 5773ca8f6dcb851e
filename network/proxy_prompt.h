// The system's credentials prompt for a proxy that answered 407 (InternetErrorDlg), asked
// for on the install thread and shown on the window's own thread.
//
// A worker must not run a dialog owned by a window of another thread: the prompt's messages
// to its owner would wait for a thread that may itself be waiting for the worker. So the
// asking thread makes a `ProxyPrompt`, hands a copy to the window's thread and waits in
// `Wait` for the answer or for its stop event; the window's thread calls `Show`. The two
// share one state that whichever lets go last frees, so neither side ever waits for the
// other without a bound: a stop that comes before the prompt is shown means it never shows;
// a stop while it is up makes `Wait` ask the window to end it and give it kPromptEndGraceMs
// to go (the request it reads stays open meanwhile) before it returns.
#ifndef NETWORK_PROXY_PROMPT_H_
#define NETWORK_PROXY_PROMPT_H_

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <functional>

#include "network/internet_api.h"
#include "platform/shared_state.h"
#include "platform/sync.h"

namespace installer {

// How long a prompt taken down at a stop is given to go before the request it reads closes.
inline constexpr uint32_t kPromptEndGraceMs = 2000;

class ProxyPrompt {
 public:
  // For `request` (borrowed; it stays open until `Wait` returns) of `api`.
  ProxyPrompt(InternetApi* api, HINTERNET request);

  // The window's thread: runs the prompt modally, owned by `owner`, unless the asking side
  // has given up already; its answer goes to `Wait`.
  void Show(HWND owner);
  // The asking thread: the prompt's answer (ERROR_INTERNET_FORCE_RETRY when the user gave
  // credentials, which the request then carries), or ERROR_CANCELLED when `stop_event` (may
  // be null) came first; `end_prompt` is then called if the prompt is up, and must make the
  // window's thread end it.
  DWORD Wait(HANDLE stop_event, const std::function<void()>& end_prompt);

 private:
  struct State {
    State();
    platform::CriticalLock lock;
    platform::WaitableEvent answered;
    InternetApi* api = nullptr;
    HINTERNET request = nullptr;
    bool abandoned = false;  // under lock: `Wait` returned without an answer
    bool showing = false;    // under lock
    DWORD answer = ERROR_CANCELLED;
  };
  platform::SharedState<State> state_;
};

}  // namespace installer

#endif  // NETWORK_PROXY_PROMPT_H_
