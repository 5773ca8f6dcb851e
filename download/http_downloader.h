// The HTTP(S) download client: one request at a time, over WinINet, on the calling thread.
//
// `HttpDownloader` runs one download in three steps that the caller drives: `OpenDownload`
// connects and sends the request (resuming at the sink's byte count when the sink already
// holds bytes), `ReadChunk` moves one block of at most 32 KB into the sink, and
// `FinalizeDownload` checks that the answer was a 200. Every failure is recorded once as an
// error tag followed by the Windows error code ("internet_read-12002"); an error is sticky,
// so later steps do nothing. Nothing throws and nothing runs asynchronously.
//
// The free functions are the drivers the rest of the program uses: `Download` (plain loop
// with a cancel event), `DownloadToFile`, `DownloadToString` and `DownloadWithProgress`
// (progress, time estimate, cancel; used for the setup archive).
#ifndef DOWNLOAD_HTTP_DOWNLOADER_H_
#define DOWNLOAD_HTTP_DOWNLOADER_H_

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <string>
#include <vector>

#include "download/download_sink.h"
#include "download/internet_api.h"
#include "download/open_url_guarded.h"

namespace installer {

// Size caps of the answers the installer keeps, each well above any real answer: past its cap
// a download fails (the setup archive's is kMaxArchiveBytes).
inline constexpr uint32_t kMaxStatusAnswerBytes = 4096;          // the body is never used
inline constexpr uint32_t kMaxVariationsSeedBytes = 8u << 20;
inline constexpr uint32_t kMaxConfigArchiveBytes = 32u << 20;
inline constexpr uint32_t kMaxAnswerBytes = 16u << 20;           // any other answer in memory

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
};

// Milliseconds clock of the progress loop (GetTickCount in production).
class TickSource {
 public:
  virtual ~TickSource() = default;
  virtual uint32_t Now() = 0;
};

class HttpDownloader {
 public:
  // Size of the one read buffer.
  static constexpr uint32_t kBufferSize = 32768;
  // Longest redirect target kept, with its terminator (INTERNET_MAX_URL_LENGTH).
  static constexpr size_t kMaxRedirectChars = 2084;

  // Uses WinINet.
  HttpDownloader();
  // Uses `api` (not owned, must outlive the downloader); for tests.
  explicit HttpDownloader(InternetApi* api);
  ~HttpDownloader();
  HttpDownloader(const HttpDownloader&) = delete;
  HttpDownloader& operator=(const HttpDownloader&) = delete;

  // Starts a fresh download of `url` into `sink` (borrowed; must outlive the reads). False
  // when WinINet cannot be loaded, the session or the request cannot be opened, or opening
  // raised an exception (see `failure_info`). When the sink holds bytes the request is moved to that offset; when the
  // server refuses, the error is recorded and the sink reset, the open still succeeds and
  // the attempt then fails at the first read.
  bool OpenDownload(const std::wstring& url, DownloadSink& sink);
  // Reads one block into the sink. Returns the bytes stored, 0 at the end of the body or on
  // any error (a status other than 200 is left for `FinalizeDownload` to record). A body that
  // ends before its announced Content-Length is a failed read ("internet_read-12030").
  uint32_t ReadChunk();
  // True only if no error was recorded and the HTTP status is 200.
  bool FinalizeDownload();
  // One response header of the open request as raw bytes; empty when absent.
  std::string GetHeader(const std::string& name) const;

  const std::wstring& url() const { return url_; }
  // Last error tag with the Windows error code; empty while all is well.
  const std::wstring& error() const { return error_; }
  // Target of the last redirect while the request was opened; empty without redirects.
  const std::wstring& final_url() const { return final_url_; }
  // Content-Length of the answer; 0 until known.
  uint32_t content_length() const { return content_length_; }
  uint32_t exception_code() const { return exception_code_; }
  const std::string& exception_dll() const { return exception_dll_; }
  const std::string& exception_proc() const { return exception_proc_; }
  DownloadFailureInfo failure_info() const;
  DownloadSink* sink() const { return sink_; }
  // Forgets the sink (for a caller whose sink goes away while the response headers are still
  // wanted); later `ReadChunk` calls return 0.
  void DetachSink() { sink_ = nullptr; }

 private:
  void ResetState();
  void RecordError(const wchar_t* tag);
  bool QueryNumber(DWORD info_level, DWORD* value) const;

  InternetApi* api_;
  std::wstring url_;
  std::wstring error_;
  uint32_t exception_code_ = 0;
  std::string exception_dll_;
  std::string exception_proc_;
  std::wstring final_url_;
  uint32_t content_length_ = 0;
  DownloadSink* sink_ = nullptr;
  // Destruction frees the buffer, closes the request, then the session.
  InternetApiHandle internet_handle_;
  InternetApiHandle request_;
  std::vector<uint8_t> buffer_storage_;
  uint8_t* buffer_ = nullptr;  // 32-byte aligned, inside buffer_storage_
  // Written by the status callback during the open (see http_downloader.cc).
  wchar_t redirect_target_[kMaxRedirectChars] = {};
};

// Plain loop: opens `url` (widened with `platform::WidenUtf8`), reads until the body ends and
// returns `FinalizeDownload`'s result; false without finalizing when opening fails or when
// `cancel_event` (may be null; tested after each chunk) is signalled. Pass `downloader` to run the download
// on an object of the caller's, which keeps the response headers readable afterwards.
bool Download(const std::string& url, HANDLE cancel_event, DownloadSink& sink,
              HttpDownloader* downloader = nullptr);

// Downloads at most `limit` bytes into a fresh temporary file ("jx" prefix, temp folder) and
// moves it onto `target` (replacing it, copying across volumes). The temporary file is always
// deleted; `target` is untouched on failure.
bool DownloadToFile(const std::string& url, const std::wstring& target, HANDLE cancel_event,
                    uint32_t limit = kMaxConfigArchiveBytes);

// Downloads at most `limit` bytes into memory; on success, and only then, the bytes are
// swapped into `*out`.
bool DownloadToString(const std::string& url, HANDLE cancel_event, std::string* out,
                      HttpDownloader* downloader = nullptr, uint32_t limit = kMaxAnswerBytes);

// One attempt with progress, time estimate and cancel, for the setup archive. Resumes when
// `sink` holds bytes. `cancel_event` and `observer` may be null; every out parameter may be
// null. error, final URL and content length are written on every path; `failure` only when
// opening fails. A cancelled download returns false and records no error. `api` null means
// WinINet itself.
bool DownloadWithProgress(const std::wstring& url, DownloadSink& sink, std::wstring* error,
                          std::wstring* final_url, uint32_t* content_length,
                          HANDLE cancel_event, DownloadObserver* observer,
                          DownloadFailureInfo* failure, InternetApi* api = nullptr);

// The same loop over a replacement WinINet and clock.
bool DownloadWithProgressForTesting(InternetApi* api, TickSource* ticks,
                                    const std::wstring& url, DownloadSink& sink,
                                    std::wstring* error, std::wstring* final_url,
                                    uint32_t* content_length, HANDLE cancel_event,
                                    DownloadObserver* observer, DownloadFailureInfo* failure);

}  // namespace installer

#endif  // DOWNLOAD_HTTP_DOWNLOADER_H_
