// Fire-and-forget HTTP requests for the statistics pings.
//
// `Post` queues a URL and returns at once, from any thread. One worker thread, started by the
// first `Post`, sends the queued URLs one at a time in posting order with `SendUrl`, which
// drops the connection as soon as the request has gone out: answers are never read and
// nothing is retried. The last pings of a run are queued just before it ends, so shutdown
// lets the worker drain the queue for up to kDrainMs in all; what is left then is dropped
// with a log line. A worker still blocked after that (a server that accepts the connection
// and never answers, which Wine's WinINet waits for without a time-out) is left behind: it
// shares only its own state with this object and sends nothing more.
//
// `SendUrl` is virtual so that tests can watch the queue without a network; its WinINet calls
// go through an `InternetApi`, so a fake can play the server. A subclass that
// overrides it must call `Shutdown` in its own destructor, before the parts the override
// uses are gone.
#ifndef NETWORK_ASYNC_HTTP_REQUESTS_H_
#define NETWORK_ASYNC_HTTP_REQUESTS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/scoped_handle.h"
#include "platform/shared_state.h"
#include "platform/sync.h"

namespace installer {

class InternetApi;

// User agent of the pings (the download client has its own).
inline constexpr wchar_t kRequestUserAgent[] = L"Zorvin.Browser installer";
// Connect and send time-out of one ping.
inline constexpr unsigned long kRequestTimeoutMs = 2000;

class AsyncHttpRequests {
 public:
  // How long shutdown lets the worker send what is queued, in all.
  static constexpr uint32_t kDrainMs = 2000;

  AsyncHttpRequests();
  // Pings go through `api` (borrowed; must outlive the worker).
  explicit AsyncHttpRequests(InternetApi* api);
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
  // Stops taking URLs, lets the worker send the queued ones for up to kDrainMs, then drops
  // what is left (logged) and leaves a worker that is still busy behind. Idempotent; the
  // destructor calls it too.
  void Shutdown();

 private:
  // Shared by this object and its worker, which may outlive it.
  struct State {
    State();
    platform::CriticalLock lock;
    platform::WaitableEvent wake_event;
    bool stopping = false;    // under lock: no more URLs are taken
    bool abandoned = false;   // under lock: the owner is gone, send nothing more
    std::vector<std::wstring> queue;  // under lock; one URL per reported stage
  };
  struct WorkerStart;

  bool InitializeThread();
  static unsigned __stdcall ThreadMain(void* parameter);
  static void Run(State& state, AsyncHttpRequests* owner);

  InternetApi* api_;
  platform::SharedState<State> state_;
  platform::ScopedKernelHandle thread_;  // started under state_->lock
};

}  // namespace installer

#endif  // NETWORK_ASYNC_HTTP_REQUESTS_H_
