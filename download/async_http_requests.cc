#include "download/async_http_requests.h"

#include <windows.h>
#include <process.h>
#include <wininet.h>

#include "download/open_url_guarded.h"
#include "startup/logging.h"

namespace installer {
namespace {

constexpr DWORD_PTR kRequestContext = 1;

// Set by the status callback when it has closed the request of this thread's open. Without
// INTERNET_FLAG_ASYNC, WinINet calls the callback on the thread that opens the URL.
thread_local bool g_closed_after_send = false;

// WinINet reports the statuses of a request only when it has a non-zero context. Closing the
// request handle here makes InternetOpenUrlW give up before it waits for the answer, so a
// ping costs one connect and one send; the open then fails with
// ERROR_INTERNET_OPERATION_CANCELLED, the expected outcome.
void CALLBACK CloseWhenSent(HINTERNET handle, DWORD_PTR context, DWORD status, void* info,
                            DWORD info_length) {
  if (status != INTERNET_STATUS_REQUEST_SENT) return;
  InternetCloseHandle(handle);
  g_closed_after_send = true;
}

}  // namespace

AsyncHttpRequests::AsyncHttpRequests()
    : wake_event_(platform::WaitableEvent::ResetPolicy::kAutomatic,
                  platform::WaitableEvent::InitialState::kNotSignaled),
      owner_(this) {}

AsyncHttpRequests::~AsyncHttpRequests() { Shutdown(); }

void AsyncHttpRequests::Post(const std::wstring& url) {
  platform::AutoLock lock(lock_);
  if (stopping_) return;
  // Started under the lock: two threads posting their first URL at once must not start
  // two workers.
  if (!thread_ && !InitializeThread()) {
    LOG(ERROR, "Post") << "Failed to create thread for async http requests";
    return;
  }
  queue_.push_back(url);
  wake_event_.Set();
}

bool AsyncHttpRequests::InitializeThread() {
  uintptr_t thread = _beginthreadex(nullptr, 0, &AsyncHttpRequests::ThreadMain, this, 0, nullptr);
  if (thread == 0) return false;
  thread_.reset(reinterpret_cast<HANDLE>(thread));
  return true;
}

unsigned __stdcall AsyncHttpRequests::ThreadMain(void* parameter) {
  static_cast<AsyncHttpRequests*>(parameter)->Run();
  return 0;
}

void AsyncHttpRequests::Run() {
  wake_event_.Wait();
  for (;;) {
    lock_.Enter();
    if (stopping_) {
      lock_.Leave();
      return;
    }
    if (!queue_.empty()) {
      std::wstring url = std::move(queue_.front());
      queue_.pop_front();
      lock_.Leave();
      owner_->SendUrl(url);
      continue;
    }
    lock_.Leave();
    wake_event_.Wait();
  }
}

void AsyncHttpRequests::Shutdown() {
  {
    platform::AutoLock lock(lock_);
    stopping_ = true;
  }
  if (!thread_) return;
  wake_event_.Set();
  WaitForSingleObject(thread_.get(), INFINITE);
  thread_.reset();
  platform::AutoLock lock(lock_);
  queue_.clear();
}

bool AsyncHttpRequests::IsStoppingForTesting() {
  platform::AutoLock lock(lock_);
  return stopping_;
}

void AsyncHttpRequests::SendUrl(const std::wstring& url) {
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
                          sizeof(timeout))) {
    LOG(ERROR, "SendUrl") << "Failed to set internet options for " << url;
    return;
  }
  DownloadFailureInfo exception;
  g_closed_after_send = false;
  // When the callback has closed the request, no handle comes back; one that does (the
  // request never reported being sent) is closed with the session.
  platform::ScopedInternetHandle request(
      OpenUrlGuarded(internet.get(), url.c_str(), L"Accept: */*", static_cast<DWORD>(-1),
                     INTERNET_FLAG_RELOAD, kRequestContext, &exception));
  DWORD error = GetLastError();
  if (exception.exception_code != 0) {
    LOG(ERROR, "SendUrl") << "An attempt to open url " << url << " generated an exception "
                          << exception.exception_code;
  } else if (error != ERROR_INTERNET_OPERATION_CANCELLED && !g_closed_after_send) {
    // Wine ends an open whose request was closed after sending with
    // ERROR_INTERNET_UNRECOGNIZED_SCHEME instead of the cancellation code; the callback's
    // own record says the request went out, whatever code the open left behind.
    SetLastError(error);
    LOG(ERROR, "SendUrl") << "Failed to open " << url;
  }
  request.reset();
  // The callback must not outlive this call's handles.
  InternetSetStatusCallbackW(internet.get(), nullptr);
}

}  // namespace installer
