// The HTTP(S) download client: one request at a time, over WinINet, on the calling thread.
//
// `HttpDownloader` runs one download in three steps that the caller drives: `OpenDownload`
// connects and sends the request (asking for the rest when the sink already holds bytes),
// `ReadChunk` moves the blocks that arrived (up to kReadsPerCall reads of 32 KB) into the sink, and
// `FinalizeDownload` checks that the whole answer arrived. Every failure is recorded once as
// an error tag followed by the Windows error code ("internet_read-12002"); an error is
// sticky, so later steps do nothing. Nothing throws.
//
// No server can hold the caller: every blocking WinINet call runs on the downloader's own
// request thread while the caller waits for it, for its cancel event and for the bounds of
// `RequestBounds`. When the wait ends early the caller closes the request, which makes
// WinINet give the call back; a call that WinINet still holds after kCloseGraceMs is left
// behind with the state it uses, and the download has failed.
//
// A sink that holds N bytes makes the request itself ask for the rest: "Range: bytes=N-",
// with "If-Range" carrying the validator of the answer those bytes came from (a strong
// ETag, else Last-Modified; without one the range is asked for alone: the total must still
// match, and only the archive's verification decides what runs). A 206 whose Content-Range
// starts at N and whose total (the end of the range for "*") is the file's size before
// continues the file; a 200 is the whole file again (changed, or a server without ranges)
// and restarts the sink at byte 0 within the same attempt; any other answer empties the
// sink and fails the attempt. Each resume is logged in one line and named by
// `resume_report`. The file is complete only when it holds exactly the total the answer
// announced.
//
// The free functions are the drivers the rest of the program uses: `Download` (plain loop
// with a cancel event), `DownloadToFile`, `DownloadToString` and `DownloadWithProgress`
// (progress, time estimate, cancel; used for the setup archive).
#ifndef NETWORK_HTTP_DOWNLOADER_H_
#define NETWORK_HTTP_DOWNLOADER_H_

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "network/download_outcome.h"
#include "network/download_sink.h"
#include "network/internet_api.h"
#include "network/open_url_guarded.h"
#include "platform/scoped_handle.h"
#include "platform/shared_state.h"

namespace installer {

// Size caps of the answers the installer keeps, each well above any real answer: past its cap
// a download fails (the setup archive's is kMaxArchiveBytes).
inline constexpr uint32_t kMaxStatusAnswerBytes = 4096;          // the body is never used
inline constexpr uint32_t kMaxVariationsSeedBytes = 8u << 20;
inline constexpr uint32_t kMaxConfigArchiveBytes = 32u << 20;
inline constexpr uint32_t kMaxAnswerBytes = 16u << 20;           // any other answer in memory

// The longest the client waits on a server. A bound of 0 means none.
struct RequestBounds {
  uint32_t open_ms;   // connect, send the request (and any resend) and receive the headers
  uint32_t read_ms;   // one block of 32 KB (one read, or the reads of this long together)
  uint32_t total_ms;  // the whole request, from the open to the last block
};
// Files: a minute for the answer and for each block, so a link slower than about half a
// kilobyte a second counts as a dead one; no bound on the whole (a slow link is no fault).
inline constexpr RequestBounds kDownloadBounds = {60000, 60000, 0};
// Status requests, whose answer nobody reads: a few seconds in all.
inline constexpr RequestBounds kStatusRequestBounds = {4000, 4000, 4000};
// How long a call is given to return once its request was closed before it is left behind.
inline constexpr uint32_t kCloseGraceMs = 2000;
// Stack reserved for a request thread (WinINet's calls, TLS included, need far less).
inline constexpr unsigned kRequestThreadStackBytes = 256 * 1024;
// Credential prompts shown for one request before the download gives up.
inline constexpr int kMaxProxyPrompts = 3;

// The validator a resume may name in If-Range: `etag` when it is a strong one (quoted, not
// "W/"), else `last_modified`; empty when neither is usable (see `IsUsableValidator`).
std::string PickValidator(std::string_view etag, std::string_view last_modified);
// A validator that may go into a request header: 1 to kMaxValidatorChars printable ASCII
// characters (no CR, LF or other control), and an ETag only in its strong form.
bool IsUsableValidator(std::string_view validator);
inline constexpr size_t kMaxValidatorChars = 200;

// Parses a Content-Range value "bytes <first>-<last>/<total>" (total "*" is 0). False for
// anything else, for last < first and for a known total not above last.
bool ParseContentRange(std::string_view text, uint64_t* first, uint64_t* last, uint64_t* total);

// Receives the progress of `DownloadWithProgress`. Called on the downloading thread.
class DownloadObserver {
 public:
  // Remaining-time kinds.
  static constexpr int32_t kTimeStart = 0;
  static constexpr int32_t kTimeEstimate = 1;
  static constexpr int32_t kTimeFinished = 2;
  // Seconds value meaning "no estimate yet".
  static constexpr uint32_t kNoEstimate = 0xFFFFFFFF;

  virtual ~DownloadObserver() = default;
  // Fraction of the announced length held by the sink, 0.0 .. 1.0.
  virtual void SetProgress(float fraction) = 0;
  // The download is expected to take two minutes or more in all.
  virtual void OnSlowDownload() = 0;
  virtual void SetRemainingTime(uint32_t seconds, int32_t kind) = 0;
  // The answer was taken: its bytes go into the sink (from byte 0, or after the bytes held
  // for a resume), they belong to a file of `total` bytes (0: unknown) and `validator`
  // (may be empty) names its version for a later resume.
  virtual void OnAnswerAccepted(const std::string& validator, uint32_t total) {}
  // A proxy asked for credentials (407) on the open `request` of `api`: the user's answer
  // to the system's prompt (see `ProgressListener::AskProxyCredentials`), or
  // ERROR_NOT_SUPPORTED where nobody can be asked (the default).
  virtual DWORD AskProxyCredentials(InternetApi* api, HINTERNET request, HANDLE cancel_event) {
    return ERROR_NOT_SUPPORTED;
  }
};

// Milliseconds clock of the progress loop (GetTickCount in production).
class TickSource {
 public:
  virtual ~TickSource() = default;
  virtual uint32_t Now() = 0;
};

// What the downloader shares with its request thread (defined in http_downloader.cc).
struct DownloadCallState;
// One call for the request thread (http_downloader.cc).
struct RequestCall;

class HttpDownloader {
 public:
  // Size of one read.
  static constexpr uint32_t kBufferSize = 32768;
  // Reads the request thread makes for one `ReadChunk` while each comes back full: each
  // hand-over between the threads costs more than the read itself. A read is not started
  // after a short one or once kReadSliceMs have passed since the first, so no read has
  // less of its bound and no byte waits for the next.
  static constexpr uint32_t kReadsPerCall = 8;
  static constexpr uint32_t kReadSliceMs = 20;
  // Longest redirect target kept, with its terminator (INTERNET_MAX_URL_LENGTH).
  static constexpr size_t kMaxRedirectChars = 2084;

  // Uses WinINet.
  HttpDownloader();
  // Uses `api` (not owned, must outlive the downloader); for tests.
  explicit HttpDownloader(InternetApi* api);
  ~HttpDownloader();
  HttpDownloader(const HttpDownloader&) = delete;
  HttpDownloader& operator=(const HttpDownloader&) = delete;

  // Bounds of the requests opened after this call (kDownloadBounds until then).
  void SetBounds(const RequestBounds& bounds) { bounds_ = bounds; }
  // An event (may be null; borrowed) that ends the request in progress at once.
  void SetCancelEvent(HANDLE cancel_event) { cancel_event_ = cancel_event; }
  // What the sink's bytes belong to, for the next resume: the file's size (0: unknown) and
  // the validator of the answer they came from (empty: none; see `IsUsableValidator`).
  void SetResume(uint32_t total, const std::string& validator) {
    resume_total_ = total;
    resume_validator_ = IsUsableValidator(validator) ? validator : std::string();
  }
  // No second try without the revocation check (12057) for the requests opened after this
  // call: for a download that nothing but TLS vouches for.
  void SetStrictRevocation(bool strict) { strict_revocation_ = strict; }
  // Who asks the user for a proxy's credentials (407); null (the default), or an observer
  // that cannot ask, means the request fails and `proxy_auth_required` says so. Borrowed.
  void SetObserver(DownloadObserver* observer) { observer_ = observer; }

  // Starts a fresh download of `url` into `sink` (borrowed; must outlive the reads). False
  // when WinINet cannot be loaded, the session or the request cannot be opened in its
  // bounds, or opening raised an exception (see `outcome`). A certificate whose
  // revocation cannot be checked (12057) is tried once more without that check, logged;
  // every other certificate error stays fatal (unless `SetStrictRevocation`). When the sink
  // holds bytes the request asks for the rest (see the file comment).
  bool OpenDownload(const std::wstring& url, DownloadSink& sink);
  // Reads what arrived into the sink. Returns the bytes stored, 0 at the end of the body or on
  // any error (a status other than 200, or 206 for a resume, is left for `FinalizeDownload`
  // to record). A body that ends with fewer bytes than the announced total is a failed read
  // ("internet_read-12030"); a total past the sink's cap fails at once ("write_file-223"),
  // unless the sink keeps only its first bytes (`DownloadSink::stops_at_limit`): its body
  // then ends at the cap.
  uint32_t ReadChunk();
  // True only if no error was recorded and the answer was a 200 (or the 206 of a resume).
  bool FinalizeDownload();
  // One response header of the open request as raw bytes; empty when absent.
  std::string GetHeader(std::string_view name) const;

  const std::wstring& url() const { return url_; }
  // The attempt so far (see network/download_outcome.h); `proxy_auth_required` when the
  // proxy asked for credentials (407) and none were given (no window, prompt cancelled or
  // the proxy refused what was given).
  const DownloadOutcome& outcome() const { return outcome_; }
  const std::wstring& error() const { return outcome_.error; }
  const std::wstring& final_url() const { return outcome_.final_url; }
  uint32_t content_length() const { return outcome_.content_length; }
  // The validator of the answer taken (see `PickValidator`); empty until then.
  const std::string& validator() const { return validator_; }
  DownloadSink* sink() const { return sink_; }
  // Forgets the sink (for a caller whose sink goes away while the response headers are still
  // wanted); later `ReadChunk` calls return 0.
  void DetachSink() { sink_ = nullptr; }

 private:
  enum class CallEnd { kReturned, kCancelled, kTimedOut };

  void ResetState();
  void RecordError(const wchar_t* tag);
  // Records `tag` with the code of a call that did not return in time (12002) or was
  // cancelled (12017), and logs which bound passed.
  void RecordEarlyEnd(const char* operation, const wchar_t* tag, CallEnd end);
  bool QueryNumber(DWORD info_level, DWORD* value) const;
  // A response header's text; every value of a repeated header, joined by ", ".
  std::string QueryText(DWORD info_level) const;
  // Runs `call` on the request thread; waits for it, the cancel event and `bound_ms` (cut
  // to what is left of the whole request's bound). `operation` names the caller in the log.
  CallEnd RunCall(const char* operation, std::unique_ptr<RequestCall> call, uint32_t bound_ms);
  // A call on the request thread (`RunCall`): `work(handle)`, with `handle` the state's
  // `which` (session or request) as it is when the call starts (null once closed), returns
  // a `Result`; it reaches `*result` only while the waiting side still waits, so a call left
  // behind writes nowhere. `*result` is untouched unless the call returned.
  template <typename Result, typename Work>
  CallEnd CallOnRequestThread(const char* operation, HINTERNET DownloadCallState::*which,
                              Work work, uint32_t bound_ms, Result* result);
  bool StartRequestThread();
  // Tells the request thread to end once it is idle, and drops a call it has not taken.
  void EndRequestThread();
  // The open itself; `OpenDownload` closes what it left open when it fails.
  bool OpenRequest(const std::wstring& url, DownloadSink& sink);
  void CloseHandles();
  HINTERNET request() const;
  // After a 407: the credentials prompt and the request sent again, while the user gives
  // credentials and the proxy refuses them. False with the error recorded.
  bool AnswerProxyAuthentication();
  // At the first block: works out what the answer holds (see the file comment). False with
  // the error recorded.
  bool AcceptAnswer();
  // A failed read: records "internet_read-" + `code`, or the early end, and logs it at the
  // caller's `line`, which tells the causes apart; 0.
  uint32_t FailRead(DWORD code, int line);
  uint32_t EndReadEarly(CallEnd end, int line);
  // Empties the sink and fails the attempt ("resume_refused-" + `code`).
  bool RefuseResume(DWORD code);
  // The one log line of a resume and its report.
  void LogResume(DWORD status, std::string_view outcome);

  InternetApi* api_;
  RequestBounds bounds_ = kDownloadBounds;
  HANDLE cancel_event_ = nullptr;
  DownloadObserver* observer_ = nullptr;
  // Shared with the request thread, which may outlive the downloader; replaced when a thread
  // was left behind.
  platform::SharedState<DownloadCallState>* calls_ = nullptr;
  uint32_t effective_bound_ms_ = 0;  // the bound of the last call
  platform::ScopedKernelHandle request_thread_;
  bool thread_left_behind_ = false;
  uint32_t request_start_ = 0;  // GetTickCount at the open, for the total bound
  uint32_t window_start_ = 0;   // the bytes read since this tick must reach a block
  uint32_t window_bytes_ = 0;
  uint32_t resume_offset_ = 0;  // the offset the request asked for, 0 without a resume
  uint32_t resume_total_ = 0;
  std::string resume_validator_;
  bool strict_revocation_ = false;
  std::string validator_;
  bool ended_at_limit_ = false;  // the sink keeps no more: the body ends here
  bool answer_ok_ = false;         // a 200, or the 206 of a resume that was taken
  DWORD pending_read_error_ = 0;   // a read failed after the bytes last handed over
  bool answer_checked_ = false;
  bool partial_answer_ = false;  // the answer is a 206
  uint32_t expected_total_ = 0;  // bytes the file holds when complete; 0 unknown
  std::wstring url_;
  DownloadOutcome outcome_;
  DownloadSink* sink_ = nullptr;
};

// Plain loop: opens `url` (widened with `platform::WidenUtf8`), reads until the body ends and
// returns `FinalizeDownload`'s result; false without finalizing when opening fails or when
// `cancel_event` (may be null; tested after each chunk) is signalled. Pass `downloader` to run the download
// on an object of the caller's, which keeps the response headers readable afterwards.
bool Download(const std::string& url, HANDLE cancel_event, DownloadSink& sink,
              HttpDownloader* downloader = nullptr);

// Downloads at most `limit` bytes into a fresh temporary file ("jx" prefix, temp folder) and
// moves it onto `target` (replacing it, copying across volumes). The temporary file is always
// deleted; `target` is untouched on failure. With `strict_revocation` a server certificate
// whose revocation cannot be checked fails the download (see `SetStrictRevocation`).
bool DownloadToFile(const std::string& url, const std::wstring& target, HANDLE cancel_event,
                    uint32_t limit = kMaxConfigArchiveBytes, bool strict_revocation = false);

// Downloads at most `limit` bytes into memory; on success, and only then, the bytes are
// swapped into `*out`.
bool DownloadToString(const std::string& url, HANDLE cancel_event, std::string* out,
                      HttpDownloader* downloader = nullptr, uint32_t limit = kMaxAnswerBytes);

// What `DownloadWithProgress` adds to a plain download.
struct DownloadOptions {
  InternetApi* api = nullptr;  // null: WinINet itself
  RequestBounds bounds = kDownloadBounds;
  uint32_t resume_total = 0;  // see `HttpDownloader::SetResume`
  std::string resume_validator;
  bool strict_revocation = false;  // see `HttpDownloader::SetStrictRevocation`
};

// One attempt with progress, time estimate and cancel, for the setup archive. Resumes when
// `sink` holds bytes. `cancel_event`, `observer` and `outcome` may be null; `*outcome` is
// written whole on every path. A download cancelled between blocks returns false and
// records no error; one cancelled during a call records that call's tag with 12017.
bool DownloadWithProgress(const std::wstring& url, DownloadSink& sink, HANDLE cancel_event,
                          DownloadObserver* observer, DownloadOutcome* outcome,
                          const DownloadOptions& options = DownloadOptions());

// The same loop over a replacement clock.
bool DownloadWithProgressForTesting(TickSource* ticks, const std::wstring& url,
                                    DownloadSink& sink, HANDLE cancel_event,
                                    DownloadObserver* observer, DownloadOutcome* outcome,
                                    const DownloadOptions& options);

}  // namespace installer

#endif  // NETWORK_HTTP_DOWNLOADER_H_
