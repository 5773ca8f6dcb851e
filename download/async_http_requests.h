// Fire-and-forget HTTP requests for the statistics pings.
//
// `Post` queues a URL and returns at once, from any thread. One worker thread, started by the
// first `Post`, sends the queued URLs one at a time in posting order with `SendUrl`, which
// drops the connection as soon as the request has gone out: answers are never read and
// nothing is retried. Destruction stops the worker after the request in progress (bounded by
// the 2-second connect and send time-outs); URLs still queued are dropped unsent.
//
// `SendUrl` is virtual so that tests can watch the queue without a network. A subclass that
// overrides it must call `Shutdown` in its own destructor, before the parts the override
// uses are gone.
#ifndef DOWNLOAD_ASYNC_HTTP_REQUESTS_H_
#define DOWNLOAD_ASYNC_HTTP_REQUESTS_H_

#include <deque>
#include <string>

#include "platform/scoped_handle.h"
#include "platform/sync.h"

namespace installer {

// User agent of the pings (the download client has its own).
inline constexpr wchar_t kRequestUserAgent[] = L"Zorvin.Browser installer";
// Connect and send time-out of one ping.
inline constexpr unsigned long kRequestTimeoutMs = 2000;

class AsyncHttpRequests {
 public:
  AsyncHttpRequests();
  virtual ~AsyncHttpRequests();
  AsyncHttpRequests(const AsyncHttpRequests&) = delete;
  AsyncHttpRequests& operator=(const AsyncHttpRequests&) = delete;

  // Queues `url`. The first call starts the worker; when it cannot be started the URL is
  // dropped (logged) and the next call tries again. After `Shutdown` URLs are dropped.
  virtual void Post(const std::wstring& url);
  // Sends one GET request for `url` and closes it as soon as it is sent; failures are logged
  // and the request is dropped. Runs on the worker thread.
  virtual void SendUrl(const std::wstring& url);

  // Whether `Shutdown` has asked the worker to stop (tests watch a shutdown in progress).
  bool IsStoppingForTesting();

 protected:
  // Stops the worker and waits for it: the `SendUrl` in progress finishes, queued URLs are
  // discarded. Idempotent; the destructor calls it too.
  void Shutdown();

 private:
  bool InitializeThread();
  static unsigned __stdcall ThreadMain(void* parameter);
  void Run();

  platform::ScopedKernelHandle thread_;
  platform::CriticalLock lock_;  // guards stopping_, queue_ and the start of thread_
  platform::WaitableEvent wake_event_;
  bool stopping_ = false;
  std::deque<std::wstring> queue_;
  AsyncHttpRequests* owner_;
};

}  // namespace installer

#endif  // DOWNLOAD_ASYNC_HTTP_REQUESTS_H_
