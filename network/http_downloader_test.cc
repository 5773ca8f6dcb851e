// The download client over a fake WinINet: every branch of the open, read and finish steps,
// the resume arithmetic, the progress and time estimate, cancel and the handles.
#include "network/http_downloader.h"

#include <windows.h>
#include <delayimp.h>

#include <functional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/scoped_handle.h"
#include "platform/strings.h"
#include "tests/support/fake_internet_api.h"
#include "tests/support/faults.h"
#include "tests/support/test_log.h"
#include "tests/support/test_paths.h"

namespace installer {
namespace {

using test_support::FakeInternetApi;
using test_support::FakeResponse;
using test_support::PublisherPattern;
using test_support::RecordingObserver;
using test_support::ScopedTestLog;
using test_support::ScriptedTicks;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::StartsWith;

constexpr wchar_t kUrl[] = L"https://fake.example/file";
constexpr char kNarrowUrl[] = "https://fake.example/file";
constexpr uint32_t kNoEstimate = DownloadObserver::kNoEstimate;

// A sink that takes `capacity` bytes and then fails like a full disk.
class FullDiskSink : public DownloadSink {
 public:
  explicit FullDiskSink(uint32_t capacity) : DownloadSink(kMaxArchiveBytes), capacity_(capacity) {}
  bool Reset() override {
    bytes_written_ = 0;
    return true;
  }

 protected:
  bool Append(const void*, uint32_t size) override {
    if (bytes_written_ + size > capacity_) {
      SetLastError(ERROR_DISK_FULL);
      return false;
    }
    bytes_written_ += size;
    return true;
  }

 private:
  uint32_t capacity_;
};

struct Outcome : DownloadOutcome {
  bool ok = false;
};

Outcome Attempt(FakeInternetApi& api, DownloadSink& sink, TickSource* ticks = nullptr,
            HANDLE cancel = nullptr, DownloadObserver* observer = nullptr,
            bool strict_revocation = false, RequestBounds bounds = kDownloadBounds) {
  ScriptedTicks no_time({0});
  Outcome outcome;
  // Shows whether the record was written whole.
  outcome.error = outcome.final_url = L"untouched";
  outcome.content_length = 0xDEADBEEF;
  outcome.exception.code = 1;
  DownloadOptions options;
  options.api = &api;
  options.strict_revocation = strict_revocation;
  options.bounds = bounds;
  outcome.ok = DownloadWithProgressForTesting(ticks ? ticks : &no_time, kUrl, sink, cancel,
                                              observer, &outcome, options);
  return outcome;
}

// Calls of an observer other than the download fraction.
std::vector<std::string> EstimateCalls(const RecordingObserver& observer) {
  std::vector<std::string> calls;
  for (const std::string& call : observer.calls) {
    if (call.rfind("progress", 0) != 0) calls.push_back(call);
  }
  return calls;
}

FakeResponse Body(size_t size, size_t chunk = SIZE_MAX) {
  FakeResponse response;
  response.body = PublisherPattern(0, size);
  response.max_chunk = chunk;
  return response;
}

TEST(HttpDownloaderTest, OpensTheRequestAsTheServersExpectIt) {
  ScopedTestLog log;
  FakeInternetApi api;
  api.SetResponse(kUrl, Body(100000));
  {
    HttpDownloader downloader(&api);
    StringSink sink(kMaxArchiveBytes);
    ASSERT_TRUE(downloader.OpenDownload(kUrl, sink));
    EXPECT_EQ(L"Zorvin.Browser lite installer", api.agent);
    EXPECT_EQ(static_cast<DWORD>(INTERNET_OPEN_TYPE_PRECONFIG), api.access_type);
    ASSERT_EQ(1u, api.opens.size());
    EXPECT_EQ(L"Accept: */*", api.opens[0].headers);
    EXPECT_EQ(static_cast<DWORD>(-1), api.opens[0].headers_length);
    EXPECT_EQ(static_cast<DWORD>(INTERNET_FLAG_RELOAD), api.opens[0].flags);
    EXPECT_NE(0u, api.opens[0].context);
    // The status callback lives only while the URL is opened.
    EXPECT_THAT(api.callback_calls, ElementsAre(true, false));
    EXPECT_EQ(kUrl, downloader.url());
    EXPECT_EQ(1, log.CountLines(L"INFO: OpenDownload ("));
    EXPECT_TRUE(log.Contains(L"Connection established: https://fake.example/file\n"));

    while (downloader.ReadChunk() != 0) {
    }
    EXPECT_TRUE(downloader.FinalizeDownload());
    EXPECT_EQ(PublisherPattern(0, 100000), sink.data());
    EXPECT_EQ(100000u, downloader.content_length());
    // Reads of 32 KB into one buffer, 32-byte aligned, allocated once for every read.
    ASSERT_GE(api.reads, 4);
    const auto* base = static_cast<const uint8_t*>(api.read_buffers[0]);
    for (int i = 0; i < api.reads; ++i) {
      EXPECT_EQ(32768u, api.read_sizes[i]);
      const size_t at = static_cast<const uint8_t*>(api.read_buffers[i]) - base;
      EXPECT_TRUE(at % 32768 == 0 && at < 32768 * HttpDownloader::kReadsPerCall) << at;
    }
    EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(api.read_buffers[0]) % 32);
  }
  // The request is closed before its session.
  EXPECT_THAT(api.closed, ElementsAre("request", "session"));
  EXPECT_EQ(0, api.open_handles());
}

TEST(HttpDownloaderTest, EveryFailureEndsWithItsErrorTagAndLogLine) {
  struct Case {
    const char* name;
    std::function<void(FakeInternetApi&, FakeResponse&)> setup;
    uint32_t sink_capacity;  // 0: a memory sink
    bool ok;
    std::wstring error;      // exact, or a prefix when it ends with "-"
    const wchar_t* log_line; // an ERROR line that must be there, or null for none at all
    uint32_t content_length;
  } cases[] = {
      {"complete", [](FakeInternetApi&, FakeResponse&) {}, 0, true, L"", nullptr, 70000},
      {"session refused", [](FakeInternetApi& a, FakeResponse&) { a.session_error = 8; }, 0,
       false, L"internet_open-8", nullptr, 0},
      {"url not opened", [](FakeInternetApi&, FakeResponse& r) { r.open_error = 12007; }, 0,
       false, L"internet_open_url-12007", nullptr, 0},
      {"read fails", [](FakeInternetApi&, FakeResponse& r) {
         r.fail_read_at = 40000;
         r.read_error = 12031;
       }, 0, false, L"internet_read-12031", L"ERROR: ReadChunk (", 70000},
      {"not found", [](FakeInternetApi&, FakeResponse& r) {
         r.status = 404;
         r.body = "not found";
       }, 0, false, L"final_query_info-404-", L"HTTP request status isn't OK", 0},
      {"server error", [](FakeInternetApi&, FakeResponse& r) {
         r.status = 500;
         r.body.clear();
       }, 0, false, L"final_query_info-500-", L"Unsuccessful download: https://fake.example/file",
       0},
      {"disk full", [](FakeInternetApi&, FakeResponse&) {}, 40000, false, L"write_file-112",
       L"Write file error.", 70000},
      // The connection ended cleanly before the announced length: not a complete file.
      {"cut short", [](FakeInternetApi&, FakeResponse& r) { r.announced_length = 90000; }, 0,
       false, L"internet_read-12030", L"Download chunk error.", 90000},
      {"no length", [](FakeInternetApi&, FakeResponse& r) { r.send_length = false; }, 0, true,
       L"", nullptr, 0},
      {"callback refused", [](FakeInternetApi& a, FakeResponse&) { a.reject_callback = true; }, 0,
       true, L"", L"SetStatusCallback failed", 70000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedTestLog log;
    FakeInternetApi api;
    FakeResponse response = Body(70000, 30000);
    c.setup(api, response);
    api.SetResponse(kUrl, response);
    StringSink memory(kMaxArchiveBytes);
    FullDiskSink disk(c.sink_capacity);
    DownloadSink& sink = c.sink_capacity ? static_cast<DownloadSink&>(disk) : memory;
    Outcome outcome = Attempt(api, sink);
    EXPECT_EQ(c.ok, outcome.ok);
    if (!c.error.empty() && c.error.back() == L'-') {
      EXPECT_THAT(outcome.error, StartsWith(c.error));
      EXPECT_GT(outcome.error.size(), c.error.size());  // the Windows error code follows
    } else {
      EXPECT_EQ(c.error, outcome.error);
    }
    if (c.log_line != nullptr) {
      EXPECT_TRUE(log.Contains(c.log_line)) << log.Text();
    } else if (!c.ok) {
      EXPECT_FALSE(log.Contains(L"ERROR:")) << log.Text();
    }
    EXPECT_EQ(c.content_length, outcome.content_length);
    EXPECT_EQ(L"", outcome.final_url);
    EXPECT_EQ(0u, outcome.exception.code);  // nothing was raised
    EXPECT_EQ(0, api.open_handles());
    if (c.ok) {
      EXPECT_EQ(PublisherPattern(0, 70000), memory.data());
    }
  }
}

TEST(HttpDownloaderTest, AnErrorIsStickyAndFinalizeAddsNothing) {
  ScopedTestLog log;
  FakeInternetApi api;
  FakeResponse response = Body(70000, 30000);
  response.fail_read_at = 30000;
  api.SetResponse(kUrl, response);
  HttpDownloader downloader(&api);
  StringSink sink(kMaxArchiveBytes);
  ASSERT_TRUE(downloader.OpenDownload(kUrl, sink));
  EXPECT_EQ(30000u, downloader.ReadChunk());
  EXPECT_EQ(0u, downloader.ReadChunk());
  std::wstring error = downloader.error();
  EXPECT_THAT(error, StartsWith(L"internet_read-"));
  int reads = api.reads;
  EXPECT_EQ(0u, downloader.ReadChunk());
  EXPECT_EQ(reads, api.reads);
  EXPECT_FALSE(downloader.FinalizeDownload());
  EXPECT_EQ(error, downloader.error());
  EXPECT_EQ(1, log.CountLines(L"Download chunk error."));
  EXPECT_FALSE(log.Contains(L"Unsuccessful download"));
}

TEST(HttpDownloaderTest, ZeroByteBodyAndMissingLengthReportOnlyStartAndEnd) {
  struct Case {
    const char* name;
    size_t size;
    bool send_length;
  } cases[] = {{"zero bytes", 0, true}, {"no length", 100000, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeInternetApi api;
    FakeResponse response = Body(c.size, 20000);
    response.send_length = c.send_length;
    api.SetResponse(kUrl, response);
    StringSink sink(kMaxArchiveBytes);
    RecordingObserver observer;
    Outcome outcome = Attempt(api, sink, nullptr, nullptr, &observer);
    EXPECT_TRUE(outcome.ok);
    EXPECT_EQ(0u, outcome.content_length);
    EXPECT_EQ(c.size, sink.data().size());
    EXPECT_THAT(observer.calls,
                ElementsAre("progress 0", "time 4294967295 0", "progress 1", "time 0 2"));
  }
}

TEST(HttpDownloaderTest, ProgressFollowsTheSinkAndEstimatesComeOnceAMinute) {
  struct Case {
    const char* name;
    size_t size;
    size_t chunk;
    int64_t announced;
    std::vector<uint32_t> ticks;  // start, then after each chunk
    std::vector<std::string> estimates;
  } cases[] = {
      // 90 s in, 40 s left: 90 + 40 >= 121.
      {"ninety seconds, forty left", 130000, 30000, -1, {0, 30000, 50000, 90000, 100000, 110000},
       {"time 4294967295 0", "slow", "time 40 1", "time 0 2"}},
      {"sixty and sixty is not slow", 60000, 30000, -1, {0, 60000, 70000},
       {"time 4294967295 0", "time 60 1", "time 0 2"}},
      {"sixty-one and sixty is slow", 60500, 30500, -1, {0, 61000, 62000},
       {"time 4294967295 0", "slow", "time 60 1", "time 0 2"}},
      {"under a minute", 60000, 30000, -1, {0, 30000, 59999}, {"time 4294967295 0", "time 0 2"}},
      {"a minute between estimates", 120000, 30000, -1, {0, 60000, 90000, 119999, 120000},
       {"time 4294967295 0", "slow", "time 180 1", "time 0 1", "time 0 2"}},
      // No complete file either: the end is not reported.
      {"more than announced", 90000, 30000, 30000, {0, 10000, 20000, 60000},
       {"time 4294967295 0", "time 0 1"}},
      {"tick counter wraps", 60000, 30000, -1, {0xFFFFF000u, 0xFFFFF000u + 60000u, 0x10000u},
       {"time 4294967295 0", "time 60 1", "time 0 2"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeInternetApi api;
    FakeResponse response = Body(c.size, c.chunk);
    response.announced_length = c.announced;
    api.SetResponse(kUrl, response);
    StringSink sink(kMaxArchiveBytes);
    RecordingObserver observer;
    ScriptedTicks ticks(c.ticks);
    Outcome outcome = Attempt(api, sink, &ticks, nullptr, &observer);
    EXPECT_EQ(c.announced < 0, outcome.ok);
    EXPECT_EQ(c.estimates, EstimateCalls(observer));
    EXPECT_EQ(static_cast<int>(c.ticks.size()), ticks.calls());
  }
  // The fractions of the first case, chunk by chunk.
  FakeInternetApi api;
  api.SetResponse(kUrl, Body(130000, 30000));
  StringSink sink(kMaxArchiveBytes);
  RecordingObserver observer;
  Attempt(api, sink, nullptr, nullptr, &observer);
  EXPECT_THAT(observer.calls,
              ElementsAre("progress 0", "time 4294967295 0", "progress 0.2308", "progress 0.4615",
                          "progress 0.6923", "progress 0.9231", "progress 1", "progress 1",
                          "time 0 2"));
}

// A sink holding 1000 bytes asks for the rest, naming the version its bytes came from. The
// rest completes the file only when the file ends at its total (of its Content-Range, or the
// end of the range for "*"); the whole file instead starts it over in the same attempt; any
// other answer empties it and fails the attempt.
TEST(HttpDownloaderTest, ASinkHoldingBytesAsksForTheRestAndTakesOnlyTheRest) {
  using test_support::ResumeAnswer;
  struct Case {
    const char* name;
    bool ranges;
    ResumeAnswer answer;
    int64_t announced;  // the file's size as announced; the body has 100000 bytes
    DWORD status;
    const wchar_t* error;
    const wchar_t* report;
    uint32_t held;  // bytes the sink holds afterwards
  } cases[] = {
      {"whole rest", true, ResumeAnswer::kRange206, -1, 200, L"", L"resume-206-1000", 100000},
      {"unknown total", true, ResumeAnswer::kUnknownTotal206, -1, 200, L"", L"resume-206-1000",
       100000},
      {"ends early", true, ResumeAnswer::kRange206, 120000, 200, L"internet_read-12030",
       L"resume-206-1000", 100000},
      {"changed: the whole file", true, ResumeAnswer::kRestart200, -1, 200, L"",
       L"resume-200-1000", 100000},
      {"no ranges", false, ResumeAnswer::kRange206, -1, 200, L"", L"resume-200-1000", 100000},
      {"another range", true, ResumeAnswer::kWrongRange206, -1, 200, L"resume_refused-12153",
       L"resume-206-1000", 0},
      {"another total", true, ResumeAnswer::kRange206, 99999, 200, L"resume_refused-12153",
       L"resume-206-1000", 0},
      {"an error", false, ResumeAnswer::kRange206, -1, 503, L"final_query_info-503-",
       L"resume-503-1000", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedTestLog log;
    test_support::ScopedTempDir dir;
    std::wstring path = dir.File(L"archive.tmp");
    platform::ScopedKernelHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file);
    FileSink sink(file.get());
    std::string head = PublisherPattern(0, 1000);
    ASSERT_TRUE(sink.Write(head.data(), 1000));
    FakeInternetApi api;
    FakeResponse response = Body(100000);
    response.seekable = c.ranges;
    response.resume = c.answer;
    response.announced_length = c.announced;
    response.status = c.status;
    api.SetResponse(kUrl, response);
    ScriptedTicks no_time({0});
    DownloadOptions options;
    options.api = &api;
    options.resume_total = c.announced == 99999 ? 100000 : 0;
    options.resume_validator = "\"v1\"";
    DownloadOutcome outcome;
    const bool ok =
        DownloadWithProgressForTesting(&no_time, kUrl, sink, nullptr, nullptr, &outcome, options);
    const std::wstring& error = outcome.error;
    const std::wstring& report = outcome.resume_report;
    EXPECT_EQ(c.error, error.substr(0, wcslen(c.error))) << error;
    EXPECT_EQ(error.empty(), *c.error == L'\0');
    EXPECT_EQ(error.empty(), ok);
    EXPECT_EQ(c.report, report);
    ASSERT_EQ(1u, api.opens.size());
    EXPECT_EQ(L"Accept: */*\r\nRange: bytes=1000-\r\nIf-Range: \"v1\"", api.opens[0].headers);
    EXPECT_EQ(c.held, sink.bytes_written());
    EXPECT_EQ(1, log.CountLines(L"Resume at 1000 of "));
    file.reset();
    EXPECT_EQ(PublisherPattern(0, c.held), test_support::ReadFileBytes(path));
  }
}

// If-Range names only what a header can carry, and an ETag only in its strong form.
TEST(HttpDownloaderTest, ValidatorIsAStrongETagElseLastModified) {
  const std::string date = "Tue, 01 Dec 2026 10:00:00 GMT";
  const std::string cases[][3] = {
      {"\"abc\"", date, "\"abc\""}, {"W/\"abc\"", date, date}, {"abc", "", ""},
      {"\"a\r\nX: y\"", "", ""}, {"\"" + std::string(kMaxValidatorChars, 'a') + "\"", date, date},
      {"", "Tue\x01", ""},       {"", "W/x", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(c[2], PickValidator(c[0], c[1])) << c[0] << c[1];
}

TEST(HttpDownloaderTest, CancelStopsBeforeTheNextChunkWithoutFinalizing) {
  struct Case {
    const char* name;
    bool signalled_at_start;
    uint32_t total_ms;  // when not 0, the whole bound is spent between the blocks instead
    int reads;
    const wchar_t* error;  // a cancel between blocks records nothing; one during a call, 12017
    size_t kept;
  } cases[] = {{"after the first block", false, 0, 1, L"", 30000},
               {"before the open", true, 0, 0, L"internet_open_url-12017", 0},
               // The next call never starts: the block already written must not come again.
               {"bound spent between blocks", false, 1000, 1, L"internet_read-12002", 30000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedTestLog log;
    HANDLE cancel = CreateEventW(nullptr, TRUE, c.signalled_at_start, nullptr);
    FakeInternetApi api;
    // Blocks that come one at a time (shorter than a read asks for).
    api.SetResponse(kUrl, Body(200000, 30000));
    StringSink sink(kMaxArchiveBytes);
    RecordingObserver observer;
    // The start's two reports, then the first block's progress.
    observer.after_call = [&] {
      if (observer.calls.size() != 3) return;
      if (c.total_ms == 0) SetEvent(cancel);
      else Sleep(c.total_ms + 100);
    };
    Outcome outcome = Attempt(api, sink, nullptr, cancel, &observer, false,
                              {0, 0, c.total_ms});
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(c.error, outcome.error);
    EXPECT_EQ(c.reads, api.reads);
    EXPECT_EQ(c.kept, sink.bytes_written());
    for (const std::string& call : observer.calls) EXPECT_NE("time 0 2", call);
    EXPECT_FALSE(log.Contains(L"Unsuccessful download"));
    EXPECT_EQ(0, api.open_handles());
    CloseHandle(cancel);
  }
}

TEST(HttpDownloaderTest, PlainDownloadThatIsCancelledIsNotASuccess) {
  HANDLE cancel = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  FakeInternetApi api;
  FakeResponse response = Body(200000, 30000);
  response.on_read = [cancel](size_t) { SetEvent(cancel); };
  api.SetResponse(kUrl, response);
  HttpDownloader downloader(&api);
  std::string out = "before";
  EXPECT_FALSE(DownloadToString(kNarrowUrl, cancel, &out, &downloader));
  EXPECT_EQ("before", out);
  EXPECT_EQ(1, api.reads);
  // Without a cancel event the same download completes.
  ResetEvent(cancel);
  FakeInternetApi api2;
  api2.SetResponse(kUrl, Body(200000, 32768));
  HttpDownloader downloader2(&api2);
  EXPECT_TRUE(DownloadToString(kNarrowUrl, nullptr, &out, &downloader2));
  EXPECT_EQ(PublisherPattern(0, 200000), out);
  CloseHandle(cancel);
}

void CALLBACK SignalEvent(void* event, BOOLEAN) { SetEvent(static_cast<HANDLE>(event)); }

TEST(HttpDownloaderTest, NoServerHoldsTheCallerBeyondItsBoundOrCancel) {
  constexpr RequestBounds kShort = {300, 300, 0};
  struct Case {
    const char* name;
    std::function<void(FakeResponse&)> setup;
    RequestBounds bounds;
    bool cancel;                // the cancel event is signalled 300 ms in instead
    const wchar_t* error;
    bool left_behind;           // WinINet keeps the call after the close
  } cases[] = {
      {"never answers", [](FakeResponse& r) { r.hang_open = true; }, kShort, false,
       L"internet_open_url-12002", false},
      {"stalls in the body", [](FakeResponse& r) { r.hang_read_at = 40000; }, kShort, false,
       L"internet_read-12002", false},
      {"trickles", [](FakeResponse& r) {
         r.max_chunk = 100;
         r.on_read = [](size_t) { Sleep(20); };
       }, kShort, false, L"internet_read-12002", false},
      {"whole request bound", [](FakeResponse& r) { r.hang_read_at = 40000; }, {0, 0, 300},
       false, L"internet_read-12002", false},
      {"cancelled while it hangs", [](FakeResponse& r) { r.hang_read_at = 40000; },
       kDownloadBounds, true, L"internet_read-12017", false},
      {"the close is not honoured", [](FakeResponse& r) {
         r.hang_open = true;
         r.hang_ignores_close = true;
       }, kShort, false, L"internet_open_url-12002", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedTestLog log;
    FakeInternetApi api;
    FakeResponse response = Body(200000, 32768);
    c.setup(response);
    api.SetResponse(kUrl, response);
    platform::ScopedKernelHandle cancel(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    HANDLE timer = nullptr;
    if (c.cancel) {
      CreateTimerQueueTimer(&timer, nullptr, &SignalEvent, cancel.get(), 300, 0,
                            WT_EXECUTEONLYONCE);
    }
    StringSink sink(kMaxArchiveBytes);
    DownloadOutcome outcome;
    const std::wstring& error = outcome.error;
    DWORD start = GetTickCount();
    DownloadOptions options;
    options.api = &api;
    options.bounds = c.bounds;
    EXPECT_FALSE(DownloadWithProgress(kUrl, sink, cancel.get(), nullptr, &outcome, options));
    DWORD elapsed = GetTickCount() - start;
    EXPECT_EQ(c.error, error);
    // The bound or the cancel, plus the grace a call has to come back when it is left behind.
    EXPECT_LT(elapsed, (c.left_behind ? kCloseGraceMs : 0) + 4000u);
    EXPECT_EQ(c.left_behind, log.Contains(L"it is left behind: https://fake.example/file"));
    EXPECT_EQ(!c.cancel, log.Contains(L"ms; the request is closed: https://fake.example/file"))
        << log.Text();
    EXPECT_EQ(0, api.open_handles());
    if (timer != nullptr) DeleteTimerQueueTimer(nullptr, timer, INVALID_HANDLE_VALUE);
  }
}

// The relaxed check is set on the retried request itself, whether or not WinINet takes the
// status callback; nothing else about the certificate is relaxed.
TEST(HttpDownloaderTest, UnreachableRevocationServerIsRetriedOnceWithoutTheCheck) {
  struct Case {
    const char* name;
    bool revocation_unreachable;
    DWORD open_error;
    bool reject_callback;
    bool refuse_flags;
    const wchar_t* error;  // empty: the download succeeds
    size_t opens;
    bool strict = false;  // a download that only TLS vouches for
  } cases[] = {
      {"revocation server unreachable", true, 0, false, false, L"", 2},
      {"the same, callback refused", true, 0, true, false, L"", 2},
      {"the request refuses the relaxed check", true, 0, false, true,
       L"internet_open_url-12057", 2},
      {"unknown certificate authority", false, ERROR_INTERNET_INVALID_CA, false, false,
       L"internet_open_url-12045", 1},
      {"revoked", false, ERROR_INTERNET_SEC_CERT_REVOKED, false, false,
       L"internet_open_url-12170", 1},
      {"unreachable, then refused", true, ERROR_INTERNET_SEC_CERT_REV_FAILED, false, false,
       L"internet_open_url-12057", 2},
      {"unreachable, strict", true, 0, false, false, L"internet_open_url-12057", 1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedTestLog log;
    FakeInternetApi api;
    api.reject_callback = c.reject_callback;
    api.refuse_security_flags = c.refuse_flags;
    FakeResponse response = Body(5000);
    response.revocation_unreachable = c.revocation_unreachable;
    response.open_error = c.open_error;
    api.SetResponse(kUrl, response);
    StringSink sink(kMaxArchiveBytes);
    Outcome outcome = Attempt(api, sink, nullptr, nullptr, nullptr, c.strict);
    EXPECT_EQ(c.error, outcome.error);
    EXPECT_EQ(outcome.error.empty(), outcome.ok);
    ASSERT_EQ(c.opens, api.opens.size());
    EXPECT_EQ(kUrl, api.opens.back().url);
    EXPECT_EQ(outcome.ok ? 1 : 0, api.revocation_relaxed);
    EXPECT_EQ(c.opens == 2, log.Contains(L"WARNING: OpenDownload (") &&
                                log.Contains(L"could not be checked (12057); trying once more "
                                             L"without that check: https://fake.example/file"));
    EXPECT_EQ(c.refuse_flags, log.Contains(L"The request refused to relax the revocation check"));
    EXPECT_EQ(0, api.open_handles());
  }
}

// An answer nobody reads whole (a status request's) ends at the sink's cap and counts.
TEST(HttpDownloaderTest, ASinkForTheFirstBytesOnlyEndsTheAnswerAtItsCap) {
  for (bool send_length : {true, false}) {
    FakeInternetApi api;
    FakeResponse response = Body(10000);
    response.send_length = send_length;
    api.SetResponse(kUrl, response);
    StringSink sink(4096);
    sink.set_stops_at_limit(true);
    Outcome outcome = Attempt(api, sink);
    EXPECT_TRUE(outcome.ok) << platform::Narrow(outcome.error);
    EXPECT_EQ(PublisherPattern(0, 4096), sink.data());
  }
}

TEST(HttpDownloaderTest, ContentRangeParsing) {
  struct Case {
    const char* text;
    bool ok;
    uint64_t first, last, total;
  } cases[] = {
      {"bytes 100-999/1000", true, 100, 999, 1000},
      {"bytes 5-9/*", true, 5, 9, 0},
      {"bytes 100-999/999", false}, {"bytes 9-5/10", false}, {"bytes 1-2/3 ", false},
      {"bytes 99999999999999999999-1/2", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    uint64_t first = 7, last = 7, total = 7;
    EXPECT_EQ(c.ok, ParseContentRange(c.text, &first, &last, &total));
    if (c.ok) {
      EXPECT_EQ(c.first, first);
      EXPECT_EQ(c.last, last);
      EXPECT_EQ(c.total, total);
    } else {
      EXPECT_TRUE(first == 7 && last == 7 && total == 7);  // untouched
    }
  }
}

using test_support::RaiseDelayLoadFailure;

TEST(HttpDownloaderTest, ExceptionsInsideTheOpenBecomeAFailedDownload) {
  struct Case {
    const char* name;
    std::function<void()> raise;
    uint32_t code;
    const char* dll;
    const char* proc;
  } cases[] = {
      {"delay load by name", [] { RaiseDelayLoadFailure("cplib.dll", "CryptoProRevocation", 0); },
       0xC06D007E, "cplib.dll", "CryptoProRevocation"},
      {"delay load by ordinal", [] { RaiseDelayLoadFailure("wininet.dll", nullptr, 12); },
       0xC06D007E, "wininet.dll", ""},
      {"access violation", [] { test_support::WriteThroughNull(); }, 0xC0000005, "", ""},
      {"software exception", [] { RaiseException(0xE0001234, 0, 0, nullptr); }, 0xE0001234, "",
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedTestLog log;
    FakeInternetApi api;
    FakeResponse response = Body(1000);
    response.redirects = {L"https://fake.example/moved"};
    response.on_open = c.raise;
    api.SetResponse(kUrl, response);
    StringSink sink(kMaxArchiveBytes);
    Outcome outcome = Attempt(api, sink);
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(c.code, outcome.exception.code);
    EXPECT_EQ(c.dll, outcome.exception.dll);
    EXPECT_EQ(c.proc, outcome.exception.proc);
    EXPECT_EQ(L"", outcome.error);
    EXPECT_TRUE(log.Contains(L"An attempt to open url https://fake.example/file generated an "
                             L"exception " +
                             platform::ToWString(c.code)))
        << log.Text();
    EXPECT_EQ(0, api.reads);
    EXPECT_EQ(0, api.open_handles());
  }
}

TEST(HttpDownloaderTest, ANewOpenStartsFromACleanState) {
  FakeInternetApi api;
  FakeResponse broken = Body(10);
  broken.redirects = {L"https://fake.example/elsewhere"};
  broken.on_open = [] { RaiseDelayLoadFailure("cplib.dll", "CryptoProX", 0); };
  api.SetResponse(L"https://fake.example/broken", broken);
  api.SetResponse(kUrl, Body(10));
  HttpDownloader downloader(&api);
  StringSink sink(kMaxArchiveBytes);
  EXPECT_FALSE(downloader.OpenDownload(L"https://fake.example/broken", sink));
  EXPECT_EQ(0xC06D007Eu, downloader.outcome().exception.code);
  EXPECT_EQ(L"https://fake.example/elsewhere", downloader.final_url());
  StringSink sink2(kMaxArchiveBytes);
  ASSERT_TRUE(downloader.OpenDownload(kUrl, sink2));
  EXPECT_EQ(0u, downloader.outcome().exception.code);
  EXPECT_EQ("", downloader.outcome().exception.dll);
  EXPECT_EQ("", downloader.outcome().exception.proc);
  EXPECT_EQ(L"", downloader.final_url());
  EXPECT_EQ(L"", downloader.error());
  EXPECT_EQ(10u, downloader.ReadChunk());
}

TEST(HttpDownloaderTest, FinalUrlHoldsTheLastRedirect) {
  struct Case {
    std::vector<std::wstring> redirects;
    std::wstring final_url;
  } cases[] = {
      {{}, L""},
      {{L"https://a.example/1"}, L"https://a.example/1"},
      {{L"https://a.example/1", L"http://b.example/2", L"https://c.example/3"},
       L"https://c.example/3"},
  };
  for (const Case& c : cases) {
    FakeInternetApi api;
    FakeResponse response = Body(10);
    response.redirects = c.redirects;
    api.SetResponse(kUrl, response);
    StringSink sink(kMaxArchiveBytes);
    Outcome outcome = Attempt(api, sink);
    EXPECT_TRUE(outcome.ok);
    EXPECT_EQ(c.final_url, outcome.final_url);
  }
}

TEST(HttpDownloaderTest, HeadersAreReadAsRawBytesWithOneRetryForLongValues) {
  std::string long_value(300, 's');
  FakeInternetApi api;
  FakeResponse response = Body(10);
  response.headers = {{"X-Seed-Signature", long_value},
                      {"X-Country", "xx"},
                      {"X-Raw", std::string("\xff\x00\xfe", 3)},
                      {"X-A-Header-Name-Longer-Than-Its-Value", "v"}};
  api.SetResponse(kUrl, response);
  HttpDownloader downloader(&api);
  EXPECT_EQ("", downloader.GetHeader("X-Country"));  // nothing open yet
  StringSink sink(kMaxArchiveBytes);
  ASSERT_TRUE(downloader.OpenDownload(kUrl, sink));
  struct Case {
    const char* name;
    std::string value;
    int queries;
  } cases[] = {
      {"X-Seed-Signature", long_value, 2},
      {"X-Country", "xx", 1},
      {"X-Raw", std::string("\xff\x00\xfe", 3), 1},
      {"X-A-Header-Name-Longer-Than-Its-Value", "v", 1},
      {"Last-Modified", "", 1},
  };
  for (const Case& c : cases) {
    int before = api.custom_queries;
    EXPECT_EQ(c.value, downloader.GetHeader(c.name)) << c.name;
    EXPECT_EQ(c.queries, api.custom_queries - before) << c.name;
  }
}

TEST(HttpDownloaderTest, DownloadToStringKeepsTheCallersDownloaderReadable) {
  FakeInternetApi api;
  FakeResponse response = Body(5000);
  response.headers = {{"X-Country", "xx"}};
  api.SetResponse(kUrl, response);
  HttpDownloader downloader(&api);
  std::string out = "old";
  ASSERT_TRUE(DownloadToString(kNarrowUrl, nullptr, &out, &downloader));
  EXPECT_EQ(PublisherPattern(0, 5000), out);
  EXPECT_EQ("xx", downloader.GetHeader("X-Country"));
  // The memory sink is gone: the downloader must not write to it any more.
  EXPECT_EQ(nullptr, downloader.sink());
  EXPECT_EQ(0u, downloader.ReadChunk());

  FakeInternetApi failing;
  FakeResponse missing = Body(10);
  missing.status = 404;
  failing.SetResponse(kUrl, missing);
  HttpDownloader downloader2(&failing);
  EXPECT_FALSE(DownloadToString(kNarrowUrl, nullptr, &out, &downloader2));
  EXPECT_EQ(PublisherPattern(0, 5000), out);
}

TEST(HttpDownloaderTest, OutcomeIsWrittenWholeOnEveryPath) {
  FakeInternetApi api;
  api.SetResponse(kUrl, Body(10));
  StringSink sink(kMaxArchiveBytes);
  Outcome good = Attempt(api, sink);
  EXPECT_TRUE(good.ok);
  EXPECT_EQ(0u, good.exception.code);
  EXPECT_EQ(L"", good.error);
  StringSink sink2(kMaxArchiveBytes);
  FakeInternetApi unknown;  // no response: the open fails
  Outcome bad = Attempt(unknown, sink2);
  EXPECT_FALSE(bad.ok);
  EXPECT_EQ(L"internet_open_url-12007", bad.error);
  EXPECT_EQ(0u, bad.exception.code);
  EXPECT_EQ(0u, bad.content_length);
  // Null outputs are allowed everywhere.
  ScriptedTicks ticks({0});
  DownloadOptions options;
  options.api = &api;
  EXPECT_TRUE(DownloadWithProgressForTesting(&ticks, kUrl, sink2, nullptr, nullptr, nullptr,
                                             options));
}

}  // namespace
}  // namespace installer
