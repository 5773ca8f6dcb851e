#include "tests/support/fake_internet_api.h"

#include <delayimp.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/strings.h"

namespace test_support {

struct FakeInternetApi::Handle {
  Kind kind = Kind::kSession;
  Handle* parent = nullptr;  // stays valid: closed handles are kept until the fake goes
  INTERNET_STATUS_CALLBACK callback = nullptr;  // of a session
  std::wstring host;                            // of a connection
  INTERNET_PORT port = 0;
  std::wstring url;  // of a request, and what it was opened with
  DWORD_PTR context = 0;
  bool sent = false;
  const FakeResponse* response = nullptr;  // null for an unknown URL
  size_t position = 0;
  std::atomic<bool> closed{false};
  DWORD security_flags = 0;
  bool moved = false;  // the request's Range was answered
  size_t offset = 0;   // where to
  std::wstring headers;  // what the request was sent with
  bool resent = false;  // sent again with the credentials of the prompt
  bool credentials = false;
};

FakeInternetApi::FakeInternetApi() = default;

// Counts a call from its first to its last touch of the fake (leaving the lock included),
// so that the destructor never frees what a call still uses.
class FakeInternetApi::CallScope {
 public:
  explicit CallScope(std::atomic<int>& calls) : calls_(calls) { ++calls_; }
  ~CallScope() { --calls_; }

 private:
  std::atomic<int>& calls_;
};

FakeInternetApi::~FakeInternetApi() {
  releasing_ = true;
  while (calls_.load() > 0) Sleep(5);
}

void FakeInternetApi::SetResponse(const std::wstring& url, FakeResponse response) {
  std::vector<FakeResponse> one;
  one.push_back(std::move(response));
  SetResponses(url, std::move(one));
}

void FakeInternetApi::SetResponses(const std::wstring& url, std::vector<FakeResponse> responses) {
  platform::AutoLock lock(lock_);
  // Earlier answers stay where they are: open handles point at them.
  auto& list = responses_[url];
  opened_count_[url] = list.size();
  for (FakeResponse& response : responses) {
    list.push_back(std::make_unique<FakeResponse>(std::move(response)));
  }
}

int FakeInternetApi::open_handles() const {
  platform::AutoLock lock(lock_);
  return static_cast<int>(handles_.size());
}

FakeInternetApi::Handle* FakeInternetApi::Find(HINTERNET handle, Kind kind) const {
  for (const auto& h : handles_) {
    if (h.get() == handle && h->kind == kind) return h.get();
  }
  return nullptr;
}

bool FakeInternetApi::Hang(Handle* handle, bool ignore_close) {
  // Closing the handle or any handle it was made from ends the wait, as in WinINet.
  auto closed = [handle] {
    for (Handle* h = handle; h != nullptr; h = h->parent) {
      if (h->closed) return true;
    }
    return false;
  };
  ++hanging_;
  while (!releasing_ && (ignore_close || !closed())) Sleep(5);
  --hanging_;
  SetLastError(ERROR_INTERNET_OPERATION_CANCELLED);
  return false;
}

FakeInternetApi::Handle* FakeInternetApi::NewRequest(Handle* parent, const std::wstring& url,
                                                     DWORD_PTR context, bool handed_out) {
  auto request = std::make_unique<Handle>();
  request->kind = Kind::kRequest;
  request->parent = parent;
  request->url = url;
  request->context = context;
  auto found = responses_.find(url);
  if (found != responses_.end() && !found->second.empty()) {
    size_t& count = opened_count_[url];
    request->response = found->second[std::min(count, found->second.size() - 1)].get();
    ++count;
  }
  auto& list = handed_out ? handles_ : closed_handles_;
  list.push_back(std::move(request));
  return list.back().get();
}

void FakeInternetApi::TakeHeaders(Handle* request, const wchar_t* headers) {
  if (headers == nullptr) return;
  const std::wstring text = headers;
  request->headers += text;
  constexpr wchar_t kRange[] = L"Range: bytes=";
  const size_t at = text.find(kRange);
  if (at == std::wstring::npos) return;
  const size_t offset = wcstoul(text.c_str() + at + wcslen(kRange), nullptr, 10);
  ranges.push_back(static_cast<LONG>(offset));
  const FakeResponse* response = request->response;
  if (response == nullptr || !response->seekable || offset > response->body.size()) return;
  request->moved = true;
  request->offset = offset;
  const ResumeAnswer resume = response->resume;
  const bool from_zero =
      resume == ResumeAnswer::kRestart200 || resume == ResumeAnswer::kWrongRange206;
  request->position = from_zero ? 0 : offset;
}

bool FakeInternetApi::Send(Handle* request) {
  request->sent = true;
  if (request->response == nullptr) {
    SetLastError(ERROR_INTERNET_NAME_NOT_RESOLVED);
    return false;
  }
  const FakeResponse& response = *request->response;
  if (response.hang_open) {
    lock_.Leave();
    Hang(request, response.hang_ignores_close);
    lock_.Enter();
    return false;
  }
  Handle* session = request;
  while (session->parent != nullptr) session = session->parent;
  if (session->callback != nullptr) {
    // WinINet reports other stages too; the client must take only what it asked for.
    HINTERNET internet = reinterpret_cast<HINTERNET>(session);
    static const char kResolving[] = "localhost";
    session->callback(internet, request->context, INTERNET_STATUS_RESOLVING_NAME,
                      const_cast<char*>(kResolving), sizeof(kResolving));
    for (const std::wstring& target : response.redirects) {
      session->callback(internet, request->context, INTERNET_STATUS_REDIRECT,
                        const_cast<wchar_t*>(target.c_str()),
                        static_cast<DWORD>((target.size() + 1) * sizeof(wchar_t)));
    }
  }
  if (response.on_open) {
    // It may raise, and the client's guard then abandons this frame: neither under the lock
    // nor counted as a call.
    lock_.Leave();
    --calls_;
    response.on_open();
    ++calls_;
    lock_.Enter();
  }
  if (response.open_error != 0) {
    SetLastError(response.open_error);
    return false;
  }
  if (response.revocation_unreachable) {
    if ((request->security_flags & SECURITY_FLAG_IGNORE_REVOCATION) == 0) {
      SetLastError(ERROR_INTERNET_SEC_CERT_REV_FAILED);
      return false;
    }
    ++revocation_relaxed;
  }
  SetLastError(ERROR_SUCCESS);
  return true;
}

DWORD FakeInternetApi::StatusOf(const Handle& request) const {
  const FakeResponse& response = *request.response;
  if (response.proxy_auth && !request.resent) return HTTP_STATUS_PROXY_AUTH_REQ;
  if (request.moved && response.resume != ResumeAnswer::kRestart200 &&
      response.resume != ResumeAnswer::kSkip200) {
    return HTTP_STATUS_PARTIAL_CONTENT;
  }
  return response.status;
}

HINTERNET FakeInternetApi::Open(const wchar_t* agent_text, DWORD access, const wchar_t*,
                                const wchar_t*, DWORD) {
  platform::AutoLock lock(lock_);
  agent = agent_text ? agent_text : L"";
  access_type = access;
  if (session_error != 0) {
    SetLastError(session_error);
    return nullptr;
  }
  handles_.push_back(std::make_unique<Handle>());
  return handles_.back().get();
}

INTERNET_STATUS_CALLBACK FakeInternetApi::SetStatusCallback(HINTERNET handle,
                                                            INTERNET_STATUS_CALLBACK callback) {
  platform::AutoLock lock(lock_);
  callback_calls.push_back(callback != nullptr);
  Handle* session = Find(handle, Kind::kSession);
  if (session == nullptr || reject_callback) {
    SetLastError(ERROR_INVALID_HANDLE);
    return INTERNET_INVALID_STATUS_CALLBACK;
  }
  INTERNET_STATUS_CALLBACK previous = session->callback;
  session->callback = callback;
  return previous;
}

HINTERNET FakeInternetApi::OpenUrl(HINTERNET internet, const wchar_t* url, const wchar_t* headers,
                                   DWORD headers_length, DWORD flags, DWORD_PTR context) {
  CallScope call(calls_);
  platform::AutoLock lock(lock_);
  opens.push_back({url, headers ? headers : L"", headers_length, flags, context});
  Handle* session = Find(internet, Kind::kSession);
  if (session == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  // Listed as open only once it is handed out: an open that hangs or raises leaves none.
  Handle* request = NewRequest(session, url, context, false);
  TakeHeaders(request, headers);
  if (!Send(request)) return nullptr;
  for (auto it = closed_handles_.begin(); it != closed_handles_.end(); ++it) {
    if (it->get() == request) {
      handles_.push_back(std::move(*it));
      closed_handles_.erase(it);
      break;
    }
  }
  return request;
}

BOOL FakeInternetApi::ReadFile(HINTERNET handle, void* buffer, DWORD size, DWORD* read) {
  CallScope call(calls_);
  platform::AutoLock lock(lock_);
  ++reads;
  read_sizes.push_back(size);
  read_buffers.push_back(buffer);
  Handle* request = Find(handle, Kind::kRequest);
  if (request == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const FakeResponse& response = *request->response;
  if (StatusOf(*request) == HTTP_STATUS_PROXY_AUTH_REQ) {
    *read = 0;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
  }
  if (request->position >= response.hang_read_at) {
    lock_.Leave();
    Hang(request, response.hang_ignores_close);
    lock_.Enter();
    return FALSE;
  }
  if (request->position >= response.fail_read_at) {
    SetLastError(response.read_error);
    return FALSE;
  }
  size_t n = std::min<size_t>(size, response.body.size() - request->position);
  n = std::min(n, response.max_chunk);
  n = std::min(n, response.fail_read_at - request->position);
  n = std::min(n, response.hang_read_at - request->position);
  std::memcpy(buffer, response.body.data() + request->position, n);
  request->position += n;
  *read = static_cast<DWORD>(n);
  SetLastError(ERROR_SUCCESS);
  if (response.on_read) response.on_read(request->position);
  return TRUE;
}

BOOL FakeInternetApi::QueryInfo(HINTERNET handle, DWORD info_level, void* buffer, DWORD* length,
                                DWORD*) {
  platform::AutoLock lock(lock_);
  Handle* request = Find(handle, Kind::kRequest);
  if (request == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const FakeResponse& response = *request->response;
  DWORD level = info_level & HTTP_QUERY_HEADER_MASK;
  bool number = (info_level & HTTP_QUERY_FLAG_NUMBER) != 0;
  const DWORD status = StatusOf(*request);
  auto put_number = [&](DWORD value) {
    if (!number || *length < sizeof(DWORD)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    std::memcpy(buffer, &value, sizeof(value));
    *length = sizeof(DWORD);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
  };
  auto put_text = [&](const std::string& value) {
    if (*length < value.size() + 1) {
      *length = static_cast<DWORD>(value.size() + 1);
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return FALSE;
    }
    std::memcpy(buffer, value.c_str(), value.size() + 1);
    *length = static_cast<DWORD>(value.size());
    SetLastError(ERROR_SUCCESS);
    return TRUE;
  };
  auto not_found = [] {
    SetLastError(ERROR_HTTP_HEADER_NOT_FOUND);
    return FALSE;
  };
  // The size of the whole file as the answer announces it.
  const int64_t size = response.announced_length >= 0 ? response.announced_length
                                                       : static_cast<int64_t>(response.body.size());
  const std::string total =
      response.resume == ResumeAnswer::kUnknownTotal206 ? "*" : std::to_string(size);
  if (level == HTTP_QUERY_STATUS_CODE) return put_number(status);
  if (level == HTTP_QUERY_STATUS_TEXT) {
    return put_text(status == HTTP_STATUS_PROXY_AUTH_REQ ? "Proxy Authentication Required" : "OK");
  }
  if (level == HTTP_QUERY_PROXY_AUTHENTICATE) {
    return response.proxy_auth ? put_text("Basic realm=\"fake proxy\"") : not_found();
  }
  if (level == HTTP_QUERY_CONTENT_RANGE && status == HTTP_STATUS_PARTIAL_CONTENT) {
    size_t first = response.resume == ResumeAnswer::kWrongRange206 ? 0 : request->offset;
    return put_text("bytes " + std::to_string(first) + "-" + std::to_string(size - 1) + "/" +
                    total);
  }
  if (level == HTTP_QUERY_CONTENT_LENGTH) {
    if (status == HTTP_STATUS_PROXY_AUTH_REQ) return put_number(0);
    if (!response.send_length) return not_found();
    int64_t announced = response.announced_length >= 0
                            ? response.announced_length
                            : static_cast<int64_t>(response.body.size());
    if (status == HTTP_STATUS_PARTIAL_CONTENT && response.resume != ResumeAnswer::kWrongRange206) {
      announced -= static_cast<int64_t>(request->offset);
    }
    return put_number(static_cast<DWORD>(announced));
  }
  if (level == HTTP_QUERY_CUSTOM) {
    ++custom_queries;
    std::string name(static_cast<const char*>(buffer), strnlen(static_cast<const char*>(buffer), *length));
    auto found = response.headers.find(name);
    if (found == response.headers.end()) return not_found();
    return put_text(found->second);
  }
  return not_found();
}

BOOL FakeInternetApi::CloseHandle(HINTERNET handle) {
  platform::AutoLock lock(lock_);
  for (auto it = handles_.begin(); it != handles_.end(); ++it) {
    if (it->get() == handle) {
      const Kind kind = (*it)->kind;
      closed.push_back(kind == Kind::kRequest      ? "request"
                       : kind == Kind::kConnection ? "connection"
                                                   : "session");
      (*it)->closed = true;
      closed_handles_.push_back(std::move(*it));
      handles_.erase(it);
      return TRUE;
    }
  }
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

BOOL FakeInternetApi::QueryOption(HINTERNET handle, DWORD option, void* buffer, DWORD* length) {
  platform::AutoLock lock(lock_);
  Handle* request = Find(handle, Kind::kRequest);
  if (request == nullptr || option != INTERNET_OPTION_SECURITY_FLAGS || *length < sizeof(DWORD)) {
    SetLastError(request == nullptr ? ERROR_INTERNET_INCORRECT_HANDLE_TYPE
                                    : ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::memcpy(buffer, &request->security_flags, sizeof(DWORD));
  *length = sizeof(DWORD);
  return TRUE;
}

BOOL FakeInternetApi::SetOption(HINTERNET handle, DWORD option, void* buffer, DWORD length) {
  platform::AutoLock lock(lock_);
  // A session takes the time-outs (the fake keeps no time).
  if ((option == INTERNET_OPTION_CONNECT_TIMEOUT || option == INTERNET_OPTION_SEND_TIMEOUT ||
       option == INTERNET_OPTION_RECEIVE_TIMEOUT) &&
      length == sizeof(DWORD) && Find(handle, Kind::kSession) != nullptr) {
    return TRUE;
  }
  Handle* request = Find(handle, Kind::kRequest);
  if (request == nullptr || option != INTERNET_OPTION_SECURITY_FLAGS || length != sizeof(DWORD)) {
    SetLastError(request == nullptr ? ERROR_INTERNET_INCORRECT_HANDLE_TYPE
                                    : ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (refuse_security_flags) {
    SetLastError(ERROR_INTERNET_OPTION_NOT_SETTABLE);
    return FALSE;
  }
  std::memcpy(&request->security_flags, buffer, sizeof(DWORD));
  return TRUE;
}

HINTERNET FakeInternetApi::Connect(HINTERNET internet, const wchar_t* host, INTERNET_PORT port,
                                   DWORD_PTR) {
  platform::AutoLock lock(lock_);
  Handle* session = Find(internet, Kind::kSession);
  if (session == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  auto connection = std::make_unique<Handle>();
  connection->kind = Kind::kConnection;
  connection->parent = session;
  connection->host = host;
  connection->port = port;
  handles_.push_back(std::move(connection));
  return handles_.back().get();
}

HINTERNET FakeInternetApi::OpenRequest(HINTERNET handle, const wchar_t* object, DWORD flags,
                                       DWORD_PTR context) {
  platform::AutoLock lock(lock_);
  Handle* connection = Find(handle, Kind::kConnection);
  if (connection == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  const bool secure = (flags & INTERNET_FLAG_SECURE) != 0;
  std::wstring url = (secure ? L"https://" : L"http://") + connection->host;
  if (connection->port != (secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT)) {
    url += L":" + platform::ToWString(connection->port);
  }
  url += object;
  opens.push_back({url, L"", 0, flags, context});
  return NewRequest(connection, url, context, true);
}

BOOL FakeInternetApi::SendRequest(HINTERNET handle, const wchar_t* headers) {
  CallScope call(calls_);
  platform::AutoLock lock(lock_);
  ++sends;
  Handle* request = Find(handle, Kind::kRequest);
  if (request == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!request->sent) {
    TakeHeaders(request, headers);
    if (!opens.empty() && opens.back().url == request->url) opens.back().headers = request->headers;
    return Send(request) ? TRUE : FALSE;
  }
  // Sent again, after the credentials prompt, with the headers it had.
  if (request->credentials) request->resent = true;
  request->position = request->moved ? request->offset : 0;
  return TRUE;
}

DWORD FakeInternetApi::ErrorDlg(HWND window, HINTERNET handle, DWORD, DWORD) {
  platform::AutoLock lock(lock_);
  ++error_dlgs;
  error_dlg_windows.push_back(window);
  Handle* request = Find(handle, Kind::kRequest);
  if (request == nullptr) return ERROR_INVALID_HANDLE;
  DWORD answer = error_dlg_answer;
  if (modal_error_dlg) {
    // Modal, as the system's prompt is: the fake's other calls go on meanwhile.
    lock_.Leave();
    const int pressed = MessageBoxW(window, L"Proxy credentials", L"fake prompt", MB_OKCANCEL);
    lock_.Enter();
    answer = pressed == IDOK ? ERROR_INTERNET_FORCE_RETRY : ERROR_CANCELLED;
  }
  if (answer == ERROR_INTERNET_FORCE_RETRY) request->credentials = true;
  return answer;
}

uint32_t ScriptedTicks::Now() {
  ++calls_;
  if (values_.empty()) return 0;
  return values_[std::min<size_t>(calls_ - 1, values_.size() - 1)];
}

void RecordingObserver::SetProgress(float fraction) {
  char text[32];
  snprintf(text, sizeof(text), "progress %.4g", fraction);
  calls.push_back(text);
  if (after_call) after_call();
}

void RecordingObserver::OnSlowDownload() {
  calls.push_back("slow");
  if (after_call) after_call();
}

void RecordingObserver::SetRemainingTime(uint32_t seconds, int32_t kind) {
  calls.push_back("time " + platform::ToString(seconds) + " " + platform::ToString(kind));
  if (after_call) after_call();
}

void RaiseDelayLoadFailure(const char* dll, const char* proc, DWORD ordinal, DWORD code) {
  DelayLoadInfo info = {};
  info.cb = sizeof(info);
  info.szDll = dll;
  info.dlp.fImportByName = proc != nullptr;
  if (proc != nullptr) {
    info.dlp.szProcName = proc;
  } else {
    info.dlp.dwOrdinal = ordinal;
  }
  ULONG_PTR arguments[1] = {reinterpret_cast<ULONG_PTR>(&info)};
  RaiseException(code, 0, 1, arguments);
}

std::string PublisherPattern(size_t start, size_t end) {
  constexpr size_t kPeriod = 65521;
  std::string bytes;
  bytes.reserve(end > start ? end - start : 0);
  for (size_t i = start; i < end; ++i) {
    size_t k = i % kPeriod;
    bytes.push_back(static_cast<char>((k * 131 + (k >> 7)) & 0xFF));
  }
  return bytes;
}

}  // namespace test_support
