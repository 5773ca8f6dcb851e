#include "network/http_downloader.h"

#include <process.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <utility>

#include "platform/file_util.h"
#include "platform/logging.h"
#include "platform/scoped_handle.h"
#include "platform/seh_guard.h"
#include "platform/strings.h"
#include "platform/sync.h"

namespace installer {

// One call handed to the request thread: run once, there, then destroyed.
struct RequestCall {
  virtual ~RequestCall() = default;
  virtual void Run() = 0;
};

// State shared by a downloader and its request thread. The thread runs one call at a time
// while the downloader waits; a downloader that stops waiting closes the handles and may
// leave the thread behind, and whichever of the two lets go last frees the state. The
// handles are closed once, by whoever takes them from here under the lock.
struct DownloadCallState {
  DownloadCallState()
      : start(platform::WaitableEvent::ResetPolicy::kAutomatic,
              platform::WaitableEvent::InitialState::kNotSignaled),
        done(platform::WaitableEvent::ResetPolicy::kAutomatic,
             platform::WaitableEvent::InitialState::kNotSignaled),
        buffer_storage(HttpDownloader::kBufferSize * HttpDownloader::kReadsPerCall + 31, 0) {
    uintptr_t address = reinterpret_cast<uintptr_t>(buffer_storage.data());
    buffer = reinterpret_cast<uint8_t*>((address + 31) & ~static_cast<uintptr_t>(31));
  }

  platform::CriticalLock lock;
  platform::WaitableEvent start;  // a call was handed over, or the thread is to end
  platform::WaitableEvent done;   // the call returned
  std::unique_ptr<RequestCall> call;  // under lock
  bool quit = false;              // under lock
  InternetApi* api = nullptr;
  HINTERNET session = nullptr;     // under lock
  HINTERNET connection = nullptr;  // under lock; only for a request made step by step
  HINTERNET request = nullptr;     // under lock
  bool closed = false;             // under lock: the waiting side closed the handles
  // Under lock: bytes at the buffer's start that reads of the call in progress completed;
  // a read still under way only writes after them.
  uint32_t batch_bytes = 0;
  std::vector<uint8_t> buffer_storage;
  // 32-byte aligned, kReadsPerCall reads of HttpDownloader::kBufferSize bytes.
  uint8_t* buffer = nullptr;
  // Written by the status callback during the open.
  wchar_t redirect_target[HttpDownloader::kMaxRedirectChars] = {};
};

namespace {

using SharedCalls = platform::SharedState<DownloadCallState>;

constexpr wchar_t kUserAgent[] = L"Zorvin.Browser lite installer";
constexpr uint32_t kEstimateIntervalMs = 60000;
constexpr uint64_t kSlowDownloadSeconds = 121;
// The 407 body is drained before the prompt (it is small; more is not waited for).
constexpr int kMaxDrainReads = 8;

// Called by WinINet on the request thread inside the guarded open. The context is the call
// state. A redirect is copied into its fixed buffer, so the last redirect of the request
// stays there. Nothing here allocates: a fault abandons the guarded frames, and a heap lock
// taken inside them would stay taken.
void CALLBACK StatusCallback(HINTERNET, DWORD_PTR context, DWORD status, void* info, DWORD) {
  if (status != INTERNET_STATUS_REDIRECT || context == 0 || info == nullptr) return;
  auto* state = reinterpret_cast<DownloadCallState*>(context);
  wchar_t* target = state->redirect_target;
  const auto* source = static_cast<const wchar_t*>(info);
  auto copy = [&] {
    size_t n = 0;
    for (; n + 1 < HttpDownloader::kMaxRedirectChars && source[n] != L'\0'; ++n) {
      target[n] = source[n];
    }
    target[n] = L'\0';
  };
  if (!CallGuarded(copy, nullptr)) target[0] = L'\0';
}

struct RequestThreadStart {
  SharedCalls state;
};

unsigned __stdcall RequestThreadMain(void* parameter) {
  RequestThreadStart* start = static_cast<RequestThreadStart*>(parameter);
  SharedCalls state = start->state;
  delete start;
  for (;;) {
    state->start.Wait();
    std::unique_ptr<RequestCall> call;
    {
      platform::AutoLock lock(state->lock);
      if (state->quit) return 0;
      call = std::move(state->call);
    }
    if (call) call->Run();
    state->done.Set();
  }
}

// Keeps what an open makes in the state, where the waiting side's close finds it (or, if
// that close came first, closes it at once). It holds a reference of its own to the state,
// so nothing it is given has to outlive it.
class KeepInState final : public HandleKeeper {
 public:
  explicit KeepInState(const SharedCalls& state) : state_(state) {}
  bool Keep(HINTERNET handle, bool is_request) override {
    platform::AutoLock lock(state_->lock);
    if (state_->closed) {
      // The caller stopped waiting: nobody reads the results any more.
      state_->api->CloseHandle(handle);
      return false;
    }
    (is_request ? state_->request : state_->connection) = handle;
    return true;
  }

 private:
  SharedCalls state_;
};

class SystemTicks : public TickSource {
 public:
  uint32_t Now() override { return GetTickCount(); }
};

bool IsSignalled(HANDLE event) {
  return event != nullptr && WaitForSingleObject(event, 0) != WAIT_TIMEOUT;
}

// Decimal digits at the front of `text`, as a number; false without digits or on overflow.
bool TakeNumber(std::string_view* text, uint64_t* value) {
  size_t n = 0;
  uint64_t number = 0;
  while (n < text->size() && (*text)[n] >= '0' && (*text)[n] <= '9') {
    uint64_t digit = static_cast<uint64_t>((*text)[n] - '0');
    if (number > (UINT64_MAX - digit) / 10) return false;
    number = number * 10 + digit;
    ++n;
  }
  if (n == 0) return false;
  *value = number;
  text->remove_prefix(n);
  return true;
}

bool TakeChar(std::string_view* text, char c) {
  if (text->empty() || (*text)[0] != c) return false;
  text->remove_prefix(1);
  return true;
}

void UpdateProgress(uint32_t done, uint32_t total, uint32_t elapsed, uint32_t* last_estimate_tick,
                    DownloadObserver* observer) {
  if (total == 0) return;
  if (observer != nullptr) {
    observer->SetProgress(static_cast<float>(done) / static_cast<float>(total));
  }
  if (done == 0 || elapsed - *last_estimate_tick < kEstimateIntervalMs) return;
  // A server that sends more than it announced must not wrap the estimate around.
  uint64_t left = done < total ? total - done : 0;
  uint64_t remaining_s = static_cast<uint64_t>(elapsed) * left / done / 1000;
  if (remaining_s >= DownloadObserver::kNoEstimate) remaining_s = DownloadObserver::kNoEstimate - 1;
  if (observer != nullptr) {
    if (elapsed / 1000 + remaining_s >= kSlowDownloadSeconds) observer->OnSlowDownload();
    observer->SetRemainingTime(static_cast<uint32_t>(remaining_s),
                               DownloadObserver::kTimeEstimate);
  }
  *last_estimate_tick = elapsed;
}

bool RunDownloadWithProgress(TickSource* ticks, const std::wstring& url, DownloadSink& sink,
                             HANDLE cancel_event, DownloadObserver* observer,
                             DownloadOutcome* outcome, const DownloadOptions& options) {
  HttpDownloader downloader(options.api ? options.api : InternetApi::Default());
  downloader.SetBounds(options.bounds);
  downloader.SetCancelEvent(cancel_event);
  downloader.SetResume(options.resume_total, options.resume_validator);
  downloader.SetStrictRevocation(options.strict_revocation);
  downloader.SetObserver(observer);
  bool result = false;
  if (downloader.OpenDownload(url, sink)) {
    if (observer != nullptr && sink.bytes_written() == 0) {
      observer->SetProgress(0.0f);
      observer->SetRemainingTime(DownloadObserver::kNoEstimate, DownloadObserver::kTimeStart);
    }
    uint32_t start = ticks->Now();
    uint32_t last_estimate_tick = 0;
    bool cancelled = false;
    for (;;) {
      if (IsSignalled(cancel_event)) {
        cancelled = true;
        break;
      }
      if (downloader.ReadChunk() == 0) break;
      UpdateProgress(sink.bytes_written(), downloader.content_length(), ticks->Now() - start,
                     &last_estimate_tick, observer);
    }
    if (!cancelled) {
      result = downloader.FinalizeDownload();
      if (result && observer != nullptr) {
        observer->SetProgress(1.0f);
        observer->SetRemainingTime(0, DownloadObserver::kTimeFinished);
      }
    }
  }
  if (outcome != nullptr) *outcome = downloader.outcome();
  return result;
}

}  // namespace

bool IsUsableValidator(std::string_view validator) {
  if (validator.empty() || validator.size() > kMaxValidatorChars) return false;
  for (char c : validator) {
    if (c < 0x20 || c > 0x7E) return false;
  }
  // A weak ETag cannot name the bytes of a range (RFC 9110, 13.1.5).
  return validator.substr(0, 2) != "W/";
}

std::string PickValidator(std::string_view etag, std::string_view last_modified) {
  if (etag.size() >= 2 && etag.front() == '"' && etag.back() == '"' && IsUsableValidator(etag)) {
    return std::string(etag);
  }
  if (IsUsableValidator(last_modified) && last_modified.front() != '"') {
    return std::string(last_modified);
  }
  return std::string();
}

bool ParseContentRange(std::string_view text, uint64_t* first, uint64_t* last, uint64_t* total) {
  constexpr std::string_view kUnit = "bytes ";
  if (text.substr(0, kUnit.size()) != kUnit) return false;
  text.remove_prefix(kUnit.size());
  uint64_t a = 0, b = 0, t = 0;
  if (!TakeNumber(&text, &a) || !TakeChar(&text, '-') || !TakeNumber(&text, &b) ||
      !TakeChar(&text, '/') || b < a) {
    return false;
  }
  if (!TakeChar(&text, '*') && (!TakeNumber(&text, &t) || t <= b)) return false;
  if (!text.empty()) return false;
  *first = a;
  *last = b;
  *total = t;
  return true;
}

HttpDownloader::HttpDownloader() : HttpDownloader(InternetApi::Default()) {}

HttpDownloader::HttpDownloader(InternetApi* api) : api_(api), calls_(new SharedCalls) {
  (*calls_)->api = api;
}

HttpDownloader::~HttpDownloader() {
  CloseHandles();
  EndRequestThread();
  // An idle thread ends at once; one left behind ends when WinINet gives its call back.
  if (request_thread_ && !thread_left_behind_) WaitForSingleObject(request_thread_.get(), INFINITE);
  delete calls_;
}

void HttpDownloader::EndRequestThread() {
  // A call handed over but not taken yet (the thread wakes once for both signals) holds the
  // state itself; it goes now, or the two would keep each other alive for good.
  std::unique_ptr<RequestCall> untaken;
  {
    platform::AutoLock lock((*calls_)->lock);
    (*calls_)->quit = true;
    untaken = std::move((*calls_)->call);
  }
  (*calls_)->start.Set();
}

bool HttpDownloader::StartRequestThread() {
  if (thread_left_behind_) {
    // The old thread keeps the old state; this download gets its own.
    EndRequestThread();
    delete calls_;
    calls_ = new SharedCalls;
    (*calls_)->api = api_;
    request_thread_.reset();
    thread_left_behind_ = false;
  }
  if (request_thread_) return true;
  auto* start = new RequestThreadStart{*calls_};
  // A thread may be left behind in WinINet until the process ends: it reserves a small
  // stack, not the 2 MB the linker gives every thread.
  uintptr_t thread = _beginthreadex(nullptr, kRequestThreadStackBytes, &RequestThreadMain, start,
                                    STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (thread == 0) {
    delete start;
    return false;
  }
  request_thread_.reset(reinterpret_cast<HANDLE>(thread));
  return true;
}

HttpDownloader::CallEnd HttpDownloader::RunCall(const char* operation,
                                                std::unique_ptr<RequestCall> call,
                                                uint32_t bound_ms) {
  SharedCalls& state = *calls_;
  if (bounds_.total_ms != 0) {
    uint32_t spent = GetTickCount() - request_start_;
    uint32_t left = spent < bounds_.total_ms ? bounds_.total_ms - spent : 0;
    if (bound_ms == 0 || left < bound_ms) bound_ms = left;
    if (bound_ms == 0) {
      effective_bound_ms_ = bounds_.total_ms;
      return CallEnd::kTimedOut;
    }
  }
  effective_bound_ms_ = bound_ms;
  // A stop that came first starts nothing more.
  if (IsSignalled(cancel_event_)) return CallEnd::kCancelled;
  {
    platform::AutoLock lock(state->lock);
    state->call = std::move(call);
  }
  state->start.Set();
  HANDLE waits[2] = {state->done.handle(), cancel_event_};
  DWORD count = cancel_event_ != nullptr ? 2 : 1;
  DWORD waited = WaitForMultipleObjects(count, waits, FALSE, bound_ms == 0 ? INFINITE : bound_ms);
  if (waited == WAIT_OBJECT_0) return CallEnd::kReturned;
  const CallEnd end = waited == WAIT_OBJECT_0 + 1 ? CallEnd::kCancelled : CallEnd::kTimedOut;
  // Closing the handles makes WinINet cancel what is pending and give the call back. A call
  // that read its handle just before and has not reached WinINet yet finds it closed (or, in
  // the worst case, its value reused by another request of this process): cancel by close
  // cannot rule that out, and the call then fails or reads bytes nobody uses.
  CloseHandles();
  if (!state->done.WaitFor(kCloseGraceMs)) {
    LOG(ERROR, operation) << "WinINet did not give the call back within " << kCloseGraceMs
                          << " ms of closing its request; it is left behind: " << url_;
    thread_left_behind_ = true;
  }
  return end;
}

template <typename Result, typename Work>
HttpDownloader::CallEnd HttpDownloader::CallOnRequestThread(const char* operation,
                                                            HINTERNET DownloadCallState::*which,
                                                            Work work, uint32_t bound_ms,
                                                            Result* result) {
  struct Call final : RequestCall {
    Call(const SharedCalls& state, HINTERNET DownloadCallState::*which, Work work, Result* result)
        : state(state), which(which), work(std::move(work)), result(result) {}
    void Run() override {
      HINTERNET handle;
      {
        platform::AutoLock lock(state->lock);
        handle = (*state).*which;
      }
      Result value = work(handle);
      platform::AutoLock lock(state->lock);
      if (!state->closed) *result = std::move(value);
    }
    SharedCalls state;
    HINTERNET DownloadCallState::*which;
    Work work;
    Result* result;
  };
  return RunCall(operation, std::make_unique<Call>(*calls_, which, std::move(work), result),
                 bound_ms);
}

void HttpDownloader::CloseHandles() {
  HINTERNET session = nullptr;
  HINTERNET connection = nullptr;
  HINTERNET request = nullptr;
  {
    platform::AutoLock lock((*calls_)->lock);
    std::swap(session, (*calls_)->session);
    std::swap(connection, (*calls_)->connection);
    std::swap(request, (*calls_)->request);
    (*calls_)->closed = true;
  }
  DWORD saved = GetLastError();
  if (request != nullptr) api_->CloseHandle(request);
  if (connection != nullptr) api_->CloseHandle(connection);
  if (session != nullptr) api_->CloseHandle(session);
  SetLastError(saved);
}

HINTERNET HttpDownloader::request() const {
  platform::AutoLock lock((*calls_)->lock);
  return (*calls_)->request;
}

void HttpDownloader::ResetState() {
  url_.clear();
  // A reused downloader must not report an exception of its previous download.
  outcome_ = DownloadOutcome();
  sink_ = nullptr;
  resume_offset_ = 0;
  validator_.clear();
  ended_at_limit_ = false;
  pending_read_error_ = 0;
  answer_ok_ = false;
  answer_checked_ = false;
  partial_answer_ = false;
  expected_total_ = 0;
  CloseHandles();
}

void HttpDownloader::RecordError(const wchar_t* tag) {
  const DWORD error = GetLastError();
  outcome_.error = tag;
  outcome_.error += platform::ToWString(error);
}

void HttpDownloader::RecordEarlyEnd(const char* operation, const wchar_t* tag, CallEnd end) {
  SetLastError(end == CallEnd::kCancelled ? ERROR_INTERNET_OPERATION_CANCELLED
                                          : ERROR_INTERNET_TIMEOUT);
  RecordError(tag);
  if (end == CallEnd::kCancelled) {
    logging::LogWithValue(logging::kINFO, operation, __LINE__, "Request cancelled: ", url_);
  } else {
    LOG(ERROR, operation) << "No answer from the server within " << effective_bound_ms_
                          << " ms; the request is closed: " << url_;
  }
}

bool HttpDownloader::QueryNumber(DWORD info_level, DWORD* value) const {
  HINTERNET handle = request();
  if (handle == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  DWORD number = 0;
  DWORD length = sizeof(number);
  if (!api_->QueryInfo(handle, info_level | HTTP_QUERY_FLAG_NUMBER, &number, &length, nullptr)) {
    return false;
  }
  *value = number;
  return true;
}

std::string HttpDownloader::QueryText(DWORD info_level) const {
  HINTERNET handle = request();
  std::string joined;
  DWORD index = 0;
  // WinINet moves `index` on to the next value of the header; a few are plenty.
  for (int values = 0; handle != nullptr && values < 8; ++values) {
    char text[512];
    DWORD length = sizeof(text) - 1;
    const DWORD asked = index;
    if (!api_->QueryInfo(handle, info_level, text, &length, &index)) break;
    if (!joined.empty()) joined += ", ";
    joined.append(text, length < sizeof(text) ? length : sizeof(text) - 1);
    if (index == asked) break;
  }
  return joined;
}

bool HttpDownloader::OpenDownload(const std::wstring& url, DownloadSink& sink) {
  ResetState();
  url_ = url;
  if (OpenRequest(url, sink)) return true;
  CloseHandles();
  url_.clear();
  return false;
}

bool HttpDownloader::OpenRequest(const std::wstring& url, DownloadSink& sink) {
  if (!api_->Load(&outcome_.exception)) {
    LOG(ERROR, "OpenDownload") << "WinINet cannot be loaded to open url " << url << ": "
                               << DescribeException(outcome_.exception);
    return false;
  }
  if (!StartRequestThread()) {
    RecordError(L"internet_open-");
    return false;
  }
  SharedCalls state = *calls_;
  request_start_ = GetTickCount();

  HINTERNET internet = api_->Open(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (internet == nullptr) {
    RecordError(L"internet_open-");
    return false;
  }
  {
    platform::AutoLock lock(state->lock);
    state->session = internet;
    state->closed = false;
  }
  if (api_->SetStatusCallback(internet, &StatusCallback) == INTERNET_INVALID_STATUS_CALLBACK) {
    logging::LogText(logging::kERROR, "OpenDownload", __LINE__, "SetStatusCallback failed");
  }
  // WinINet's own time-outs at the same bound let a stalled socket give its call back by
  // itself, so that closing it (which Wine's WinINet does not honour while a call waits)
  // is seldom needed. Where they are refused, the bound still holds.
  DWORD timeout = bounds_.open_ms > bounds_.read_ms ? bounds_.open_ms : bounds_.read_ms;
  if (bounds_.total_ms != 0 && (timeout == 0 || bounds_.total_ms < timeout)) {
    timeout = bounds_.total_ms;
  }
  if (timeout != 0) {
    for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                         INTERNET_OPTION_RECEIVE_TIMEOUT}) {
      api_->SetOption(internet, option, &timeout, sizeof(timeout));
    }
  }

  // A sink that holds bytes asks for the rest; If-Range makes a server whose file changed
  // since answer with the whole new one instead of its rest.
  const uint32_t offset = sink.bytes_written();
  std::wstring headers = kAcceptAnyHeader;
  if (offset > 0) {
    headers += L"\r\nRange: bytes=";
    headers += platform::ToWString(offset);
    headers += L'-';
    if (!resume_validator_.empty()) {
      headers += L"\r\nIf-Range: ";
      headers += platform::Widen(resume_validator_);
    }
    resume_offset_ = offset;
  }

  // Opens the URL on the request thread; what it makes is kept in the state (`KeepInState`).
  const DWORD_PTR context = reinterpret_cast<DWORD_PTR>(&*state);
  struct OpenResult {
    RelaxedSend sent = RelaxedSend::kFailed;
    DWORD error = 0;
    SehExceptionInfo exception;
  };
  OpenResult open;
  for (int round = 0; round < 2; ++round) {
    state->redirect_target[0] = L'\0';
    auto work = [state, url, headers, round, context](HINTERNET session) {
      OpenResult result;
      if (session == nullptr) {
        result.error = ERROR_INVALID_HANDLE;
        return result;
      }
      KeepInState keep(state);
      result.sent = OpenUrlGuarded(state->api, session, url, headers, context, round > 0, keep,
                                   &result.exception);
      result.error = GetLastError();
      return result;
    };
    CallEnd end = CallOnRequestThread("OpenDownload", &DownloadCallState::session, work,
                                      bounds_.open_ms, &open);
    if (end != CallEnd::kReturned) {
      RecordEarlyEnd("OpenDownload", L"internet_open_url-", end);
      return false;
    }
    // Only now: a call left behind may still be writing it.
    outcome_.final_url = state->redirect_target;
    if (open.exception.code != 0) {
      outcome_.exception = open.exception;
      LOG(ERROR, "OpenDownload") << "An attempt to open url " << url
                                 << " generated an exception " << open.exception.code;
      return false;
    }
    // A download that only TLS vouches for (`SetStrictRevocation`) fails here.
    if (round > 0 || strict_revocation_ ||
        !RetryWithoutRevocationCheck(open.sent, open.error, "OpenDownload", url)) {
      break;
    }
  }
  api_->SetStatusCallback(internet, nullptr);
  if (open.sent != RelaxedSend::kSent) {
    DWORD open_error = open.error;
    if (open.sent == RelaxedSend::kNotRelaxed) {
      LOG(ERROR, "OpenDownload") << "The request refused to relax the revocation check (error "
                                 << open_error << "): " << url;
      open_error = ERROR_INTERNET_SEC_CERT_REV_FAILED;
    }
    SetLastError(open_error);
    RecordError(L"internet_open_url-");
    return false;
  }

  DWORD status = 0;
  if (QueryNumber(HTTP_QUERY_STATUS_CODE, &status) && status == HTTP_STATUS_PROXY_AUTH_REQ &&
      !AnswerProxyAuthentication()) {
    return false;
  }

  sink_ = &sink;
  window_start_ = GetTickCount();
  window_bytes_ = 0;
  logging::LogWithValue(logging::kINFO, "OpenDownload", __LINE__, "Connection established: ", url);
  return true;
}

bool HttpDownloader::AnswerProxyAuthentication() {
  SharedCalls state = *calls_;
  const std::string challenge = QueryText(HTTP_QUERY_PROXY_AUTHENTICATE);
  for (int prompt = 0;; ++prompt) {
    DWORD status = 0;
    if (!QueryNumber(HTTP_QUERY_STATUS_CODE, &status) || status != HTTP_STATUS_PROXY_AUTH_REQ) {
      return true;
    }
    // Schemes WinINet answers with the logged-on user's credentials (NTLM, Negotiate) never
    // get here unless the proxy refused those; the log names what the proxy asked for.
    auto give_up = [&](const char* because) {
      outcome_.proxy_auth_required = true;
      SetLastError(ERROR_INTERNET_INCORRECT_PASSWORD);
      RecordError(L"proxy_auth-407-");
      LOG(ERROR, "OpenDownload") << "The proxy answered 407 " << QueryText(HTTP_QUERY_STATUS_TEXT)
                                 << " (Proxy-Authenticate: " << challenge << ") and no credentials "
                                 << because << ": " << url_;
      return false;
    };
    if (prompt == kMaxProxyPrompts) return give_up("it accepts were given");
    // The prompt wants the answer read to its end, so the connection can be used again.
    for (int i = 0; i < kMaxDrainReads; ++i) {
      auto drain = [state](HINTERNET handle) {
        DWORD got = 0;
        return handle && state->api->ReadFile(handle, state->buffer, kBufferSize, &got) &&
               got > 0;
      };
      bool more = false;
      CallEnd end = CallOnRequestThread("OpenDownload", &DownloadCallState::request, drain,
                                        bounds_.read_ms, &more);
      if (end != CallEnd::kReturned) {
        RecordEarlyEnd("OpenDownload", L"internet_read-", end);
        return false;
      }
      if (!more) break;
    }
    const DWORD answer = observer_ != nullptr
                             ? observer_->AskProxyCredentials(api_, request(), cancel_event_)
                             : ERROR_NOT_SUPPORTED;
    if (answer == ERROR_NOT_SUPPORTED) return give_up("can be asked for without a window");
    LOG(INFO, "OpenDownload") << "The proxy asked for credentials (407, Proxy-Authenticate: "
                              << challenge << "); the user was asked.";
    if (answer != ERROR_INTERNET_FORCE_RETRY && IsSignalled(cancel_event_)) {
      RecordEarlyEnd("OpenDownload", L"proxy_auth-407-", CallEnd::kCancelled);
      return false;
    }
    if (answer != ERROR_INTERNET_FORCE_RETRY) {
      // Asking again at the next attempt would only repeat the question just declined.
      outcome_.proxy_auth_required = true;
      SetLastError(answer == ERROR_SUCCESS ? ERROR_CANCELLED : answer);
      RecordError(L"proxy_auth-407-");
      logging::LogWithValue(logging::kERROR, "OpenDownload", __LINE__,
                            "The proxy's credentials prompt was cancelled: ", url_);
      return false;
    }
    struct SendResult {
      bool sent = false;
      DWORD error = 0;
    };
    auto send = [state](HINTERNET handle) {
      SendResult result;
      result.sent = handle && state->api->SendRequest(handle, nullptr);
      result.error = handle ? GetLastError() : ERROR_INVALID_HANDLE;
      return result;
    };
    SendResult sent;
    CallEnd end = CallOnRequestThread("OpenDownload", &DownloadCallState::request, send,
                                      bounds_.open_ms, &sent);
    if (end != CallEnd::kReturned) {
      RecordEarlyEnd("OpenDownload", L"http_send_request-", end);
      return false;
    }
    if (!sent.sent) {
      SetLastError(sent.error);
      RecordError(L"http_send_request-");
      return false;
    }
  }
}

bool HttpDownloader::AcceptAnswer() {
  answer_checked_ = true;
  DWORD status = 0;
  const bool has_status = QueryNumber(HTTP_QUERY_STATUS_CODE, &status);
  if (resume_offset_ > 0 && !(has_status && (status == HTTP_STATUS_OK ||
                                             status == HTTP_STATUS_PARTIAL_CONTENT))) {
    // Neither the rest nor the whole: the bytes held cannot be trusted to fit what the
    // server now has. The status check and `FinalizeDownload` record the failure.
    LogResume(status, "the file starts over at the next attempt");
    if (!sink_->Reset()) RecordError(L"write_file-");
    return outcome_.error.empty();
  }
  // Any other answer is left to the status check and `FinalizeDownload`.
  if (!has_status || (status != HTTP_STATUS_OK && status != HTTP_STATUS_PARTIAL_CONTENT) ||
      (status == HTTP_STATUS_PARTIAL_CONTENT && resume_offset_ == 0)) {
    return true;
  }
  DWORD length = 0;
  const bool has_length = QueryNumber(HTTP_QUERY_CONTENT_LENGTH, &length);
  uint64_t total = has_length ? length : 0;
  if (resume_offset_ > 0 && status == HTTP_STATUS_OK) {
    // The whole file instead of its rest: it changed (If-Range), or the server ignores
    // ranges. Its bytes start the file again, in this same attempt.
    LogResume(status, "the whole file came and starts it over");
    if (!sink_->Reset()) {
      RecordError(L"write_file-");
      return false;
    }
    resume_offset_ = 0;
  } else if (resume_offset_ > 0) {
    const std::string range = QueryText(HTTP_QUERY_CONTENT_RANGE);
    uint64_t first = 0, last = 0;
    if (!ParseContentRange(range, &first, &last, &total) || first != resume_offset_) {
      std::string why = "Content-Range ";
      why += range;
      why += " is not the rest; the file starts over";
      LogResume(status, why);
      return RefuseResume(ERROR_HTTP_INVALID_HEADER);
    }
    // "bytes first-last/*": the rest that was asked for ends the file.
    if (total == 0) total = last + 1;
    if (resume_total_ != 0 && total != resume_total_) {
      std::string why = "the file is ";
      why += platform::ToString(total);
      why += " bytes now, ";
      why += platform::ToString(resume_total_);
      why += " before; it starts over";
      LogResume(status, why);
      return RefuseResume(ERROR_HTTP_INVALID_HEADER);
    }
    LogResume(status, "the rest comes");
    partial_answer_ = true;
  }
  if (total > sink_->limit() && !sink_->stops_at_limit()) {
    outcome_.answer_too_large = true;
    LOG(ERROR, "ReadChunk") << "The answer announces " << total << " bytes, more than the "
                            << sink_->limit() << " expected of it; the download is refused.";
    SetLastError(ERROR_FILE_TOO_LARGE);
    RecordError(L"write_file-");
    return false;
  }
  // A sink that keeps only its first bytes never holds the whole of a longer answer.
  expected_total_ = total > sink_->limit() ? 0 : static_cast<uint32_t>(total);
  outcome_.content_length = expected_total_;
  answer_ok_ = true;
  validator_ = PickValidator(QueryText(HTTP_QUERY_ETAG), QueryText(HTTP_QUERY_LAST_MODIFIED));
  if (observer_ != nullptr) observer_->OnAnswerAccepted(validator_, expected_total_);
  return true;
}

void HttpDownloader::LogResume(DWORD status, std::string_view outcome) {
  std::wstring& report = outcome_.resume_report;
  report = L"resume-";
  report += platform::ToWString(status);
  report += L'-';
  report += platform::ToWString(resume_offset_);
  LOG(INFO, "ReadChunk") << "Resume at " << resume_offset_ << " of " << resume_total_
                         << " bytes: the server answered " << status << ", " << outcome << ": "
                         << url_;
}

bool HttpDownloader::RefuseResume(DWORD code) {
  if (!sink_->Reset()) {
    RecordError(L"write_file-");
    return false;
  }
  SetLastError(code);
  RecordError(L"resume_refused-");
  return false;
}

uint32_t HttpDownloader::FailRead(DWORD code, int line) {
  SetLastError(code);
  RecordError(L"internet_read-");
  logging::LogText(logging::kERROR, "ReadChunk", line, "Download chunk error.");
  return 0;
}

uint32_t HttpDownloader::EndReadEarly(CallEnd end, int line) {
  RecordEarlyEnd("ReadChunk", L"internet_read-", end);
  logging::LogText(logging::kERROR, "ReadChunk", line, "Download chunk error.");
  return 0;
}

uint32_t HttpDownloader::ReadChunk() {
  if (!outcome_.error.empty() || request() == nullptr || sink_ == nullptr || ended_at_limit_) {
    return 0;
  }
  if (pending_read_error_ != 0) return FailRead(pending_read_error_, __LINE__);
  // The headers are there once the request was opened: the answer is known before its body.
  if (!answer_checked_ && !AcceptAnswer()) return 0;
  SharedCalls state = *calls_;
  // The previous call's blocks are in the sink already: a call that never starts (a stop or
  // the total bound before it) must find nothing here to keep.
  {
    platform::AutoLock lock(state->lock);
    state->batch_bytes = 0;
  }
  struct ReadResult {
    DWORD read = 0;
    bool ok = false;
    DWORD error = 0;
  };
  auto read_blocks = [state](HINTERNET handle) {
    // Bytes read before a read failed are handed over first, the failure after them.
    ReadResult result;
    result.ok = handle != nullptr;
    result.error = handle ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
    const DWORD begin = GetTickCount();
    for (uint32_t i = 0; result.ok && i < kReadsPerCall; ++i) {
      DWORD one = 0;
      if (!state->api->ReadFile(handle, state->buffer + result.read, kBufferSize, &one)) {
        result.error = GetLastError();
        result.ok = result.read > 0;
        break;
      }
      result.read += one;
      {
        platform::AutoLock lock(state->lock);
        if (state->closed) break;
        state->batch_bytes = result.read;
      }
      // A short read handed over what had arrived: the next one would wait for the
      // server, and the bytes held here would wait with it.
      if (one < kBufferSize || GetTickCount() - begin >= kReadSliceMs) break;
    }
    return result;
  };
  ReadResult chunk;
  CallEnd end = CallOnRequestThread("ReadChunk", &DownloadCallState::request, read_blocks,
                                    bounds_.read_ms, &chunk);
  DWORD read = chunk.read;
  const DWORD read_error = chunk.error;
  if (end != CallEnd::kReturned) {
    // Blocks that came before the read that stalled are kept: a resume starts after them.
    uint32_t completed;
    {
      platform::AutoLock lock(state->lock);
      completed = state->batch_bytes;
    }
    if (answer_ok_ && completed > 0) {
      sink_->Write(state->buffer, std::min(completed, sink_->limit() - sink_->bytes_written()));
    }
    return EndReadEarly(end, __LINE__);
  }
  if (!chunk.ok) return FailRead(read_error, __LINE__);
  if (read_error != ERROR_SUCCESS) pending_read_error_ = read_error;
  // WinINet may hand over whatever arrived instead of waiting for a whole block: a server
  // that trickles bytes must still make a block's worth of progress in each read bound.
  window_bytes_ += read;
  if (bounds_.read_ms != 0 && GetTickCount() - window_start_ >= bounds_.read_ms) {
    if (window_bytes_ < kBufferSize && read > 0) {
      effective_bound_ms_ = bounds_.read_ms;
      return EndReadEarly(CallEnd::kTimedOut, __LINE__);
    }
    window_start_ = GetTickCount();
    window_bytes_ = 0;
  }
  DWORD status = 0;
  if (QueryNumber(HTTP_QUERY_STATUS_CODE, &status) && status != HTTP_STATUS_OK &&
      !(partial_answer_ && status == HTTP_STATUS_PARTIAL_CONTENT)) {
    logging::LogText(logging::kERROR, "ReadChunk", __LINE__, "HTTP request status isn't OK");
    return 0;
  }
  if (sink_->stops_at_limit() && read > sink_->limit() - sink_->bytes_written()) {
    // Only the first bytes are wanted: the body ends at the cap, and the answer counts.
    read = sink_->limit() - sink_->bytes_written();
    ended_at_limit_ = true;
  }
  if (read > 0 && !sink_->Write(state->buffer, read)) {
    outcome_.answer_too_large = GetLastError() == ERROR_FILE_TOO_LARGE;
    RecordError(L"write_file-");
    logging::LogText(logging::kERROR, "ReadChunk", __LINE__, "Write file error.");
    return 0;
  }
  // WinINet reports a connection that the server closed cleanly before the announced length
  // as the end of the body. Taken as such, a cut archive would pass for a complete download;
  // it is a failed read instead, so the attempt can be retried or resumed. A file that ends
  // up longer than its total (a resume gone wrong) is no more complete.
  if (read == 0 && expected_total_ > 0 && sink_->bytes_written() != expected_total_) {
    return FailRead(ERROR_INTERNET_CONNECTION_ABORTED, __LINE__);
  }
  return read;
}

bool HttpDownloader::FinalizeDownload() {
  if (!outcome_.error.empty()) return false;
  DWORD status = 0;
  if (QueryNumber(HTTP_QUERY_STATUS_CODE, &status) &&
      (status == HTTP_STATUS_OK || (partial_answer_ && status == HTTP_STATUS_PARTIAL_CONTENT))) {
    return true;
  }
  const DWORD error = GetLastError();
  outcome_.error = L"final_query_info-";
  outcome_.error += platform::ToWString(status);
  outcome_.error += L'-';
  outcome_.error += platform::ToWString(error);
  logging::LogWithValue(logging::kERROR, "FinalizeDownload", __LINE__,
                        "Unsuccessful download: ", url_);
  return false;
}

std::string HttpDownloader::GetHeader(std::string_view name) const {
  HINTERNET handle = request();
  if (handle == nullptr) return std::string();
  // The name goes in the buffer the value comes back in.
  std::string buffer(name);
  buffer.push_back('\0');
  DWORD length = static_cast<DWORD>(buffer.size());
  BOOL ok = api_->QueryInfo(handle, HTTP_QUERY_CUSTOM, buffer.data(), &length, nullptr);
  if (!ok) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return std::string();
    // WinINet asks for room for the value; the name must fit as well since it goes in first.
    buffer.assign(name);
    buffer.resize(length > name.size() + 1 ? length : name.size() + 1);  // zeros after it
    length = static_cast<DWORD>(buffer.size());
    ok = api_->QueryInfo(handle, HTTP_QUERY_CUSTOM, buffer.data(), &length, nullptr);
    if (!ok) return std::string();
  }
  if (length > buffer.size()) length = static_cast<DWORD>(buffer.size());
  return buffer.substr(0, length);
}

bool Download(const std::string& url, HANDLE cancel_event, DownloadSink& sink,
              HttpDownloader* downloader) {
  std::optional<HttpDownloader> own;
  if (downloader == nullptr) downloader = &own.emplace();
  downloader->SetCancelEvent(cancel_event);
  if (!downloader->OpenDownload(platform::WidenUtf8(url), sink)) return false;
  while (downloader->ReadChunk() != 0) {
    // A cancelled download must not be taken for a complete one: the caller would keep a
    // truncated file or body.
    if (IsSignalled(cancel_event)) return false;
  }
  return downloader->FinalizeDownload();
}

bool DownloadToFile(const std::string& url, const std::wstring& target, HANDLE cancel_event,
                    uint32_t limit, bool strict_revocation) {
  platform::FilePath temp_file;
  if (!platform::MakeTempFile(L"jx", &temp_file)) return false;
  const std::wstring& temp_path = temp_file.value();

  platform::ScopedKernelHandle file(CreateFileW(temp_path.c_str(), GENERIC_WRITE, 0, nullptr,
                                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    DeleteFileW(temp_path.c_str());
    return false;
  }
  bool ok;
  {
    FileSink sink(file.get(), limit);
    HttpDownloader downloader;
    downloader.SetStrictRevocation(strict_revocation);
    ok = Download(url, cancel_event, sink, &downloader);
  }
  file.reset();
  if (ok) {
    ok = MoveFileExW(temp_path.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) != FALSE;
  }
  DWORD error = GetLastError();
  DeleteFileW(temp_path.c_str());
  SetLastError(error);
  return ok;
}

bool DownloadToString(const std::string& url, HANDLE cancel_event, std::string* out,
                      HttpDownloader* downloader, uint32_t limit) {
  StringSink sink(limit);
  bool ok = Download(url, cancel_event, sink, downloader);
  if (downloader != nullptr) downloader->DetachSink();
  if (!ok) return false;
  *out = std::move(*sink.mutable_data());
  return true;
}

bool DownloadWithProgress(const std::wstring& url, DownloadSink& sink, HANDLE cancel_event,
                          DownloadObserver* observer, DownloadOutcome* outcome,
                          const DownloadOptions& options) {
  SystemTicks ticks;
  return RunDownloadWithProgress(&ticks, url, sink, cancel_event, observer, outcome, options);
}

bool DownloadWithProgressForTesting(TickSource* ticks, const std::wstring& url,
                                    DownloadSink& sink, HANDLE cancel_event,
                                    DownloadObserver* observer, DownloadOutcome* outcome,
                                    const DownloadOptions& options) {
  return RunDownloadWithProgress(ticks, url, sink, cancel_event, observer, outcome, options);
}

}  // namespace installer
