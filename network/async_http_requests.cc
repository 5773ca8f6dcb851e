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

// The context of one ping's handles. WinINet reports the statuses of a request only when it
// has a non-zero context; without INTERNET_FLAG_ASYNC it calls the callback on the thread
// that opens the URL.
struct PingRequest {
  InternetApi* api = nullptr;
  HINTERNET closed_after_send = nullptr;  // the request the callback closed
};

// Closing the request handle here makes InternetOpenUrlW give up before it waits for the
// answer, so a ping costs one connect and one send; the open then fails with
// ERROR_INTERNET_OPERATION_CANCELLED, the expected outcome.
void CALLBACK CloseWhenSent(HINTERNET handle, DWORD_PTR context, DWORD status, void* info,
                            DWORD info_length) {
  if (status != INTERNET_STATUS_REQUEST_SENT || context == 0) return;
  auto* ping = reinterpret_cast<PingRequest*>(context);
  ping->api->CloseHandle(handle);
  ping->closed_after_send = handle;
}

}  // namespace

struct AsyncHttpRequests::WorkerStart {
  platform::SharedState<State> state;
  AsyncHttpRequests* owner;
};

AsyncHttpRequests::State::State()
    : wake_event(platform::WaitableEvent::ResetPolicy::kAutomatic,
                 platform::WaitableEvent::InitialState::kNotSignaled) {}

AsyncHttpRequests::AsyncHttpRequests() : AsyncHttpRequests(InternetApi::Default()) {}

AsyncHttpRequests::AsyncHttpRequests(InternetApi* api) : api_(api) {}

AsyncHttpRequests::~AsyncHttpRequests() { Shutdown(); }

void AsyncHttpRequests::Post(const std::wstring& url) {
  platform::AutoLock lock(state_->lock);
  if (state_->stopping) return;
  // Started under the lock: two threads posting their first URL at once must not start
  // two workers.
  if (!thread_ && !InitializeThread()) {
    logging::LogText(logging::kERROR, "Post", __LINE__,
                     "Failed to create thread for async http requests");
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
  if (!api_->Load(&load_failure)) {
    LOG(ERROR, "SendUrl") << "WinINet cannot be loaded to open " << url << ": "
                          << DescribeException(load_failure);
    return;
  }
  InternetApiHandle internet;
  internet.reset(api_, api_->Open(kRequestUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr,
                                  nullptr, 0));
  if (!internet) {
    logging::LogWithValue(logging::kERROR, "SendUrl", __LINE__, "Failed to open session for ", url);
    return;
  }
  api_->SetStatusCallback(internet.get(), &CloseWhenSent);
  DWORD timeout = kRequestTimeoutMs;
  if (!api_->SetOption(internet.get(), INTERNET_OPTION_CONNECT_TIMEOUT, &timeout,
                       sizeof(timeout)) ||
      !api_->SetOption(internet.get(), INTERNET_OPTION_SEND_TIMEOUT, &timeout, sizeof(timeout)) ||
      // Also the TLS handshake's: a server that stalls it would hold every later ping.
      !api_->SetOption(internet.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout,
                       sizeof(timeout))) {
    logging::LogWithValue(logging::kERROR, "SendUrl", __LINE__,
                          "Failed to set internet options for ", url);
    return;
  }
  PingRequest ping;
  ping.api = api_;
  // The request the callback did not close (it never reported being sent, or it was made
  // step by step and refused) is closed here, before its connection and the session.
  struct Keeper final : HandleKeeper {
    explicit Keeper(InternetApi* api) : api(api) {}
    bool Keep(HINTERNET handle, bool is_request) override {
      if (is_request) {
        made = handle;
      } else {
        connection.reset(api, handle);
      }
      return true;
    }
    InternetApi* api;
    HINTERNET made = nullptr;
    InternetApiHandle connection;
  } keep(api_);
  // A ping's answer is never read, so behind a firewall that blocks the certificate
  // authority's revocation servers its request goes once more without that one check, as
  // the downloads' do.
  SehExceptionInfo exception;
  RelaxedSend sent = RelaxedSend::kFailed;
  DWORD error = 0;
  for (int round = 0; round < 2; ++round) {
    sent = OpenUrlGuarded(api_, internet.get(), url, kAcceptAnyHeader,
                          reinterpret_cast<DWORD_PTR>(&ping), round > 0, keep, &exception);
    error = GetLastError();
    if (round > 0 || !RetryWithoutRevocationCheck(sent, error, "SendUrl", url)) break;
  }
  InternetApiHandle request;
  if (keep.made != nullptr && keep.made != ping.closed_after_send) {
    request.reset(api_, keep.made);
  }
  if (sent == RelaxedSend::kRaised) {
    LOG(ERROR, "SendUrl") << "An attempt to open url " << url << " generated an exception "
                          << exception.code;
  } else if (sent != RelaxedSend::kSent && error != ERROR_INTERNET_OPERATION_CANCELLED &&
             ping.closed_after_send == nullptr) {
    // Wine ends an open whose request was closed after sending with
    // ERROR_INTERNET_UNRECOGNIZED_SCHEME instead of the cancellation code; the callback's
    // own record says the request went out, whatever code the open left behind.
    SetLastError(error);
    logging::LogWithValue(logging::kERROR, "SendUrl", __LINE__, "Failed to open ", url);
  }
  request.reset();
  keep.connection.reset();
  // The callback must not outlive this call's handles.
  api_->SetStatusCallback(internet.get(), nullptr);
}

}  // namespace installer
