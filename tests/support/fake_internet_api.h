// A hand-written stand-in for WinINet, for tests of the download client that the local server
// cannot set up under Wine: a server that accepts a resume offset, a read that fails halfway,
// an exception raised inside the open, a session that cannot be opened.
//
// Each URL gets a scripted response; unknown URLs fail to open with 12007 (name not
// resolved). Handles are objects of the fake; the fake records the calls it saw and which
// handles are still open, so tests can check that every handle is closed, in which order.
// Calls may come from several threads (the client closes a request from the waiting side
// while a call on it hangs); a closed handle stays valid memory until the fake goes, and
// the fake's destructor releases every call still hanging and waits for it to leave.
#ifndef TESTS_SUPPORT_FAKE_INTERNET_API_H_
#define TESTS_SUPPORT_FAKE_INTERNET_API_H_

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "network/http_downloader.h"
#include "network/internet_api.h"
#include "platform/sync.h"

namespace test_support {

// How a `seekable` response answers a request that asks for a range ("Range: bytes=N-").
enum class ResumeAnswer {
  kRange206,         // 206, "bytes <offset>-<last>/<size>"
  kUnknownTotal206,  // 206, "bytes <offset>-<last>/*"
  kWrongRange206,    // 206 for another range (the body from byte 0)
  kRestart200,       // 200, the body from byte 0
  kSkip200,          // 200, the body from the offset (WinINet skipped the start itself)
};

struct FakeResponse {
  DWORD status = 200;
  std::string body;
  // Content-Length header: absent when false; otherwise `announced_length`, or the body size
  // when that is negative.
  bool send_length = true;
  int64_t announced_length = -1;
  // Redirect targets reported through the status callback while the URL is opened.
  std::vector<std::wstring> redirects;
  // Answers a Range header as `resume` says; otherwise the header is ignored (a 200).
  bool seekable = false;
  // InternetOpenUrlW fails with this error when not 0.
  DWORD open_error = 0;
  // InternetReadFile fails with `read_error` once the read position reaches this offset.
  size_t fail_read_at = SIZE_MAX;
  DWORD read_error = ERROR_INTERNET_CONNECTION_RESET;
  // Largest block one read delivers.
  size_t max_chunk = SIZE_MAX;
  // Custom response headers (HTTP_QUERY_CUSTOM), raw bytes.
  std::map<std::string, std::string> headers;
  // Runs inside InternetOpenUrlW, after the redirects (e.g. to raise an exception).
  std::function<void()> on_open;
  // Runs after every successful read with the read position.
  std::function<void(size_t position)> on_read;
  ResumeAnswer resume = ResumeAnswer::kRange206;
  // A server that never answers: InternetOpenUrlW, or the read at this offset, blocks until
  // the request is closed (with 12017), or for good with `hang_ignores_close`.
  bool hang_open = false;
  size_t hang_read_at = SIZE_MAX;
  bool hang_ignores_close = false;
  // The certificate authority's revocation server cannot be reached: sending fails with
  // 12057 unless SECURITY_FLAG_IGNORE_REVOCATION was set on the request before.
  bool revocation_unreachable = false;
  // A proxy that answers 407 until InternetErrorDlg took credentials and the request was
  // sent again.
  bool proxy_auth = false;
};

class FakeInternetApi : public installer::InternetApi {
 public:
  struct OpenCall {
    std::wstring url;
    std::wstring headers;
    DWORD headers_length = 0;
    DWORD flags = 0;
    DWORD_PTR context = 0;
  };

  FakeInternetApi();
  ~FakeInternetApi() override;

  void SetResponse(const std::wstring& url, FakeResponse response);
  // The answers of successive opens of `url`; the last one stays.
  void SetResponses(const std::wstring& url, std::vector<FakeResponse> responses);

  // Knobs.
  DWORD session_error = 0;       // InternetOpenW fails with it when not 0
  bool reject_callback = false;  // InternetSetStatusCallbackW answers "invalid"
  bool refuse_security_flags = false;  // InternetSetOptionW refuses SECURITY_FLAGS
  DWORD error_dlg_answer = ERROR_CANCELLED;  // what InternetErrorDlg returns
  // InternetErrorDlg shows a modal OK / Cancel box owned by its window instead (OK gives
  // credentials).
  bool modal_error_dlg = false;

  // What the fake saw.
  std::wstring agent;
  DWORD access_type = 0xFFFFFFFF;
  std::vector<OpenCall> opens;
  std::vector<LONG> ranges;  // the offsets of the Range headers requests were sent with
  int reads = 0;
  std::vector<DWORD> read_sizes;
  std::vector<const void*> read_buffers;
  int custom_queries = 0;
  // Every SetStatusCallback call: true when a callback was installed, false when removed.
  std::vector<bool> callback_calls;
  // "session" / "connection" / "request", in the order handles were closed.
  std::vector<std::string> closed;
  int error_dlgs = 0;          // InternetErrorDlg calls
  std::vector<HWND> error_dlg_windows;
  int sends = 0;               // HttpSendRequestW calls
  int revocation_relaxed = 0;  // requests created with the revocation check relaxed
  int open_handles() const;
  // Calls blocked right now as on a server that never answers.
  int hanging_calls() const { return hanging_; }

  // installer::InternetApi
  HINTERNET Open(const wchar_t* agent, DWORD access_type, const wchar_t* proxy,
                 const wchar_t* proxy_bypass, DWORD flags) override;
  INTERNET_STATUS_CALLBACK SetStatusCallback(HINTERNET handle,
                                             INTERNET_STATUS_CALLBACK callback) override;
  HINTERNET OpenUrl(HINTERNET internet, const wchar_t* url, const wchar_t* headers,
                    DWORD headers_length, DWORD flags, DWORD_PTR context) override;
  BOOL ReadFile(HINTERNET request, void* buffer, DWORD size, DWORD* read) override;
  BOOL QueryInfo(HINTERNET request, DWORD info_level, void* buffer, DWORD* length,
                 DWORD* index) override;
  BOOL CloseHandle(HINTERNET handle) override;
  BOOL QueryOption(HINTERNET handle, DWORD option, void* buffer, DWORD* length) override;
  BOOL SetOption(HINTERNET handle, DWORD option, void* buffer, DWORD length) override;
  HINTERNET Connect(HINTERNET internet, const wchar_t* host, INTERNET_PORT port,
                    DWORD_PTR context) override;
  HINTERNET OpenRequest(HINTERNET connection, const wchar_t* object, DWORD flags,
                        DWORD_PTR context) override;
  BOOL SendRequest(HINTERNET request, const wchar_t* headers) override;
  DWORD ErrorDlg(HWND window, HINTERNET request, DWORD error, DWORD flags) override;

 private:
  enum class Kind { kSession, kConnection, kRequest };
  struct Handle;
  class CallScope;
  Handle* Find(HINTERNET handle, Kind kind) const;
  // Takes the headers a request is sent with; a Range moves a `seekable` answer.
  void TakeHeaders(Handle* request, const wchar_t* headers);
  // Blocks the calling thread as a server that never answers does; false once `handle` or
  // one it was made from was closed (with 12017 as the last error).
  bool Hang(Handle* handle, bool ignore_close);
  // A request for `url`, not sent yet, with the next answer scripted for it; listed among
  // the open handles when `handed_out`.
  Handle* NewRequest(Handle* parent, const std::wstring& url, DWORD_PTR context,
                     bool handed_out);
  // Sends `request` as a server would answer it; false with the last error. Under lock_.
  bool Send(Handle* request);
  DWORD StatusOf(const Handle& request) const;

  mutable platform::CriticalLock lock_;
  std::map<std::wstring, std::vector<std::unique_ptr<FakeResponse>>> responses_;
  std::map<std::wstring, size_t> opened_count_;
  std::vector<std::unique_ptr<Handle>> handles_;
  // Closed, or never handed out: kept, since calls may still hold them.
  std::vector<std::unique_ptr<Handle>> closed_handles_;
  std::atomic<bool> releasing_{false};
  std::atomic<int> calls_{0};  // calls that may hang, in progress
  std::atomic<int> hanging_{0};
};

// A clock that returns the given values one after the other (the last one again and again).
class ScriptedTicks : public installer::TickSource {
 public:
  explicit ScriptedTicks(std::vector<uint32_t> values) : values_(std::move(values)) {}
  uint32_t Now() override;
  int calls() const { return calls_; }

 private:
  std::vector<uint32_t> values_;
  int calls_ = 0;
};

// Records what a download reports, one text per call: "progress 0.25", "slow",
// "time 40 1" (seconds, kind).
class RecordingObserver : public installer::DownloadObserver {
 public:
  void SetProgress(float fraction) override;
  void OnSlowDownload() override;
  void SetRemainingTime(uint32_t seconds, int32_t kind) override;

  std::vector<std::string> calls;
  // Runs after each call was recorded (e.g. to signal a cancel event).
  std::function<void()> after_call;
};

// Raises what the delay-load helper raises when `dll` (or its `proc`, or its `ordinal` when
// `proc` is null) cannot be loaded; `code` 0xC06D007F is its missing-procedure code.
void RaiseDelayLoadFailure(const char* dll, const char* proc, DWORD ordinal,
                           DWORD code = 0xC06D007E);

// The generated body of the fake publisher's /gen/<size> endpoint, bytes [start, end).
std::string PublisherPattern(size_t start, size_t end);

}  // namespace test_support

#endif  // TESTS_SUPPORT_FAKE_INTERNET_API_H_
