#include "stats/status_report.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "build_config/endpoints.h"
#include "platform/strings.h"

namespace installer {
namespace {

const wchar_t kUi[] = L"6f1c2a9e-3b4d-4e5f-8a7b-0c1d2e3f4a5b";

std::wstring Base() {
  return L"https://" + platform::Widen(endpoints::kStatusHost) + L"/get/browser/install";
}

TEST(StatusReportTest, BaseUrlIsTheInstallPathOnTheStatusHost) {
  EXPECT_EQ(Base(), StatusBaseUrl());
  EXPECT_EQ(0u, StatusBaseUrl().find(L"https://"));
}

struct DownloadCase {
  const char* name;
  DownloadAttempt attempt;
  const wchar_t* query;         // expected URL after the base
  const wchar_t* event_error;   // nullptr: no failure event
};

TEST(StatusReportTest, DownloadStatusUrlAndFailureEvent) {
  const DownloadCase kCases[] = {
      {"success with redirect",
       {true, L"https://dl.example.test/browser/zorvin/browser-setup.arc", 1, 1048576, L"",
        L"https://cdn.example.test/a/browser-setup.arc"},
       L"?status=success&attempt=1&downloaded=1048576&ui=%UI%"
       L"&url=https:%2F%2Fdl.example.test%2Fbrowser%2Fzorvin%2Fbrowser-setup.arc"
       L"&redirect=cdn.example.test",
       nullptr},
      {"attempt 0 omits attempt",
       {false, L"u", 0, 0, L"internet_read-12002", L""},
       L"?status=failed&downloaded=0&ui=%UI%&url=u&error=internet_read-12002",
       L"attempt-0-internet_read-12002"},
      {"empty error omits error",
       {false, L"u", 2, 512, L"", L""},
       L"?status=failed&attempt=2&downloaded=512&ui=%UI%&url=u",
       L"attempt-2-"},
      {"invalid final url omits redirect",
       {false, L"u", 3, 7, L"x", L"not a url"},
       L"?status=failed&attempt=3&downloaded=7&ui=%UI%&url=u&error=x",
       L"attempt-3-x"},
      {"empty url omits url",
       {false, L"", 1, 4294967295u, L"bad status 404?", L""},
       L"?status=failed&attempt=1&downloaded=4294967295&ui=%UI%&error=bad%20status%20404%3F",
       L"attempt-1-bad status 404?"},
      {"negative attempt kept signed",
       {false, L"u", -1, 0, L"e", L""},
       L"?status=failed&attempt=-1&downloaded=0&ui=%UI%&url=u&error=e",
       L"attempt--1-e"},
  };
  StatusData data;
  data.ui = kUi;
  for (const DownloadCase& c : kCases) {
    std::wstring query = c.query;
    query.replace(query.find(L"%UI%"), 4, kUi);
    EXPECT_EQ(Base() + query, DownloadStatusUrl(data, c.attempt)) << c.name;

    InstallEvent event = {{"sentinel", L"kept"}};
    bool emitted = DownloadFailureEvent(data, c.attempt, &event);
    if (c.event_error == nullptr) {
      EXPECT_FALSE(emitted) << c.name;
      EXPECT_EQ((InstallEvent{{"sentinel", L"kept"}}), event) << c.name;
    } else {
      ASSERT_TRUE(emitted) << c.name;
      EXPECT_EQ((InstallEvent{{"action", L"download"}, {"error", c.event_error},
                              {"stage", L"error"}}),
                event)
          << c.name;
    }
  }
}

TEST(StatusReportTest, CancelledRunReportsNoDownloadStatusAndNoEvent) {
  StatusData data;
  data.ui = kUi;
  data.cancel_count = 1;
  DownloadAttempt attempt{false, L"u", 1, 10, L"e", L""};
  EXPECT_EQ(L"", DownloadStatusUrl(data, attempt));
  InstallEvent event;
  EXPECT_FALSE(DownloadFailureEvent(data, attempt, &event));
  EXPECT_TRUE(event.empty());
}

TEST(StatusReportTest, ErrorAndUrlEscapingCoversReservedAndNonAsciiText) {
  StatusData data;
  data.ui = kUi;
  DownloadAttempt attempt{false, L"https://h/p?q=1#f", 1, 0,
                          L"\x041E\x0448\x0438\x0431\x043A\x0430 #5", L"https://h/p"};
  std::wstring url = DownloadStatusUrl(data, attempt);
  EXPECT_NE(std::wstring::npos, url.find(L"&url=https:%2F%2Fh%2Fp%3Fq=1%23f&redirect=h&"));
  EXPECT_NE(std::wstring::npos,
            url.find(L"&error=%D0%9E%D1%88%D0%B8%D0%B1%D0%BA%D0%B0%20%235"));
  // The raw text goes into the event unchanged.
  InstallEvent event;
  ASSERT_TRUE(DownloadFailureEvent(data, attempt, &event));
  EXPECT_EQ(L"attempt-1-\x041E\x0448\x0438\x0431\x043A\x0430 #5", event["error"]);
}

struct FinishedCase {
  const char* name;
  int32_t cancel_count;
  bool success;
  int64_t total_us;
  int64_t download_us;
  int64_t install_us;
  const wchar_t* tail;  // after "?ui=<ui>"
};

TEST(StatusReportTest, InstallationFinishedUrl) {
  const int64_t kMax = std::numeric_limits<int64_t>::max();
  const FinishedCase kCases[] = {
      {"nothing measured", 0, false, 0, 0, 0, L"&result=failed&time=0"},
      {"success", 0, true, 61500000, 12000000, 40999999,
       L"&result=success&time=61&download_time=12&install_time=40"},
      {"sub-second durations are sent as 0", 0, true, 999999, 1, 999999,
       L"&result=success&time=0&download_time=0&install_time=0"},
      {"only download measured", 0, false, 0, 2000000, 0, L"&result=failed&time=0&download_time=2"},
      {"only install measured", 0, true, 3000000, 0, 3000000,
       L"&result=success&time=3&install_time=3"},
      {"cancelled beats success", 1, true, 5000000, 0, 0, L"&result=cancelled&time=5"},
      {"cancelled beats failure", 3, false, 0, 0, 0, L"&result=cancelled&time=0"},
      {"unbounded stays maximal", 0, true, kMax, kMax, 0,
       L"&result=success&time=9223372036854775807&download_time=9223372036854775807"},
  };
  for (const FinishedCase& c : kCases) {
    StatusData data;
    data.ui = kUi;
    data.cancel_count = c.cancel_count;
    data.total_time_us = c.total_us;
    data.download_time_us = c.download_us;
    data.install_time_us = c.install_us;
    EXPECT_EQ(Base() + L"?ui=" + kUi + c.tail, InstallationFinishedUrl(data, c.success))
        << c.name;
  }
}

TEST(StatusReportTest, EmptyUiIsSentAsEmptyValue) {
  StatusData data;
  EXPECT_EQ(Base() + L"?ui=&result=success&time=0", InstallationFinishedUrl(data, true));
  EXPECT_EQ(Base() + L"?status=success&downloaded=0&ui=",
            DownloadStatusUrl(data, DownloadAttempt{true, L"", 0, 0, L"", L""}));
}

struct ExitCase {
  bool started;
  bool setup_ran;
  int32_t code;
  const wchar_t* error;  // nullptr: no error key
};

TEST(StatusReportTest, SetupExitErrorRules) {
  const ExitCase kCases[] = {
      {false, true, 0, L"FailedToStart"},
      {false, false, 400, L"FailedToStart"},
      {true, false, 400, nullptr},
      {true, false, 0, L"0"},
      {true, false, 1, L"1"},
      {true, false, 3, L"3"},
      {true, true, 0, L"0"},
      {true, true, 1, nullptr},
      {true, true, 3, nullptr},
      {true, true, 5, nullptr},
      {true, true, 2, L"2"},
      {true, true, 4, L"4"},
      {true, true, 400, L"400"},
      {true, true, -1, L"-1"},
      {true, true, static_cast<int32_t>(0xC0000005u), L"-1073741819"},
  };
  for (const ExitCase& c : kCases) {
    std::wstring error = L"untouched";
    bool has_error = SetupExitError(c.started, c.setup_ran, c.code, &error);
    SCOPED_TRACE(testing::Message() << c.started << c.setup_ran << " " << c.code);
    if (c.error == nullptr) {
      EXPECT_FALSE(has_error);
      EXPECT_EQ(L"untouched", error);
    } else {
      EXPECT_TRUE(has_error);
      EXPECT_EQ(c.error, error);
    }
  }
}

TEST(StatusReportTest, SetupExitedEventCarriesActionErrorAndTime) {
  EXPECT_EQ((InstallEvent{{"action", L"setup"}, {"error", L"0"}, {"setup_time", L"42"},
                          {"stage", L"setup_exe_exited"}}),
            SetupExitedEvent(false, true, true, 0, 42900000));
  EXPECT_EQ((InstallEvent{{"action", L"update"}, {"setup_time", L"0"},
                          {"stage", L"setup_exe_exited"}}),
            SetupExitedEvent(true, true, false, 400, 0));
  EXPECT_EQ((InstallEvent{{"action", L"update"}, {"error", L"FailedToStart"},
                          {"setup_time", L"0"}, {"stage", L"setup_exe_exited"}}),
            SetupExitedEvent(true, false, true, 400, 10));
}

TEST(StatusReportTest, UacValueAndLaunchEvent) {
  const struct {
    bool notifications;
    bool elevated;
    const wchar_t* value;
  } kCases[] = {
      {false, false, L"100"}, {false, true, L"100"}, {true, true, L"1"}, {true, false, L"0"}};
  for (const auto& c : kCases) {
    EXPECT_EQ(c.value, UacValue(c.notifications, c.elevated))
        << c.notifications << c.elevated;
  }
  EXPECT_EQ((InstallEvent{{"action", L"setup"}, {"stage", L"setup_exe_launched"},
                          {"uac", L"100"}}),
            SetupLaunchedEvent(false, L"100"));
  EXPECT_EQ((InstallEvent{{"action", L"update"}, {"stage", L"setup_exe_launched"},
                          {"uac", L"1"}}),
            SetupLaunchedEvent(true, L"1"));
}

TEST(StatusReportTest, FixedEvents) {
  const struct {
    const char* name;
    InstallEvent event;
    InstallEvent expected;
  } kCases[] = {
      {"started", InstallerStartedEvent(), {{"action", L"installer_started"}}},
      {"download started", DownloadStartedEvent(),
       {{"action", L"download"}, {"stage", L"started"}}},
      {"download finished", DownloadFinishedEvent(2999999),
       {{"action", L"download"}, {"download_time", L"2"}, {"stage", L"finished"}}},
      {"lock", SetupArcLockErrorEvent(), {{"action", L"setup_arc_lock"}, {"stage", L"error"}}},
      {"verification", VerificationErrorEvent(),
       {{"action", L"verification"}, {"stage", L"error"}}},
      {"button", InstallButtonClickedEvent(), {{"action", L"install_browser_button_clicked"}}},
  };
  for (const auto& c : kCases) EXPECT_EQ(c.expected, c.event) << c.name;
}

}  // namespace
}  // namespace installer
