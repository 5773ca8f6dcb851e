#include "network/async_http_requests.h"

#include <windows.h>
#include <process.h>
#include <wininet.h>

#include <memory>

#include "network/internet_api.h"
#include "network/open_url_guarded.h"
#include "platform/logging.h"
#include "platform/sync.h"

namespace installer {
namespace {

constexpr DWORD_PTR kRequestContext = 1;

// Set by the status callback when it has closed the request of this thread's open. Without
// INTERNET_FLAG_ASYNC, WinINet calls the callback on the thread that opens the URL.
const platform::ThreadSlot g_closed_after_send;  // non-null once closed

// WinINet reports the statuses of a request only when it has a non-zero context. Closing the
// request handle here makes InternetOpenUrlW give up before it waits for the answer, so a
// ping costs one connect and one send; the open then fails with
// ERROR_INTERNET_OPERATION_CANCELLED, the expected outcome.
void CALLBACK CloseWhenSent(HINTERNET handle, DWORD_PTR context, DWORD status, void* info,
                            DWORD info_length) {
  if (status != INTERNET_STATUS_REQUEST_SENT) return;
  InternetCloseHandle(handle);
  g_closed_after_send.Set(handle);
}

}  // namespace

struct AsyncHttpRequests::WorkerStart {
  platform::SharedState<State> state;
  AsyncHttpRequests* owner;
};

AsyncHttpRequests::State::State()
    : wake_event(platform::WaitableEvent::ResetPolicy::kAutomatic,
                 platform::WaitableEvent::InitialState::kNotSignaled) {}

AsyncHttpRequests::AsyncHttpRequests() = default;

AsyncHttpRequests::~AsyncHttpRequests() { Shutdown(); }

void AsyncHttpRequests::Post(const std::wstring& url) {
  platform::AutoLock lock(state_->lock);
  if (state_->stopping) return;
  // Started under the lock: two threads posting their first URL at once must not start
  // two workers.
  if (!thread_ && !InitializeThread()) {
    LOG(ERROR, "Post") << "Failed to create thread for async http requests";
    return;
  }
  state_->queue.push_back(url);
  state_->wake_event.Set();
}

bool AsyncHttpRequests::InitializeThread() {
  auto* start = new WorkerStart{state_, this};
  uintptr_t thread =
      _beginthreadex(nullptr, 0, &AsyncHttpRequests::ThreadMain, start, 0, nullptr);
  if (thread == 0) {
    delete start;
    return false;
  }
  thread_.reset(reinterpret_cast<HANDLE>(thread));
  return true;
}

unsigned __stdcall AsyncHttpRequests::ThreadMain(void* parameter) {
  std::unique_ptr<WorkerStart> start(static_cast<WorkerStart*>(parameter));
  Run(*start->state, start->owner);
  return 0;
}

// `owner` is used only while the state says it is there: a worker left behind returns from
// the call it was blocked in and ends without touching it.
void AsyncHttpRequests::Run(State& state, AsyncHttpRequests* owner) {
  for (;;) {
    state.lock.Enter();
    if (state.abandoned) {
      state.lock.Leave();
      return;
    }
    if (!state.queue.empty()) {
      std::wstring url = std::move(state.queue.front());
      state.queue.erase(state.queue.begin());
      state.lock.Leave();
      owner->SendUrl(url);
      continue;
    }
    const bool drained = state.stopping;
    state.lock.Leave();
    if (drained) return;
    state.wake_event.Wait();
  }
}

void AsyncHttpRequests::Shutdown() {
  {
    platform::AutoLock lock(state_->lock);
    if (state_->stopping && !thread_) return;
    state_->stopping = true;
  }
  if (!thread_) return;
  state_->wake_event.Set();
  const bool ended = WaitForSingleObject(thread_.get(), kDrainMs) == WAIT_OBJECT_0;
  size_t dropped = 0;
  {
    platform::AutoLock lock(state_->lock);
    state_->abandoned = true;
    dropped = state_->queue.size();
    state_->queue.clear();
  }
  if (dropped > 0 || !ended) {
    LOG(WARNING, "Shutdown") << "Statistics requests dropped at exit: " << dropped
                             << (ended ? "" : "; the request in progress is left behind");
  }
  thread_.reset();
}

bool AsyncHttpRequests::IsStoppingForTesting() {
  platform::AutoLock lock(state_->lock);
  return state_->stopping;
}

void AsyncHttpRequests::SendUrl(const std::wstring& url) {
  SehExceptionInfo load_failure;
  if (!LoadWinInetGuarded(&load_failure)) {
    LOG(ERROR, "SendUrl") << "WinINet cannot be loaded to open " << url << ": "
                          << DescribeException(load_failure);
    return;
  }
  platform::ScopedInternetHandle internet(
      InternetOpenW(kRequestUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!internet) {
    LOG(ERROR, "SendUrl") << "Failed to open session for " << url;
    return;
  }
  InternetSetStatusCallbackW(internet.get(), &CloseWhenSent);
  DWORD timeout = kRequestTimeoutMs;
  if (!InternetSetOptionW(internet.get(), INTERNET_OPTION_CONNECT_TIMEOUT, &timeout,
                          sizeof(timeout)) ||
      !InternetSetOptionW(internet.get(), INTERNET_OPTION_SEND_TIMEOUT, &timeout,
                          sizeof(timeout)) ||
      // Also the TLS handshake's: a server that stalls it would hold every later ping.
      !InternetSetOptionW(internet.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout,
                          sizeof(timeout))) {
    LOG(ERROR, "SendUrl") << "Failed to set internet options for " << url;
    return;
  }
  SehExceptionInfo exception;
  g_closed_after_send.Set(nullptr);
  // When the callback has closed the request, no handle comes back; one that does (the
  // request never reported being sent) is closed with the session.
  platform::ScopedInternetHandle request(
      OpenUrlGuarded(internet.get(), url.c_str(), kAcceptAnyHeader, static_cast<DWORD>(-1),
                     INTERNET_FLAG_RELOAD, kRequestContext, &exception));
  DWORD error = GetLastError();
  platform::ScopedInternetHandle connection;
  if (!request && exception.code == 0 && error == ERROR_INTERNET_SEC_CERT_REV_FAILED) {
    // Behind a firewall that blocks the certificate authority's revocation servers every
    // ping would be lost; a ping's answer is never read, so its request goes once more
    // without that one check, as the downloads' do.
    LOG(WARNING, "SendUrl") << "The revocation of the server's certificate could not be "
                               "checked (12057); trying once more without that check: "
                            << url;
    HINTERNET relaxed = nullptr;
    SendWithoutRevocationCheckGuarded(
        InternetApi::Default(), internet.get(), url, kAcceptAnyHeader, kRequestContext,
        [&](HINTERNET handle, bool is_request) {
          if (is_request) {
            relaxed = handle;
          } else {
            connection.reset(handle);
          }
          return true;
        },
        &exception);
    error = GetLastError();
    // The callback closed the request once it was sent; one it did not close is ours.
    if (relaxed != nullptr && g_closed_after_send.Get() != relaxed) request.reset(relaxed);
  }
  if (exception.code != 0) {
    LOG(ERROR, "SendUrl") << "An attempt to open url " << url << " generated an exception "
                          << exception.code;
  } else if (error != ERROR_INTERNET_OPERATION_CANCELLED &&
             g_closed_after_send.Get() == nullptr) {
    // Wine ends an open whose request was closed after sending with
    // ERROR_INTERNET_UNRECOGNIZED_SCHEME instead of the cancellation code; the callback's
    // own record says the request went out, whatever code the open left behind.
    SetLastError(error);
    LOG(ERROR, "SendUrl") << "Failed to open " << url;
  }
  request.reset();
  connection.reset();
  // The callback must not outlive this call's handles.
  InternetSetStatusCallbackW(internet.get(), nullptr);
}

}  // namespace installer
