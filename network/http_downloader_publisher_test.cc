// The download client over the real WinINet against the fake publisher
// (tests/fake_publisher): every fault mode of the server ends in its documented result.
#include <windows.h>

#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "build_config/endpoints.h"
#include "network/http_downloader.h"
#include "platform/strings.h"
#include "tests/support/fake_internet_api.h"
#include "tests/support/publisher_log.h"
#include "tests/support/test_log.h"
#include "tests/support/test_paths.h"

namespace installer {
namespace {

using test_support::PublisherPattern;
using test_support::RecordingObserver;
using test_support::ScopedTestLog;
using ::testing::HasSubstr;
using ::testing::StartsWith;

int TlsPort() {
  std::string host = endpoints::kDownloadHost;
  return std::stoi(host.substr(host.rfind(':') + 1));
}

std::wstring Https(const std::string& path, int port_offset = 0) {
  return L"https://localhost:" + platform::ToWString(TlsPort() + port_offset) + platform::Widen(path);
}

std::wstring Http(const std::string& host, const std::string& path) {
  return L"http://" + platform::Widen(host) + L":" + platform::ToWString(TlsPort() + 1) +
         platform::Widen(path);
}

struct Outcome : DownloadOutcome {
  bool ok = false;
};

Outcome Fetch(const std::wstring& url, DownloadSink& sink, HANDLE cancel = nullptr,
              DownloadObserver* observer = nullptr,
              const RequestBounds& bounds = kDownloadBounds) {
  Outcome outcome;
  DownloadOptions options;
  options.bounds = bounds;
  outcome.ok = DownloadWithProgress(url, sink, cancel, observer, &outcome, options);
  return outcome;
}

// Open handles of this process, found by asking for each possible value.
int CountOpenHandles() {
  int count = 0;
  for (uintptr_t value = 4; value < 0x10000; value += 4) {
    DWORD flags;
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
  }
  return count;
}

TEST(HttpDownloaderPublisherTest, EveryServerBehaviourEndsInItsResult) {
  struct Case {
    const char* name;
    std::wstring url;      // without the marker query
    bool ok;
    std::wstring error;    // exact, or a prefix when it ends with "-"
    size_t bytes;          // SIZE_MAX: fewer than the body, but a true prefix of it
    uint32_t content_length;
    std::wstring final_url;  // without the marker query; "" for none
    RequestBounds bounds = kDownloadBounds;
  };
  // Short bounds for the servers that would hold the client for good.
  constexpr RequestBounds kShort = {3000, 3000, 0};
  std::string marker = test_support::UniqueMarker();
  std::wstring wm = platform::Widen("?m=" + marker);
  const Case cases[] = {
      {"complete", Https("/gen/300000"), true, L"", 300000, 300000, L""},
      {"reset halfway", Https("/f/drop_pct=50/gen/1000000"), false, L"internet_read-", SIZE_MAX,
       1000000, L""},
      {"clean close halfway", Https("/f/drop_pct=50,drop_mode=fin/gen/1000000"), false,
       L"internet_read-12030", 500000, 1000000, L""},
      {"close_notify halfway", Https("/f/drop_after=200000,drop_mode=close/gen/400000"), false,
       L"internet_read-12030", 200000, 400000, L""},
      {"announces more than it sends", Https("/f/wrong_length=80000/gen/70000"), false,
       L"internet_read-12030", 70000, 80000, L""},
      {"no length", Https("/f/no_length/gen/70000"), true, L"", 70000, 0, L""},
      {"chunked", Https("/f/chunked/gen/300000"), true, L"", 300000, 0, L""},
      // Cut by a reset before the last chunk. (A clean close there reads as the end of the
      // body through WinINet under Wine: nothing of the chunk framing reaches the caller.)
      {"chunked, cut before its last chunk", Https("/f/chunked,drop_pct=50/gen/1000000"), false,
       L"internet_read-", SIZE_MAX, 0, L""},
      {"zero bytes", Https("/gen/0"), true, L"", 0, 0, L""},
      {"not found", Https("/f/status=404/gen/10"), false, L"final_query_info-404-", 0, 0, L""},
      {"server error", Https("/f/status=500/gen/10"), false, L"final_query_info-500-", 0, 0, L""},
      {"slow", Https("/f/chunk=16384,chunk_delay_ms=5/gen/200000"), true, L"", 200000, 200000, L""},
      {"late answer", Https("/f/delay_ms=700/gen/1000"), true, L"", 1000, 1000, L""},
      {"one redirect", Https("/f/redirect=1/gen/1000"), true, L"", 1000, 1000, Https("/gen/1000")},
      {"redirect chain", Https("/f/redirect=4/gen/1000"), true, L"", 1000, 1000,
       Https("/gen/1000")},
      {"redirect to another host", Http("localhost", "/f/redirect=1,redirect_host=127.0.0.1/gen/1000"),
       true, L"", 1000, 1000, Http("127.0.0.1", "/gen/1000")},
      {"http to https", Http("127.0.0.1", "/f/to_https/gen/1000"), true, L"", 1000, 1000,
       Https("/gen/1000")},
      {"certificate for another name", Https("/gen/10", 2), false, L"internet_open_url-12038", 0, 0,
       L""},
      {"nobody listening", Https("/gen/10", 4), false, L"internet_open_url-12029", 0, 0, L""},
      // Accepts the connection and never answers, or stops halfway: the waiting side closes
      // the request at the bound (a WinINet with a receive time-out of its own, Wine 10's,
      // may end the body first: too short, it is a cut).
      {"hung before the handshake", Https("/gen/10", 3), false, L"internet_open_url-12002", 0,
       0, L"", kShort},
      {"stalls halfway", Https("/f/stall_after=100000,stall_ms=600000/gen/1000000"), false,
       L"internet_read-", SIZE_MAX, 1000000, L"", kShort},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedTestLog log;
    StringSink sink(kMaxArchiveBytes);
    const DWORD start = GetTickCount();
    Outcome outcome = Fetch(c.url + wm, sink, nullptr, nullptr, c.bounds);
    // A bound holds whatever WinINet does: the call comes back when its request is closed,
    // or it is left behind after a short grace (Wine's WinINet keeps it).
    if (c.bounds.open_ms == kShort.open_ms) {
      EXPECT_LT(GetTickCount() - start, kShort.open_ms + kCloseGraceMs + 3000);
    }
    EXPECT_EQ(c.ok, outcome.ok);
    if (!c.error.empty() && c.error.back() == L'-') {
      EXPECT_THAT(outcome.error, StartsWith(c.error));
      EXPECT_GT(outcome.error.size(), c.error.size());
    } else {
      EXPECT_EQ(c.error, outcome.error);
    }
    if (c.bytes == SIZE_MAX) {
      // Every body cut here is 1000000 bytes long; a chunked one announces no length.
      EXPECT_LT(sink.data().size(), 1000000u);
      EXPECT_EQ(PublisherPattern(0, sink.data().size()), sink.data());
    } else if (c.ok || c.bytes > 0) {
      EXPECT_EQ(PublisherPattern(0, c.bytes), sink.data());
    }
    EXPECT_EQ(sink.data().size(), sink.bytes_written());
    EXPECT_EQ(c.content_length, outcome.content_length);
    EXPECT_EQ(c.final_url.empty() ? L"" : c.final_url + wm, outcome.final_url);
    EXPECT_EQ(0u, outcome.exception.code);
    bool opened = outcome.error.rfind(L"internet_open", 0) != 0;
    EXPECT_EQ(opened, log.Contains(L"Connection established: " + c.url + wm + L"\n"));
    if (outcome.error.rfind(L"final_query_info-", 0) == 0) {
      EXPECT_TRUE(log.Contains(L"HTTP request status isn't OK"));
      EXPECT_TRUE(log.Contains(L"Unsuccessful download: " + c.url + wm));
    }
    if (outcome.error.rfind(L"internet_read-", 0) == 0) {
      EXPECT_EQ(1, log.CountLines(L"Download chunk error."));
    }
  }
  // The server saw what the client sends with every request.
  std::vector<test_support::PublisherRequest> seen = test_support::PublisherRequestsWith(marker, 10);
  ASSERT_GE(seen.size(), 10u);
  for (const auto& request : seen) {
    if (request.method.empty()) continue;
    EXPECT_EQ("GET", request.method);
    EXPECT_EQ("Zorvin.Browser lite installer", request.headers.at("User-Agent"));
    EXPECT_EQ("*/*", request.headers.at("Accept"));
  }
}

TEST(HttpDownloaderPublisherTest, ProgressRunsFromZeroToOne) {
  StringSink sink(kMaxArchiveBytes);
  RecordingObserver observer;
  Outcome outcome = Fetch(Https("/gen/300000"), sink, nullptr, &observer);
  ASSERT_TRUE(outcome.ok);
  ASSERT_GE(observer.calls.size(), 6u);
  EXPECT_EQ("progress 0", observer.calls[0]);
  EXPECT_EQ("time 4294967295 0", observer.calls[1]);
  EXPECT_EQ("progress 1", observer.calls[observer.calls.size() - 2]);
  EXPECT_EQ("time 0 2", observer.calls.back());
  double last = 0;
  for (size_t i = 2; i + 2 < observer.calls.size(); ++i) {
    double fraction = std::stod(observer.calls[i].substr(9));
    EXPECT_GT(fraction, last);
    last = fraction;
  }
}

// A sink holding 1000 bytes asks for the rest through the real WinINet: a server with ranges
// sends only the rest (206), one without sends the whole file again (200), which starts the
// sink over in the same attempt. Both end with the file exactly as it is.
TEST(HttpDownloaderPublisherTest, ASinkHoldingBytesGetsTheRestOrTheWholeFile) {
  struct Case {
    const char* path;
    int status;
    int64_t sent;
  } cases[] = {{"/gen/50000", 206, 49000}, {"/f/no_range/gen/50000", 200, 50000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const std::string marker = test_support::UniqueMarker();
    StringSink sink(kMaxArchiveBytes);
    std::string head = PublisherPattern(0, 1000);
    ASSERT_TRUE(sink.Write(head.data(), 1000));
    Outcome outcome = Fetch(Https(std::string(c.path) + "?m=" + marker), sink);
    EXPECT_TRUE(outcome.ok) << platform::Narrow(outcome.error);
    EXPECT_EQ(PublisherPattern(0, 50000), sink.data());
    std::vector<test_support::PublisherRequest> seen = test_support::PublisherRequestsWith(marker);
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ("bytes=1000-", seen[0].headers["Range"]);
    EXPECT_EQ(c.status, seen[0].status);
    EXPECT_EQ(c.sent, seen[0].bytes_sent);
  }
}

// The one retry after 12057 relaxes the revocation check and nothing else: a chain that
// cannot be built to a trusted root (port + 6 leaves out the issuer's certificate) still
// fails. Wine's WinINet reports such a chain as 12057 first and as an unknown authority
// (12045) once revocation is ignored; Windows reports 12045 at once.
TEST(HttpDownloaderPublisherTest, TheRevocationRetryKeepsEveryOtherCertificateCheck) {
  ScopedTestLog log;
  StringSink sink(kMaxArchiveBytes);
  Outcome outcome = Fetch(Https("/gen/5000", 6), sink);
  EXPECT_FALSE(outcome.ok);
  EXPECT_THAT(outcome.error, StartsWith(L"internet_open_url-12045"));
  EXPECT_EQ("", sink.data());
  if (log.Contains(L"(12057)")) {
    EXPECT_EQ(1, log.CountLines(L"checked (12057); trying once more without that check"));
  }
}

TEST(HttpDownloaderPublisherTest, CancelDuringAStalledAnswerEndsAtTheNextChunk) {
  ScopedTestLog log;
  HANDLE cancel = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  StringSink sink(kMaxArchiveBytes);
  RecordingObserver observer;
  observer.after_call = [&] {
    if (observer.calls.back() != "progress 0" && observer.calls.back().rfind("progress", 0) == 0) {
      SetEvent(cancel);
    }
  };
  Outcome outcome =
      Fetch(Https("/f/stall_after=40000,stall_ms=3000/gen/300000"), sink, cancel, &observer);
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(L"", outcome.error);
  EXPECT_LT(sink.bytes_written(), 300000u);
  EXPECT_FALSE(log.Contains(L"Unsuccessful download"));
  for (const std::string& call : observer.calls) EXPECT_NE("time 0 2", call);
  CloseHandle(cancel);
}

class TempFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GetEnvironmentVariableW(L"TMP", saved_tmp_, MAX_PATH);
    GetEnvironmentVariableW(L"TEMP", saved_temp_, MAX_PATH);
    // GetTempPathW reads TMP first: the download's temporary files land here, and nowhere
    // another test process looks.
    SetEnvironmentVariableW(L"TMP", temp_.path().c_str());
    SetEnvironmentVariableW(L"TEMP", temp_.path().c_str());
  }
  void TearDown() override {
    SetEnvironmentVariableW(L"TMP", saved_tmp_);
    SetEnvironmentVariableW(L"TEMP", saved_temp_);
  }
  int TempFiles() const {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((temp_.path() + L"\\jx*.tmp").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return 0;
    int count = 0;
    do {
      ++count;
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return count;
  }
  std::string NarrowHttps(const std::string& path) { return platform::Narrow(Https(path)); }

  test_support::ScopedTempDir temp_;
  test_support::ScopedTempDir target_dir_;
  wchar_t saved_tmp_[MAX_PATH] = {};
  wchar_t saved_temp_[MAX_PATH] = {};
};

TEST_F(TempFolderTest, DownloadToFileReplacesTheTargetOnlyOnSuccess) {
  struct Case {
    const char* name;
    std::string path;
    bool ok;
    std::string content;  // of the target afterwards
  } cases[] = {
      {"complete", "/gen/100000", true, PublisherPattern(0, 100000)},
      {"zero bytes", "/gen/0", true, ""},
      {"not found", "/f/status=404/gen/10", false, "old"},
      {"cut short", "/f/drop_pct=40,drop_mode=fin/gen/100000", false, "old"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::wstring target = target_dir_.File(L"target.bin");
    ASSERT_TRUE(test_support::WriteFileBytes(target, "old"));
    EXPECT_EQ(c.ok, DownloadToFile(NarrowHttps(c.path), target, nullptr));
    EXPECT_EQ(c.content, test_support::ReadFileBytes(target));
    EXPECT_EQ(0, TempFiles());
  }
  // A target folder that does not exist: the download works, the move does not.
  std::wstring nowhere = target_dir_.File(L"missing\\target.bin");
  EXPECT_FALSE(DownloadToFile(NarrowHttps("/gen/1000"), nowhere, nullptr));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(nowhere.c_str()));
  EXPECT_EQ(0, TempFiles());
}

TEST_F(TempFolderTest, CancelledDownloadToFileLeavesNoTarget) {
  HANDLE cancel = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  std::wstring target = target_dir_.File(L"cancelled.bin");
  EXPECT_FALSE(DownloadToFile(NarrowHttps("/gen/500000"), target, cancel));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(target.c_str()));
  EXPECT_EQ(0, TempFiles());
  CloseHandle(cancel);
}

TEST(HttpDownloaderPublisherTest, VariationsHeadersAreReadAfterTheDownload) {
  struct Case {
    std::string path;
    std::string signature;
    std::string country;
  } cases[] = {
      {"/content/get/experiments/browser.proto", "c2lnbmF0dXJlLWZvci10ZXN0cw==", "xx"},
      {"/f/omit=X-Seed-Signature;X-Country/content/get/experiments/browser.proto", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    HttpDownloader downloader;
    std::string body;
    ASSERT_TRUE(DownloadToString(platform::Narrow(Https(c.path)), nullptr, &body, &downloader));
    EXPECT_EQ(std::string("zorvin-variations-seed\x00\x01\x02\xfe\xff", 27), body);
    EXPECT_EQ(c.signature, downloader.GetHeader("X-Seed-Signature"));
    EXPECT_EQ(c.country, downloader.GetHeader("X-Country"));
    EXPECT_EQ("Tue, 01 Dec 2026 10:00:00 GMT", downloader.GetHeader("Last-Modified"));
  }
  // An answer larger than its cap is no answer.
  std::string body = "untouched";
  EXPECT_FALSE(DownloadToString(platform::Narrow(Https("/gen/5000")), nullptr, &body, nullptr,
                                4096));
  EXPECT_EQ("untouched", body);
  EXPECT_TRUE(DownloadToString(platform::Narrow(Https("/gen/4096")), nullptr, &body, nullptr,
                               4096));
}

TEST(HttpDownloaderPublisherTest, ManyDownloadsLeaveNoHandleBehind) {
  StringSink warm_up(kMaxArchiveBytes);
  ASSERT_TRUE(Fetch(Https("/gen/1000"), warm_up).ok);
  Sleep(200);
  int before = CountOpenHandles();
  ASSERT_GT(before, 0);
  const char* paths[] = {"/gen/20000", "/f/status=404/gen/10", "/f/drop_after=5000/gen/20000",
                         "/f/redirect=2/gen/100", "/f/drop_after=5000,drop_mode=fin/gen/20000"};
  for (int i = 0; i < 40; ++i) {
    StringSink sink(kMaxArchiveBytes);
    Fetch(Https(paths[i % 5]), sink);
    std::string body;
    DownloadToString(platform::Narrow(Https("/gen/100")), nullptr, &body);
  }
  Sleep(200);
  // WinINet keeps a few pooled connections of its own; 80 downloads that each kept a handle
  // would show far above that.
  EXPECT_LE(CountOpenHandles(), before + 6);
}

}  // namespace
}  // namespace installer
