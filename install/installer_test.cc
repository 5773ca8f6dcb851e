#include "install/installer.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <jansson.h>

#include <string>
#include <vector>

#include "brand/brand_info.h"
#include "brand/distrib_info_params.h"
#include "brand/registry_values.h"
#include "build_config/endpoints.h"
#include "install/progress_listener.h"
#include "network/proxy_prompt.h"
#include "platform/command_line.h"
#include "platform/registry.h"
#include "platform/strings.h"
#include "platform/windows_version.h"
#include "tests/support/dialog_driver.h"
#include "tests/support/fake_internet_api.h"
#include "tests/support/faults.h"
#include "tests/support/proxied_internet_api.h"
#include "tests/support/publisher_log.h"
#include "tests/support/test_log.h"
#include "tests/support/test_paths.h"

namespace installer {
namespace {

using test_support::PublisherRequest;

std::string StandInPath(const wchar_t* variant) {
  return platform::Narrow(test_support::BuildFile(std::wstring(L"stand_in\\") + variant + L".exe"));
}

// Records every call the install flow makes to its listener.
class RecordingListener : public ProgressListener {
 public:
  void SetDownloadFraction(float fraction) override { fractions.push_back(fraction); }
  void OnLongDownload() override { ++long_download_notices; }
  void SetRemainingTime(uint32_t seconds, int32_t kind) override {
    times.push_back(platform::ToString(seconds) + " " + platform::ToString(kind));
  }
  void Finish() override { calls.push_back("finish"); }
  void ShowError(int32_t result_code) override {
    calls.push_back("error " + platform::ToString(result_code));
  }
  HWND WindowHandle() override { return window; }
  void SetPercent(int32_t percent) override {
    calls.push_back("percent " + platform::ToString(percent));
  }
  void RemoveCancelButton() override { calls.push_back("remove cancel"); }
  // The test's window lives on the thread that runs the flow: the prompt is shown at once.
  DWORD AskProxyCredentials(InternetApi* api, HINTERNET request, HANDLE stop_event) override {
    if (window == nullptr) return ERROR_NOT_SUPPORTED;
    ProxyPrompt prompt(api, request);
    prompt.Show(window);
    return prompt.Wait(stop_event, [] {});
  }

  HWND window = nullptr;
  std::vector<float> fractions;
  std::vector<std::string> times;  // "<seconds> <kind>"
  int long_download_notices = 0;
  std::vector<std::string> calls;
};

// One install flow against the fake publisher: a private log, work folder, registry key
// and setup URL; the stand-in setup program writes its report into the work folder.
class InstallerTest : public ::testing::Test {
 protected:
  InstallerTest()
      : marker_(test_support::UniqueMarker()),
        brand_(work_.path() + L"\\"),
        report_path_(work_.File(L"report.json")) {}

  void SetUp() override {
    key_path_ = L"Software\\LiteInstallerTests\\" + platform::Widen(marker_);
    SetBrowserRegistryKeyPathForTesting(key_path_);
    brand_.set_brand_id("zorvin");
    brand_.set_brand_name("zorvin");
    brand_.set_language("en");
    params_.SetParamsForTesting({{"zorvinuid", marker_}});
    SetEnvironmentVariableW(L"LI_STAND_IN_REPORT", report_path_.c_str());
    SetEnvironmentVariableW(L"LI_STAND_IN_WINDOW_MS", L"0");
    SetEnvironmentVariableW(L"LI_STAND_IN_EXIT_CODE", L"0");
    SetKeptArchiveFolderForTesting(kept_folder_);
  }

  void TearDown() override {
    SetKeptArchiveFolderForTesting(L"");
    RegDeleteTreeW(HKEY_CURRENT_USER, key_path_.c_str());
    SetBrowserRegistryKeyPathForTesting(L"");
  }

  // The archive URL: a path of this test only, answered with `variant` and the faults.
  void ServeArchive(const wchar_t* variant, const std::string& faults = "") {
    std::string fault_list =
        "file=" + StandInPath(variant) + (faults.empty() ? "" : "," + faults);
    archive_path_ = "/browser/" + marker_ + "/browser-setup.arc";
    brand_.set_setup_url(test_support::PublisherUrl(
        "/f/" + test_support::EscapeSegment(fault_list) + archive_path_));
  }

  // The archive URL answered by a script of responses, in order.
  void ScriptArchive(const std::vector<std::string>& responses) {
    archive_path_ = "/browser/" + marker_ + "/browser-setup.arc";
    std::string list;
    for (const std::string& response : responses) list += (list.empty() ? "" : ",") + response;
    ASSERT_TRUE(test_support::AddPublisherScript("{\"path\":\"" + archive_path_ +
                                                 "\",\"responses\":[" + list + "]}"));
    brand_.set_setup_url(test_support::PublisherUrl(archive_path_));
  }

  std::string FileResponse(const wchar_t* variant, const std::string& extra = "") {
    std::string path = StandInPath(variant);
    std::string escaped;
    for (char c : path) {
      if (c == '\\') escaped += '\\';
      escaped += c;
    }
    return "{\"file\":\"" + escaped + "\"" + (extra.empty() ? "" : "," + extra) + "}";
  }

  // The download status requests of this run, in order.
  std::vector<PublisherRequest> StatusRequests(size_t at_least) {
    return test_support::PublisherRequestsWith(marker_, at_least);
  }

  // The pings go out on their own thread: waits for this stage's, not for any of the test's.
  std::vector<PublisherRequest> StatisticsWith(const std::string& fragment, size_t at_least = 1) {
    std::vector<PublisherRequest> found;
    test_support::WaitUntil([&] {
      found.clear();
      for (const PublisherRequest& request :
           test_support::PublisherRequestsWithPath(marker_, 1, 0)) {
        if (request.path.find(fragment) != std::string::npos) found.push_back(request);
      }
      return found.size() >= at_least;
    }, 5000);
    return found;
  }

  bool ReportExists() { return !test_support::ReadFileBytes(report_path_).empty(); }

  // The switches the stand-in setup program received.
  std::map<std::string, std::string> ReportedSwitches() {
    std::map<std::string, std::string> switches;
    std::string text = test_support::ReadFileBytes(report_path_);
    json_t* root = json_loads(text.c_str(), 0, nullptr);
    const char* name;
    json_t* value;
    json_object_foreach(json_object_get(root, "switches"), name, value) {
      switches[name] = json_string_value(value) ? json_string_value(value) : "";
    }
    json_decref(root);
    return switches;
  }

  InstallerOptions Options(ProgressListener* listener = nullptr, bool install_tasks = false) {
    return {listener, &brand_, &params_, install_tasks, ProcessCommandLine()};
  }

  test_support::ScopedTestLog log_;
  test_support::ScopedTempDir work_;
  std::string marker_;
  std::wstring key_path_;
  BrandInfo brand_;
  DistribInfoParams params_;
  std::wstring report_path_;
  std::string archive_path_;
  std::wstring kept_folder_ = work_.File(L"kept");
};

TEST_F(InstallerTest, SilentRunDownloadsVerifiesAndRunsTheSetup) {
  ServeArchive(L"good");
  Installer installer(Options());
  installer.set_send_statistics(true);
  installer.RunSync();

  EXPECT_EQ(0, installer.result_code());
  ASSERT_TRUE(ReportExists()) << platform::Narrow(log_.Text());
  std::map<std::string, std::string> switches = ReportedSwitches();
  EXPECT_EQ("lite", switches["source"]);
  EXPECT_EQ("zorvin", switches["brand-name"]);
  EXPECT_EQ("0", switches["progress-window"]);
  EXPECT_TRUE(switches.count("verbose-logging"));
  EXPECT_TRUE(switches.count("send-statistics"));
  EXPECT_FALSE(switches.count("make-browser-default-after-import"));
  EXPECT_TRUE(switches.count("installerdata"));
  EXPECT_TRUE(switches.count("clids-file"));

  EXPECT_TRUE(log_.Contains(L"Try to download module:" + installer.archive_path()));
  EXPECT_TRUE(log_.Contains(L"Verification succeeded: " + installer.archive_path()));
  EXPECT_TRUE(log_.Contains(L"Setup process exit with code: SUCCESS_EXIT_CODE(0); error: 0"));
  // The archive is gone once the setup has ended.
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(installer.archive_path().c_str()));
  // After a success the hand-over values are removed; "lang" stays.
  EXPECT_TRUE(ReadStringFromRegistry("brand").empty());
  EXPECT_TRUE(ReadStringFromRegistry("InstallerData").empty());
  EXPECT_EQ(L"en", ReadStringFromRegistry("lang"));

  std::vector<PublisherRequest> status = StatusRequests(1);
  ASSERT_EQ(1u, status.size());
  EXPECT_EQ("/get/browser/install", status[0].path);
  EXPECT_EQ(0u, status[0].query.find("status=success&attempt=1&downloaded="));
  std::vector<PublisherRequest> finished =
      test_support::PublisherRequestsWith("ui=" + platform::Narrow(installer.run_id()) + "&result=");
  ASSERT_EQ(1u, finished.size());
  EXPECT_NE(std::string::npos, finished[0].query.find("&result=success&time="));

  for (const char* stage : {"action=installer_started", "action=download,", "stage=started",
                            "stage=finished", "stage=setup_exe_launched",
                            "stage=setup_exe_exited"}) {
    EXPECT_FALSE(StatisticsWith(stage).empty()) << stage;
  }
}

TEST_F(InstallerTest, SetupExitCodeBecomesTheResultCode) {
  SetEnvironmentVariableW(L"LI_STAND_IN_EXIT_CODE", L"3");
  ServeArchive(L"good");
  Installer installer(Options());
  installer.RunSync();
  EXPECT_EQ(3, installer.result_code());
  EXPECT_TRUE(log_.Contains(L"Setup process exit with code: SUCCESS_EXIT_CODE(0); error: 3"));
  // The setup ran to its end, so the hand-over values are cleaned up.
  EXPECT_TRUE(ReadStringFromRegistry("brand").empty());
  // Exit codes 1, 3 and 5 of a direct run carry no error key.
  std::vector<PublisherRequest> exited = StatisticsWith("stage=setup_exe_exited");
  ASSERT_EQ(1u, exited.size());
  EXPECT_EQ(std::string::npos, exited[0].path.find("-error="));
}

TEST_F(InstallerTest, ArchivesThatFailVerificationAreNeverRun) {
  for (const wchar_t* variant : {L"tampered", L"unlisted", L"unsigned", L"lookalike", L"expired",
                                 L"server_only", L"leaf_issuer"}) {
    SCOPED_TRACE(platform::Narrow(variant));
    marker_ = test_support::UniqueMarker();
    ServeArchive(variant);
    Installer installer(Options());
    installer.RunSync();
    EXPECT_EQ(402, installer.result_code());
    EXPECT_FALSE(ReportExists());
    EXPECT_TRUE(log_.Contains(L"Module verification failed: " + installer.archive_path()));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(installer.archive_path().c_str()));
    // A failed run leaves the hand-over values for a later attempt.
    EXPECT_EQ(L"zorvin", ReadStringFromRegistry("brand"));
  }
}

TEST_F(InstallerTest, FiveFailedAttemptsEndWith401) {
  ServeArchive(L"good", "status=500");
  Installer installer(Options());
  installer.SetAttemptPauseForTesting(0);
  installer.RunSync();

  EXPECT_EQ(401, installer.result_code());
  EXPECT_EQ(1, log_.CountLines(L"Max download attempts failed (5)"));
  EXPECT_TRUE(log_.Contains(L"Module was not downloaded: "));
  std::vector<PublisherRequest> status = StatusRequests(5);
  ASSERT_EQ(5u, status.size());
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(0u, status[i].query.find("status=failed&attempt=" + platform::ToString(i + 1) +
                                       "&downloaded=0&"))
        << status[i].query;
    EXPECT_NE(std::string::npos, status[i].query.find("&error=final_query_info-500-"))
        << status[i].query;
  }
  EXPECT_EQ(5u, StatisticsWith("stage=error", 5).size());
  EXPECT_FALSE(ReportExists());
}

// A cut mid-transfer costs only the bytes after it, however early it came: the next attempt
// asks for the rest, naming the version its bytes came from, and only the rest comes again.
// A server that ignores ranges, or whose archive changed meanwhile (another ETag), sends the
// whole file, which starts the archive over within that same attempt. Each installs. A
// second run takes up the bytes a first one kept, unless the archive changed.
TEST_F(InstallerTest, ACutCostsOnlyTheBytesAfterIt) {
  const uint64_t size = test_support::ReadFileBytes(platform::Widen(StandInPath(L"good"))).size();
  const std::string fin = ",\"drop_mode\":\"fin\"";
  const std::string cut50 = FileResponse(L"good", "\"drop_pct\":50" + fin);
  const std::string changed = FileResponse(L"good", "\"etag\":\"\\\"v2\\\"\"");
  struct Case {
    const char* name;
    std::string first, second;
    int percent;
    bool next_run;  // the cut ends the first run; a second one resumes
    bool whole;     // the resume is answered with the whole file
  } cases[] = {
      {"cut at 50 %", cut50, FileResponse(L"good"), 50, false, false},
      {"hard cut (reset) at 50 %", FileResponse(L"good", "\"drop_pct\":50,\"drop_mode\":\"rst\""),
       FileResponse(L"good"), 50, false, false},
      {"cut at 5 %", FileResponse(L"good", "\"drop_pct\":5" + fin), FileResponse(L"good"), 5,
       false, false},
      {"no ranges", cut50, FileResponse(L"good", "\"no_range\":true"), 50, false, true},
      {"changed", cut50, changed, 50, false, true},
      {"next run", cut50, FileResponse(L"good"), 50, true, false},
      {"next run, changed", cut50, changed, 50, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    marker_ = test_support::UniqueMarker();
    ScriptArchive({c.first, c.second});
    const uint64_t cut = size * c.percent / 100;
    const int resume_lines = log_.CountLines(L"Resume at ");
    if (c.next_run) {
      Installer first(Options());
      ASSERT_TRUE(first.Start());
      StatusRequests(1);
      first.Stop();
      EXPECT_EQ(401, first.result_code());
      EXPECT_EQ(cut, test_support::ReadFileBytes(first.archive_path()).size());
    }
    Installer installer(Options());
    installer.SetAttemptPauseForTesting(0);
    installer.RunSync();
    EXPECT_EQ(0, installer.result_code()) << platform::Narrow(log_.Text());

    std::vector<PublisherRequest> status = StatusRequests(2);
    ASSERT_EQ(2u, status.size());
    // After a reset the bytes in flight are lost: the rest starts where the kept ones end.
    uint64_t kept = cut;
    if (c.first.find("rst") != std::string::npos) {
      kept = strtoull(status[0].query.c_str() + status[0].query.find("downloaded=") + 11,
                      nullptr, 10);
      EXPECT_GT(kept, 0u);
      EXPECT_LE(kept, cut);
    }
    EXPECT_EQ(0u, status[0].query.find("status=failed&attempt=1&downloaded=" +
                                       platform::ToString(kept) + "&"));
    EXPECT_EQ(0u, status[1].query.find(c.next_run ? "status=success&attempt=1&"
                                                  : "status=success&attempt=2&"));
    EXPECT_NE(std::string::npos, status[1].query.find("&resume=resume-" +
                                                      std::string(c.whole ? "200-" : "206-") +
                                                      platform::ToString(kept)))
        << status[1].query;
    std::vector<PublisherRequest> fetched =
        test_support::PublisherRequestsWithPath(archive_path_, 2);
    ASSERT_EQ(2u, fetched.size());
    EXPECT_EQ(0u, fetched[0].headers.count("Range"));
    EXPECT_EQ(cut, static_cast<uint64_t>(fetched[0].bytes_sent));
    EXPECT_EQ("bytes=" + platform::ToString(kept) + "-", fetched[1].headers["Range"]);
    EXPECT_EQ(0u, fetched[1].headers["If-Range"].find('"'));
    EXPECT_EQ(c.whole ? 200 : 206, fetched[1].status);
    EXPECT_EQ(c.whole ? size : size - kept, static_cast<uint64_t>(fetched[1].bytes_sent));
    EXPECT_EQ(resume_lines + 1, log_.CountLines(L"Resume at "));
    EXPECT_TRUE(log_.Contains(L"Resume at " + platform::ToWString(kept) + L" of "));
    // A successful installation keeps nothing.
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(installer.archive_path().c_str()));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES,
              GetFileAttributesW((kept_folder_ + L"\\setup-archive.record").c_str()));
  }
}

// An archive that fails verification although it may be the download's fault (put together
// from two answers, or a body without a length that may have been cut) is fetched whole once
// more before the run ends with 402; any other is refused at once.
TEST_F(InstallerTest, AnArchiveTheDownloadMayHaveSpoiledIsFetchedOnceMore) {
  const std::string same_tag = "\"etag\":\"\\\"same\\\"\"";
  struct Case {
    const char* name;
    std::vector<std::string> responses;
    int32_t result;
    size_t requests;
  } cases[] = {
      {"spliced",
       {FileResponse(L"good", "\"drop_pct\":5,\"drop_mode\":\"fin\"," + same_tag),
        FileResponse(L"tampered", same_tag), FileResponse(L"good")},
       0, 3},
      {"no length", {FileResponse(L"tampered", "\"no_length\":true"), FileResponse(L"good")}, 0, 2},
      {"no length, twice",
       {FileResponse(L"tampered", "\"no_length\":true"), FileResponse(L"tampered", "\"no_length\":true")},
       402, 2},
      {"whole and announced", {FileResponse(L"tampered"), FileResponse(L"good")}, 402, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    marker_ = test_support::UniqueMarker();
    ScriptArchive(c.responses);
    Installer installer(Options());
    installer.SetAttemptPauseForTesting(0);
    installer.RunSync();
    EXPECT_EQ(c.result, installer.result_code());
    EXPECT_EQ(c.result == 0, ReportExists());
    Sleep(200);  // no request comes late
    std::vector<PublisherRequest> fetched = test_support::PublisherRequestsWithPath(archive_path_, 0);
    ASSERT_EQ(c.requests, fetched.size());
    EXPECT_EQ(0u, fetched.back().headers.count("Range"));  // the last one is a whole download
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(installer.archive_path().c_str()));
    DeleteFileW(report_path_.c_str());
  }
}

TEST_F(InstallerTest, StopDuringThePauseEndsWithoutAnotherAttempt) {
  ServeArchive(L"good", "status=404");
  Installer installer(Options());
  ASSERT_TRUE(installer.Start());
  installer.AllowInstall();
  ASSERT_EQ(1u, StatusRequests(1).size());
  DWORD before = GetTickCount();
  installer.Stop();
  EXPECT_LT(GetTickCount() - before, 10000u);
  EXPECT_EQ(401, installer.result_code());
  EXPECT_EQ(1, log_.CountLines(L"Max download attempts failed (5)"));
  Sleep(200);
  EXPECT_EQ(1u, StatusRequests(0).size());
  EXPECT_FALSE(ReportExists());
}

TEST_F(InstallerTest, StopBeforeConsentRunsNoSetupAndLeavesNoArchive) {
  ServeArchive(L"good");
  RecordingListener listener;
  Installer installer(Options(&listener));
  ASSERT_TRUE(installer.Start());
  // The download completes while the user still looks at the offer.
  ASSERT_EQ(1u, StatusRequests(1).size());
  for (int i = 0; i < 3000 && !log_.Contains(L"Module downloaded: "); ++i) Sleep(20);
  ASSERT_TRUE(log_.Contains(L"Module downloaded: ")) << platform::Narrow(log_.Text());
  installer.Stop();
  EXPECT_EQ(400, installer.result_code());
  EXPECT_TRUE(log_.Contains(L"Installation after download event isn't in signal state or "
                            L"installation was stopped early."));
  EXPECT_FALSE(ReportExists());
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(installer.archive_path().c_str()));
  // A stopped flow shows no error.
  for (const std::string& call : listener.calls) EXPECT_NE(0u, call.find("error"));
}

TEST_F(InstallerTest, ListenerHearsProgressAndTheEnd) {
  ServeArchive(L"good");
  RecordingListener listener;
  Installer installer(Options(&listener));
  installer.SetMessageWindowPollForTesting(10);
  installer.RunSync();
  EXPECT_EQ(0, installer.result_code());
  ASSERT_FALSE(listener.fractions.empty());
  EXPECT_EQ(0.0f, listener.fractions.front());
  EXPECT_EQ(1.0f, listener.fractions.back());
  std::vector<std::string> expected = {"percent 40", "remove cancel", "finish"};
  EXPECT_EQ(expected, listener.calls);
  // Every remaining time carries 240 s for the installation after the download ("no
  // estimate", all bits set, wraps around with it).
  ASSERT_FALSE(listener.times.empty());
  EXPECT_EQ("239 0", listener.times.front());
  EXPECT_EQ("240 2", listener.times.back());
}

// The browser's message-only window holds the finish until it is gone; a stop ends the wait.
TEST_F(InstallerTest, FinishWaitsForTheBrowsersMessageWindowUnlessStopped) {
  ServeArchive(L"good");
  SetEnvironmentVariableW(L"LI_STAND_IN_WINDOW_MS", L"1500");
  {
    RecordingListener listener;
    Installer installer(Options(&listener));
    installer.SetMessageWindowPollForTesting(200);
    installer.RunSync();
    EXPECT_EQ("finish", listener.calls.back());
    EXPECT_GE(log_.CountLines(L"The browser's message window is still there"), 1);
  }
  marker_ = test_support::UniqueMarker();
  ServeArchive(L"good");
  SetEnvironmentVariableW(L"LI_STAND_IN_WINDOW_MS", L"8000");
  {
    RecordingListener listener;
    Installer installer(Options(&listener));
    installer.SetMessageWindowPollForTesting(200);
    const int before = log_.CountLines(L"The browser's message window is still there");
    ASSERT_TRUE(installer.Start());
    installer.AllowInstall();
    ASSERT_TRUE(test_support::WaitUntil(
        [&] {
          return log_.CountLines(L"The browser's message window is still there") >= before + 2;
        },
        60000));
    installer.Stop();
    EXPECT_EQ(1, log_.CountLines(L"Stopped while the browser window was there."));
    EXPECT_EQ(0, std::count(listener.calls.begin(), listener.calls.end(), "finish"));
  }
  SetEnvironmentVariableW(L"LI_STAND_IN_WINDOW_MS", L"0");
}

// XP and Vista get the last setup built for them, from the download CDN, whatever the brand.
TEST_F(InstallerTest, XpAndVistaDownloadTheirOwnArchive) {
  for (int version_class : {platform::kWindowsXp, platform::kWindowsVista}) {
    SCOPED_TRACE(version_class);
    marker_ = test_support::UniqueMarker();
    ServeArchive(L"good");
    platform::WindowsVersionInfo version;
    version.version_class = version_class;
    platform::ScopedWindowsVersionForTesting scoped_version(version);
    Installer installer(Options());
    installer.SetAttemptPauseForTesting(0);
    installer.RunSync();
    EXPECT_TRUE(log_.Contains(L"Connection established: https://" +
                              platform::Widen(endpoints::kDownloadCdnHost) +
                              L"/browser-partners/_xp_builds/browser-setup.arc"))
        << log_.Text();
    EXPECT_FALSE(log_.Contains(L"Connection established: " + platform::Widen(brand_.setup_url())));
  }
}

// A fault inside WinINet's open ends the download at once: no second attempt and no status
// request; an old crypto provider's missing function is shown as 3, anything else as 2.
TEST_F(InstallerTest, ADownloadThatRaisesEndsWithoutRetryOrStatus) {
  struct Case {
    const char* name;
    std::function<void()> raise;
    const char* shown;
  };
  const Case kCases[] = {
      {"old crypto provider",
       [] { test_support::RaiseDelayLoadFailure("cplib.dll", "CryptoProRevocation", 0); },
       "error 3"},
      {"access violation", [] { test_support::WriteThroughNull(); }, "error 2"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    marker_ = test_support::UniqueMarker();
    const std::wstring url = L"https://fake.example/" + platform::Widen(marker_);
    brand_.set_setup_url(platform::Narrow(url));
    test_support::FakeInternetApi api;
    test_support::FakeResponse response;
    response.on_open = c.raise;
    api.SetResponse(url, response);
    RecordingListener listener;
    Installer installer(Options(&listener));
    installer.SetInternetApiForTesting(&api);
    installer.SetMessageWindowPollForTesting(10);
    installer.RunSync();
    EXPECT_EQ(401, installer.result_code());
    EXPECT_EQ(1u, api.opens.size());
    ASSERT_FALSE(listener.calls.empty());
    EXPECT_EQ(c.shown, listener.calls.front());
    EXPECT_TRUE(log_.Contains(L"ERROR: DownloadModule (")) << log_.Text();
    // The status requests of a run carry its archive URL, here the marker.
    Sleep(200);
    EXPECT_TRUE(StatusRequests(0).empty());
  }
}

// Each answer of the archive's server ends in its result. A resume is taken only as the rest
// of the same file, and the whole file starts it over at once; any other answer costs that
// attempt and the next one starts the file over. An answer past its cap, or a proxy's question for credentials, ends the attempts at
// once (the user is asked where there is a window). The archive is verified before it runs.
TEST_F(InstallerTest, EveryAnswerOfTheArchiveServerEndsInItsResult) {
  using test_support::FakeResponse;
  using test_support::ResumeAnswer;
  const std::string archive = test_support::ReadFileBytes(platform::Widen(StandInPath(L"good")));
  ASSERT_GT(archive.size(), 100000u);
  HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                nullptr, nullptr);
  FakeResponse whole;
  whole.body = archive;
  FakeResponse cut = whole;
  cut.fail_read_at = archive.size() / 2;
  cut.read_error = ERROR_INTERNET_CONNECTION_ABORTED;
  auto resumed = [&](ResumeAnswer answer, const std::string& body) {
    FakeResponse response;
    response.body = body;
    response.seekable = true;
    response.resume = answer;
    return response;
  };
  FakeResponse oversized = whole;
  oversized.announced_length = int64_t{2} << 30;
  FakeResponse proxied = whole;
  proxied.proxy_auth = true;
  FakeResponse unsatisfiable = whole;
  unsatisfiable.status = 416;
  FakeResponse unasked_part = whole;
  unasked_part.status = 206;
  const std::string cut_report = "status=failed&attempt=1&downloaded=" +
                                 platform::ToString(archive.size() / 2) + "&";
  auto success = [&](int attempt) {
    return "status=success&attempt=" + platform::ToString(attempt) +
           "&downloaded=" + platform::ToString(archive.size()) + "&";
  };
  const std::string refused = "status=failed&attempt=2&downloaded=0&";
  const std::string first_failed = "status=failed&attempt=1&downloaded=0&";
  struct Case {
    const char* name;
    std::vector<FakeResponse> responses;  // of successive attempts
    DWORD prompt;                         // the prompt's answer; 0: no window
    int32_t result;
    std::vector<std::string> reports;  // the start of each status request's query
    std::string error;                 // in the last failed one; "": none failed
  } cases[] = {
      {"206 at the offset", {cut, resumed(ResumeAnswer::kRange206, archive)}, 0, 0,
       {cut_report, success(2)}, "internet_read-12030"},
      {"206, unknown total", {cut, resumed(ResumeAnswer::kUnknownTotal206, archive)}, 0, 0,
       {cut_report, success(2)}, "internet_read-12030"},
      {"200 from byte 0", {cut, resumed(ResumeAnswer::kRestart200, archive)}, 0, 0,
       {cut_report, success(2)}, "internet_read-12030"},
      {"206 for another range", {cut, resumed(ResumeAnswer::kWrongRange206, archive), whole}, 0,
       0, {cut_report, refused, success(3)}, "resume_refused-12153"},
      {"the file changed", {cut, resumed(ResumeAnswer::kRange206, archive + "more"), whole}, 0,
       0, {cut_report, refused, success(3)}, "resume_refused-12153"},
      {"416 to the range", {cut, unsatisfiable, whole}, 0, 0, {cut_report, refused, success(3)},
       "final_query_info-416-"},
      {"206 without a range asked", {unasked_part, whole}, 0, 0, {first_failed, success(2)},
       "final_query_info-206-"},
      {"announces 2 GB", {oversized}, 0, 401, {first_failed}, "write_file-223"},
      {"proxy, silent", {proxied}, 0, 407, {first_failed}, "proxy_auth-407-12014"},
      {"proxy, prompt cancelled", {proxied}, ERROR_CANCELLED, 401, {first_failed},
       "proxy_auth-407-1223"},
      {"proxy, credentials given", {proxied}, ERROR_INTERNET_FORCE_RETRY, 0, {success(1)}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    marker_ = test_support::UniqueMarker();
    const std::wstring url = L"https://fake.example/" + platform::Widen(marker_);
    brand_.set_setup_url(platform::Narrow(url));
    test_support::FakeInternetApi api;
    api.error_dlg_answer = c.prompt;
    api.SetResponses(url, c.responses);
    RecordingListener listener;
    listener.window = window;
    Installer installer(Options(c.prompt != 0 ? &listener : nullptr));
    installer.SetInternetApiForTesting(&api);
    installer.SetAttemptPauseForTesting(0);
    installer.SetMessageWindowPollForTesting(10);
    installer.RunSync();
    EXPECT_EQ(c.result, installer.result_code()) << platform::Narrow(log_.Text());
    EXPECT_EQ(c.prompt != 0 ? 1 : 0, api.error_dlgs);
    // Only the attempt after the cut resumes.
    if (c.reports[0] == cut_report) {
      EXPECT_EQ(std::vector<LONG>{static_cast<LONG>(archive.size() / 2)}, api.ranges);
    }
    StatusRequests(c.reports.size());
    Sleep(200);  // and no more come
    std::vector<PublisherRequest> status = StatusRequests(0);
    ASSERT_EQ(c.reports.size(), status.size());
    std::string last_failed;
    for (size_t i = 0; i < status.size(); ++i) {
      EXPECT_EQ(0u, status[i].query.find(c.reports[i])) << status[i].query;
      if (status[i].query.find("status=failed") == 0) last_failed = status[i].query;
    }
    EXPECT_EQ(c.error.empty(), last_failed.empty());
    if (!c.error.empty()) {
      EXPECT_NE(std::string::npos, last_failed.find("&error=" + c.error)) << last_failed;
    }
    if (c.result == 407) {
      EXPECT_TRUE(log_.Contains(L"The proxy answered 407 Proxy Authentication Required "
                                L"(Proxy-Authenticate: Basic realm=\"fake proxy\") and no "
                                L"credentials can be asked for without a window: " + url))
          << platform::Narrow(log_.Text());
    }
  }
  DestroyWindow(window);
}

// A stop ends a download whose server never answers within seconds, whether WinINet gives
// the call back once its request is closed or keeps it: the minute of the stop is not needed.
TEST_F(InstallerTest, StopEndsADownloadThatHangsWithinSeconds) {
  for (bool close_honoured : {true, false}) {
    SCOPED_TRACE(close_honoured ? "close honoured" : "close ignored");
    marker_ = test_support::UniqueMarker();
    const std::wstring url = L"https://fake.example/" + platform::Widen(marker_);
    brand_.set_setup_url(platform::Narrow(url));
    test_support::FakeResponse response;
    response.hang_open = true;
    response.hang_ignores_close = !close_honoured;
    // Outlives the installer: a call left behind returns when the fake goes.
    test_support::FakeInternetApi api;
    api.SetResponse(url, response);
    DWORD took = 0;
    {
      Installer installer(Options());
      installer.SetInternetApiForTesting(&api);
      ASSERT_TRUE(installer.Start());
      // Stopped while the open hangs.
      ASSERT_TRUE(test_support::WaitUntil([&] { return api.hanging_calls() > 0; }, 20000));
      const DWORD start = GetTickCount();
      installer.Stop();
      took = GetTickCount() - start;
      EXPECT_EQ(401, installer.result_code());
    }
    EXPECT_LT(took, kCloseGraceMs + 3000);
    EXPECT_FALSE(log_.Contains(L"did not stop in time")) << platform::Narrow(log_.Text());
    EXPECT_EQ(!close_honoured, log_.Contains(L"it is left behind: " + url));
  }
}

// Servers that accept the connection and never answer: a silent install ends in bounded
// time with its documented result, whichever server does it (the status server's case runs
// the whole program: SilentInstallTest).
TEST_F(InstallerTest, SilentInstallEndsInBoundedTimeWhateverTheServersDo) {
  constexpr RequestBounds kArchiveBounds = {3000, 3000, 0};
  struct Case {
    const char* server;  // "seed", "configs" or "archive"
    int32_t result;
    DWORD limit_ms;  // a normal run takes a few seconds; five attempts of 3 s for the archive
  } cases[] = {{"seed", 0, 15000}, {"configs", 0, 15000}, {"archive", 401, 35000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.server);
    marker_ = test_support::UniqueMarker();
    brand_.set_brand_id(marker_);
    params_.SetParamsForTesting({{"zorvinuid", marker_}, {"vup", "1"}, {"scup", "1"}});
    const std::string server = c.server;
    ServeArchive(L"good", server == "archive" ? "never_answer" : "");
    brand_.set_variations_url(test_support::PublisherUrl(
        (server == "seed" ? "/f/never_answer" : "") +
        std::string("/content/get/experiments/browser.proto?m=") + marker_));
    if (server == "configs") {
      ASSERT_TRUE(test_support::AddPublisherScript(
          "{\"path\":\"/configs/all_zip\",\"query_contains\":\"" + marker_ +
          "\",\"responses\":[{\"never_answer\":true}],\"repeat_last\":true}"));
    }
    DeleteFileW(report_path_.c_str());
    const DWORD start = GetTickCount();
    int32_t result = 0;
    {
      Installer installer(Options(nullptr, true));
      installer.SetAttemptPauseForTesting(0);
      installer.SetRequestBoundsForTesting(kArchiveBounds, kStatusRequestBounds);
      installer.RunSync();
      result = installer.result_code();
    }
    EXPECT_LT(GetTickCount() - start, c.limit_ms);
    EXPECT_EQ(c.result, result) << platform::Narrow(log_.Text());
    EXPECT_EQ(c.result == 0, ReportExists());
  }
}

BOOL CALLBACK CollectEdits(HWND child, LPARAM list) {
  wchar_t name[16] = {};
  GetClassNameW(child, name, 16);
  if (_wcsicmp(name, L"Edit") == 0) reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
  return TRUE;
}

// Behind a proxy that asks for Basic credentials (the fake publisher's, for this installer's
// requests alone): a silent run ends with 407 and names the proxy's answer; with a window the
// system's prompt takes the credentials, and the archive comes through the proxy.
TEST_F(InstallerTest, AuthenticatingProxyIsAnsweredWithTheUsersCredentials) {
  std::string host = endpoints::kDownloadHost;
  const int port = std::stoi(host.substr(host.rfind(':') + 1));
  test_support::ProxiedInternetApi proxied(L"localhost:" + platform::ToWString(port + 5));
  HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                nullptr, nullptr);
  struct Case {
    const char* name;
    bool with_window;
  } cases[] = {{"silent", false}, {"with a window", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    marker_ = test_support::UniqueMarker();
    const std::string path = "/f/" + test_support::EscapeSegment("file=" + StandInPath(L"good")) +
                             "/browser/" + marker_ + "/browser-setup.arc";
    brand_.set_setup_url("http://localhost:" + platform::ToString(port + 1) + path);
    RecordingListener listener;
    listener.window = window;
    Installer installer(Options(c.with_window ? &listener : nullptr));
    installer.SetInternetApiForTesting(&proxied);
    installer.SetAttemptPauseForTesting(0);
    installer.SetMessageWindowPollForTesting(10);
    bool prompted = false;
    test_support::DriveDialog(
        [&] {
          installer.RunSync();
          return INT_PTR{0};
        },
        [&] {
          return c.with_window ? test_support::FindVisibleDialog(GetCurrentProcessId())
                               : nullptr;
        },
        [&](HWND dialog) {
          std::vector<HWND> edits;
          EnumChildWindows(dialog, &CollectEdits, reinterpret_cast<LPARAM>(&edits));
          ASSERT_GE(edits.size(), 2u);
          SetWindowTextW(edits[0], L"zorvin");
          SetWindowTextW(edits[1], L"proxy-pass");
          prompted = test_support::ClickButton(dialog, IDOK);
        });
    EXPECT_EQ(c.with_window, prompted);
    EXPECT_EQ(c.with_window ? 0 : 407, installer.result_code()) << platform::Narrow(log_.Text());
    EXPECT_EQ(c.with_window, ReportExists());
    // What the proxy saw of it: the question, then (with credentials) the request relayed.
    std::vector<PublisherRequest> seen =
        test_support::PublisherRequestsWithPath(marker_, c.with_window ? 3 : 1);
    int asked = 0, relayed = 0;
    for (const PublisherRequest& request : seen) {
      if (request.port == "proxy") ++(request.status == 407 ? asked : relayed);
    }
    EXPECT_GE(asked, 1);
    EXPECT_EQ(c.with_window ? 1 : 0, relayed);
    if (!c.with_window) {
      EXPECT_TRUE(log_.Contains(L"The proxy answered 407 Proxy Authentication Required "
                                L"(Proxy-Authenticate: Basic realm=\"fake proxy\")"))
          << platform::Narrow(log_.Text());
    }
  }
  DestroyWindow(window);
}

TEST_F(InstallerTest, FailureIsShownThroughTheListener) {
  brand_.set_setup_url("");
  RecordingListener listener;
  Installer installer(Options(&listener));
  installer.SetMessageWindowPollForTesting(10);
  installer.RunSync();
  EXPECT_EQ(401, installer.result_code());
  EXPECT_TRUE(log_.Contains(L"Setup url is empty."));
  ASSERT_FALSE(listener.calls.empty());
  EXPECT_EQ("error 2", listener.calls.front());
}

TEST_F(InstallerTest, CancelledRunSendsNoDownloadStatusButItsResult) {
  ServeArchive(L"good");
  Installer installer(Options());
  installer.IncrementCancelCounter();
  installer.RunSync();
  std::vector<PublisherRequest> finished =
      test_support::PublisherRequestsWith("ui=" + platform::Narrow(installer.run_id()) + "&result=");
  ASSERT_EQ(1u, finished.size());
  EXPECT_NE(std::string::npos, finished[0].query.find("&result=cancelled&"));
  EXPECT_TRUE(StatusRequests(0).empty());
}

// Checks, while the setup runs, that nobody can write the archive.
class LockProbingInstaller : public Installer {
 public:
  using Installer::Installer;
  bool RunModule(const std::wstring& archive_path, const CommandLine& command_line) override {
    HANDLE writer = CreateFileW(archive_path.c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    write_refused = writer == INVALID_HANDLE_VALUE;
    if (!write_refused) CloseHandle(writer);
    return Installer::RunModule(archive_path, command_line);
  }
  bool write_refused = false;
};

TEST_F(InstallerTest, ArchiveIsLockedAgainstWritersWhileTheSetupRuns) {
  struct Case {
    const char* permanent;
    bool without_reopen_file;  // as on XP: the lock reopens the archive by its path
  };
  for (const Case& c : {Case{"", false}, Case{"1", false}, Case{"1", true}}) {
    const char* permanent = c.permanent;
    SCOPED_TRACE(std::string(permanent) + (c.without_reopen_file ? " without ReOpenFile" : ""));
    SetReOpenFileMissingForTesting(c.without_reopen_file);
    marker_ = test_support::UniqueMarker();
    ServeArchive(L"good");
    DistribInfoParams::ParamMap map = {{"zorvinuid", marker_}};
    if (*permanent) map["setup_arc_permanent_lock"] = permanent;
    params_.SetParamsForTesting(map);
    LockProbingInstaller installer(Options());
    installer.RunSync();
    SetReOpenFileMissingForTesting(false);
    EXPECT_EQ(0, installer.result_code());
    EXPECT_TRUE(installer.write_refused);
  }
}

}  // namespace
}  // namespace installer
