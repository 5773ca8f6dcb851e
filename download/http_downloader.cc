#include "download/http_downloader.h"

#include <optional>

#include "download/seh_guard.h"
#include "platform/scoped_handle.h"
#include "platform/strings.h"
#include "startup/logging.h"

namespace installer {
namespace {

constexpr wchar_t kUserAgent[] = L"Zorvin.Browser lite installer";
constexpr uint32_t kEstimateIntervalMs = 60000;
constexpr uint64_t kSlowDownloadSeconds = 121;

// Called by WinINet on the thread inside InternetOpenUrlW, which runs in a guard. The
// request's context is the downloader's fixed redirect buffer, so the last redirect of the
// request stays there. Nothing here allocates: a fault abandons the guarded frames, and a
// heap lock taken inside them would stay taken.
void CALLBACK StatusCallback(HINTERNET, DWORD_PTR context, DWORD status, void* info, DWORD) {
  if (status != INTERNET_STATUS_REDIRECT || context == 0 || info == nullptr) return;
  auto* target = reinterpret_cast<wchar_t*>(context);
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

class SystemTicks : public TickSource {
 public:
  uint32_t Now() override { return GetTickCount(); }
};

bool IsSignalled(HANDLE event) {
  return event != nullptr && WaitForSingleObject(event, 0) != WAIT_TIMEOUT;
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

bool RunDownloadWithProgress(InternetApi* api, TickSource* ticks, const std::wstring& url,
                             DownloadSink& sink, std::wstring* error, std::wstring* final_url,
                             uint32_t* content_length, HANDLE cancel_event,
                             DownloadObserver* observer, DownloadFailureInfo* failure) {
  HttpDownloader downloader(api);
  bool result = false;
  if (!downloader.OpenDownload(url, sink)) {
    if (failure != nullptr) *failure = downloader.failure_info();
  } else {
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
  if (error != nullptr) *error = downloader.error();
  if (final_url != nullptr) *final_url = downloader.final_url();
  if (content_length != nullptr) *content_length = downloader.content_length();
  return result;
}

}  // namespace

HttpDownloader::HttpDownloader() : HttpDownloader(InternetApi::Default()) {}

HttpDownloader::HttpDownloader(InternetApi* api)
    : api_(api), buffer_storage_(kBufferSize + 31, 0) {
  uintptr_t address = reinterpret_cast<uintptr_t>(buffer_storage_.data());
  buffer_ = reinterpret_cast<uint8_t*>((address + 31) & ~static_cast<uintptr_t>(31));
}

HttpDownloader::~HttpDownloader() = default;

DownloadFailureInfo HttpDownloader::failure_info() const {
  DownloadFailureInfo info;
  info.exception_code = exception_code_;
  info.exception_dll = exception_dll_;
  info.exception_proc = exception_proc_;
  return info;
}

void HttpDownloader::ResetState() {
  url_.clear();
  error_.clear();
  final_url_.clear();
  // A reused downloader must not report an exception of its previous download.
  exception_code_ = 0;
  exception_dll_.clear();
  exception_proc_.clear();
  content_length_ = 0;
  sink_ = nullptr;
  request_.reset();
  internet_handle_.reset();
}

void HttpDownloader::RecordError(const wchar_t* tag) {
  error_ = tag + platform::ToWString(GetLastError());
}

bool HttpDownloader::QueryNumber(DWORD info_level, DWORD* value) const {
  if (!request_) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  DWORD number = 0;
  DWORD length = sizeof(number);
  if (!api_->QueryInfo(request_.get(), info_level | HTTP_QUERY_FLAG_NUMBER, &number, &length,
                       nullptr)) {
    return false;
  }
  *value = number;
  return true;
}

bool HttpDownloader::OpenDownload(const std::wstring& url, DownloadSink& sink) {
  ResetState();
  DownloadFailureInfo load_failure;
  if (!api_->Load(&load_failure)) {
    exception_code_ = load_failure.exception_code;
    exception_dll_ = load_failure.exception_dll;
    exception_proc_ = load_failure.exception_proc;
    LOG(ERROR, "OpenDownload") << "WinINet cannot be loaded to open url " << url << ": "
                               << DescribeException(load_failure);
    return false;
  }

  InternetApiHandle internet;
  internet.reset(api_, api_->Open(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!internet) {
    RecordError(L"internet_open-");
    return false;
  }
  if (api_->SetStatusCallback(internet.get(), &StatusCallback) == INTERNET_INVALID_STATUS_CALLBACK) {
    LOG(ERROR, "OpenDownload") << "SetStatusCallback failed";
  }

  HINTERNET opened = nullptr;
  DWORD open_error = 0;
  redirect_target_[0] = L'\0';
  auto open = [&] {
    opened = api_->OpenUrl(internet.get(), url.c_str(), kAcceptAnyHeader, static_cast<DWORD>(-1),
                           INTERNET_FLAG_RELOAD, reinterpret_cast<DWORD_PTR>(redirect_target_));
    open_error = GetLastError();
  };
  SehExceptionInfo raised;
  const bool returned = CallGuarded(open, &raised);
  final_url_ = redirect_target_;
  if (!returned) {
    exception_code_ = raised.code;
    exception_dll_ = raised.dll;
    exception_proc_ = raised.proc;
    LOG(ERROR, "OpenDownload") << "An attempt to open url " << url << " generated an exception "
                               << exception_code_;
    return false;
  }
  InternetApiHandle request;
  request.reset(api_, opened);
  if (!request) {
    api_->SetStatusCallback(internet.get(), nullptr);
    SetLastError(open_error);
    RecordError(L"internet_open_url-");
    return false;
  }

  uint32_t offset = sink.bytes_written();
  if (offset > 0) {
    DWORD position = api_->SetFilePointer(request.get(), static_cast<LONG>(offset), FILE_BEGIN);
    if (position != offset) {
      RecordError(L"internet_set_file_pointer-");
      sink.Reset();
    }
  }

  api_->SetStatusCallback(internet.get(), nullptr);
  url_ = url;
  sink_ = &sink;
  internet_handle_.reset(api_, internet.release());
  request_.reset(api_, request.release());
  LOG(INFO, "OpenDownload") << "Connection established: " << url;
  return true;
}

uint32_t HttpDownloader::ReadChunk() {
  if (!error_.empty() || !request_ || sink_ == nullptr) return 0;
  DWORD read = 0;
  if (!api_->ReadFile(request_.get(), buffer_, kBufferSize, &read)) {
    RecordError(L"internet_read-");
    LOG(ERROR, "ReadChunk") << "Download chunk error.";
    return 0;
  }
  DWORD status = 0;
  if (QueryNumber(HTTP_QUERY_STATUS_CODE, &status) && status != HTTP_STATUS_OK) {
    LOG(ERROR, "ReadChunk") << "HTTP request status isn't OK";
    return 0;
  }
  if (read > 0 && !sink_->Write(buffer_, read)) {
    RecordError(L"write_file-");
    LOG(ERROR, "ReadChunk") << "Write file error.";
    return 0;
  }
  if (content_length_ == 0) {
    DWORD length = 0;
    if (QueryNumber(HTTP_QUERY_CONTENT_LENGTH, &length)) content_length_ = length;
  }
  // WinINet reports a connection that the server closed cleanly before the announced length
  // as the end of the body. Taken as such, a cut archive would pass for a complete download;
  // it is a failed read instead, so the attempt can be retried or resumed.
  if (read == 0 && content_length_ > 0 && sink_->bytes_written() < content_length_) {
    SetLastError(ERROR_INTERNET_CONNECTION_ABORTED);
    RecordError(L"internet_read-");
    LOG(ERROR, "ReadChunk") << "Download chunk error.";
    return 0;
  }
  return read;
}

bool HttpDownloader::FinalizeDownload() {
  if (!error_.empty()) return false;
  DWORD status = 0;
  if (QueryNumber(HTTP_QUERY_STATUS_CODE, &status) && status == HTTP_STATUS_OK) return true;
  error_ = L"final_query_info-" + platform::ToWString(status) + L"-" +
           platform::ToWString(GetLastError());
  LOG(ERROR, "FinalizeDownload") << "Unsuccessful download: " << url_;
  return false;
}

std::string HttpDownloader::GetHeader(const std::string& name) const {
  if (!request_) return std::string();
  std::string buffer = name;
  buffer.push_back('\0');
  DWORD length = static_cast<DWORD>(buffer.size());
  BOOL ok = api_->QueryInfo(request_.get(), HTTP_QUERY_CUSTOM, buffer.data(), &length, nullptr);
  if (!ok) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return std::string();
    // WinINet asks for room for the value; the name must fit as well since it goes in first.
    size_t size = length > name.size() + 1 ? length : name.size() + 1;
    buffer.assign(size, '\0');
    buffer.replace(0, name.size(), name);
    buffer.back() = '\0';
    length = static_cast<DWORD>(buffer.size());
    ok = api_->QueryInfo(request_.get(), HTTP_QUERY_CUSTOM, buffer.data(), &length, nullptr);
    if (!ok) return std::string();
  }
  if (length > buffer.size()) length = static_cast<DWORD>(buffer.size());
  return buffer.substr(0, length);
}

bool Download(const std::string& url, HANDLE cancel_event, DownloadSink& sink,
              HttpDownloader* downloader) {
  std::optional<HttpDownloader> own;
  if (downloader == nullptr) downloader = &own.emplace();
  if (!downloader->OpenDownload(platform::WidenUtf8(url), sink)) return false;
  while (downloader->ReadChunk() != 0) {
    // A cancelled download must not be taken for a complete one: the caller would keep a
    // truncated file or body.
    if (IsSignalled(cancel_event)) return false;
  }
  return downloader->FinalizeDownload();
}

bool DownloadToFile(const std::string& url, const std::wstring& target, HANDLE cancel_event,
                    uint32_t limit) {
  wchar_t folder[MAX_PATH + 1];
  DWORD folder_length = GetTempPathW(MAX_PATH + 1, folder);
  if (folder_length == 0 || folder_length > MAX_PATH) return false;
  wchar_t short_name[MAX_PATH];
  if (GetTempFileNameW(folder, L"jx", 0, short_name) == 0) return false;
  wchar_t long_name[MAX_PATH];
  DWORD long_length = GetLongPathNameW(short_name, long_name, MAX_PATH);
  if (long_length == 0 || long_length >= MAX_PATH) {
    DeleteFileW(short_name);
    return false;
  }
  std::wstring temp_path(long_name, long_length);

  platform::ScopedKernelHandle file(CreateFileW(temp_path.c_str(), GENERIC_WRITE, 0, nullptr,
                                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    DeleteFileW(temp_path.c_str());
    return false;
  }
  bool ok;
  {
    FileSink sink(file.get(), limit);
    ok = Download(url, cancel_event, sink);
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
  out->swap(*sink.mutable_data());
  return true;
}

bool DownloadWithProgress(const std::wstring& url, DownloadSink& sink, std::wstring* error,
                          std::wstring* final_url, uint32_t* content_length,
                          HANDLE cancel_event, DownloadObserver* observer,
                          DownloadFailureInfo* failure, InternetApi* api) {
  SystemTicks ticks;
  return RunDownloadWithProgress(api ? api : InternetApi::Default(), &ticks, url, sink, error,
                                 final_url, content_length, cancel_event, observer, failure);
}

bool DownloadWithProgressForTesting(InternetApi* api, TickSource* ticks,
                                    const std::wstring& url, DownloadSink& sink,
                                    std::wstring* error, std::wstring* final_url,
                                    uint32_t* content_length, HANDLE cancel_event,
                                    DownloadObserver* observer, DownloadFailureInfo* failure) {
  return RunDownloadWithProgress(api, ticks, url, sink, error, final_url, content_length,
                                 cancel_event, observer, failure);
}

}  // namespace installer
