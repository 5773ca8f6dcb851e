#include "tests/support/fake_internet_api.h"

#include <delayimp.h>

#include <algorithm>
#include <cstring>

#include "platform/strings.h"

namespace test_support {

struct FakeInternetApi::Handle {
  bool is_request = false;
  INTERNET_STATUS_CALLBACK callback = nullptr;
  const FakeResponse* response = nullptr;
  size_t position = 0;
};

FakeInternetApi::FakeInternetApi() = default;
FakeInternetApi::~FakeInternetApi() = default;

void FakeInternetApi::SetResponse(const std::wstring& url, FakeResponse response) {
  responses_[url] = std::move(response);
}

int FakeInternetApi::open_handles() const { return static_cast<int>(handles_.size()); }

FakeInternetApi::Handle* FakeInternetApi::Find(HINTERNET handle, bool request) const {
  for (const auto& h : handles_) {
    if (h.get() == handle && h->is_request == request) return h.get();
  }
  return nullptr;
}

HINTERNET FakeInternetApi::Open(const wchar_t* agent_text, DWORD access, const wchar_t*,
                                const wchar_t*, DWORD) {
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
  callback_calls.push_back(callback != nullptr);
  Handle* session = Find(handle, false);
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
  opens.push_back({url, headers ? headers : L"", headers_length, flags, context});
  Handle* session = Find(internet, false);
  if (session == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  auto found = responses_.find(url);
  if (found == responses_.end()) {
    SetLastError(ERROR_INTERNET_NAME_NOT_RESOLVED);
    return nullptr;
  }
  const FakeResponse& response = found->second;
  if (session->callback != nullptr) {
    // WinINet reports other stages too; the client must take only redirects.
    static const char kResolving[] = "localhost";
    session->callback(internet, context, INTERNET_STATUS_RESOLVING_NAME,
                      const_cast<char*>(kResolving), sizeof(kResolving));
    for (const std::wstring& target : response.redirects) {
      session->callback(internet, context, INTERNET_STATUS_REDIRECT,
                        const_cast<wchar_t*>(target.c_str()),
                        static_cast<DWORD>((target.size() + 1) * sizeof(wchar_t)));
    }
  }
  if (response.on_open) response.on_open();
  if (response.open_error != 0) {
    SetLastError(response.open_error);
    return nullptr;
  }
  auto request = std::make_unique<Handle>();
  request->is_request = true;
  request->response = &response;
  handles_.push_back(std::move(request));
  SetLastError(ERROR_SUCCESS);
  return handles_.back().get();
}

DWORD FakeInternetApi::SetFilePointer(HINTERNET handle, LONG distance, DWORD move_method) {
  seeks.push_back(distance);
  Handle* request = Find(handle, true);
  if (request == nullptr || !request->response->seekable || move_method != FILE_BEGIN ||
      distance < 0 || static_cast<size_t>(distance) > request->response->body.size()) {
    SetLastError(request == nullptr ? ERROR_INVALID_HANDLE : request->response->seek_error);
    return INVALID_SET_FILE_POINTER;
  }
  request->position = static_cast<size_t>(distance);
  return static_cast<DWORD>(distance);
}

BOOL FakeInternetApi::ReadFile(HINTERNET handle, void* buffer, DWORD size, DWORD* read) {
  ++reads;
  read_sizes.push_back(size);
  read_buffers.push_back(buffer);
  Handle* request = Find(handle, true);
  if (request == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const FakeResponse& response = *request->response;
  if (request->position >= response.fail_read_at) {
    SetLastError(response.read_error);
    return FALSE;
  }
  size_t n = std::min<size_t>(size, response.body.size() - request->position);
  n = std::min(n, response.max_chunk);
  n = std::min(n, response.fail_read_at - request->position);
  std::memcpy(buffer, response.body.data() + request->position, n);
  request->position += n;
  *read = static_cast<DWORD>(n);
  SetLastError(ERROR_SUCCESS);
  if (response.on_read) response.on_read(request->position);
  return TRUE;
}

BOOL FakeInternetApi::QueryInfo(HINTERNET handle, DWORD info_level, void* buffer, DWORD* length,
                                DWORD*) {
  Handle* request = Find(handle, true);
  if (request == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const FakeResponse& response = *request->response;
  DWORD level = info_level & HTTP_QUERY_HEADER_MASK;
  bool number = (info_level & HTTP_QUERY_FLAG_NUMBER) != 0;
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
  if (level == HTTP_QUERY_STATUS_CODE) return put_number(response.status);
  if (level == HTTP_QUERY_CONTENT_LENGTH) {
    if (!response.send_length) {
      SetLastError(ERROR_HTTP_HEADER_NOT_FOUND);
      return FALSE;
    }
    int64_t announced = response.announced_length >= 0
                            ? response.announced_length
                            : static_cast<int64_t>(response.body.size());
    return put_number(static_cast<DWORD>(announced));
  }
  if (level == HTTP_QUERY_CUSTOM) {
    ++custom_queries;
    std::string name(static_cast<const char*>(buffer), strnlen(static_cast<const char*>(buffer), *length));
    auto found = response.headers.find(name);
    if (found == response.headers.end()) {
      SetLastError(ERROR_HTTP_HEADER_NOT_FOUND);
      return FALSE;
    }
    const std::string& value = found->second;
    if (*length < value.size() + 1) {
      *length = static_cast<DWORD>(value.size() + 1);
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return FALSE;
    }
    std::memcpy(buffer, value.c_str(), value.size() + 1);
    *length = static_cast<DWORD>(value.size());
    SetLastError(ERROR_SUCCESS);
    return TRUE;
  }
  SetLastError(ERROR_HTTP_HEADER_NOT_FOUND);
  return FALSE;
}

BOOL FakeInternetApi::CloseHandle(HINTERNET handle) {
  for (auto it = handles_.begin(); it != handles_.end(); ++it) {
    if (it->get() == handle) {
      closed.push_back((*it)->is_request ? "request" : "session");
      handles_.erase(it);
      return TRUE;
    }
  }
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
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
